#include "platform/stop_signals.h"

#include <windows.h>

#include <mutex>

namespace torvane {
namespace {

std::mutex handlerLock;  // guards handler, and a call of it against its replacement
std::function<void(StopSignal)> handler;

// The system calls this on a thread it starts for each console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    std::lock_guard lock(handlerLock);
    if (!handler) {
        return FALSE;  // the next handler, in the end the system's: the program ends
    }
    handler(event == CTRL_C_EVENT ? StopSignal::kInterrupt : StopSignal::kTerminate);
    return TRUE;
}

}  // namespace

void TakeStopSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void SetStopHandler(std::function<void(StopSignal)> next) {
    std::lock_guard lock(handlerLock);
    handler = std::move(next);
}

}  // namespace torvane
