// torvane: the firmware updater's window on Linux.
#include "platform/stop_signals.h"
#include "qt/desktop_app.h"

int main(int argc, char** argv) {
    // Before any thread starts: each keeps the signals blocked.
    torvane::TakeStopSignals();
    return torvane::qt::RunDesktop(argc, argv);
}
