#include "platform/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <thread>

namespace torvane {
namespace {

std::mutex handlerLock;  // guards handler, and a call of it against its replacement
std::function<void(StopSignal)> handler;

void TakeSignals(sigset_t taken) {
    for (;;) {
        int signal = 0;
        if (::sigwait(&taken, &signal) != 0) {
            continue;
        }
        {
            std::lock_guard lock(handlerLock);
            if (handler) {
                handler(signal == SIGINT ? StopSignal::kInterrupt : StopSignal::kTerminate);
                continue;
            }
        }
        // No one takes it: the program ends by it, as it would have without this thread.
        ::signal(signal, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(signal);
    }
}

}  // namespace

void TakeStopSignals() {
    sigset_t taken;
    sigemptyset(&taken);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&taken, signal);
        }
    }
    ::pthread_sigmask(SIG_BLOCK, &taken, nullptr);
    std::thread(TakeSignals, taken).detach();
}

void SetStopHandler(std::function<void(StopSignal)> next) {
    std::lock_guard lock(handlerLock);
    handler = std::move(next);
}

}  // namespace torvane
