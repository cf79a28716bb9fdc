// Requests from outside the program to stop: Ctrl-C, and a termination (SIGTERM or SIGHUP; on
// Windows Ctrl-Break, the console closing, a log-off or a shut-down). They are taken by one thread
// of their own, so that no signal handler ever runs in the middle of a thread's exchange with a
// device; what a request does is the handler's, set by the command that runs.
#pragma once

#include <functional>

namespace torvane {

enum class StopSignal { kInterrupt, kTerminate };

// Takes the stop signals on a thread of their own from now on; every other thread has them
// blocked: call it first in main, before any other thread starts, since threads keep the mask of
// the thread that started them. Until a handler is set, a stop signal ends the program as it
// would without this. A signal the program was started with as ignored stays ignored.
void TakeStopSignals();

// The handler of the signals taken, called on the signal thread with the handler's lock held:
// it must not set the handler itself. Once this returns, the handler it replaced runs no more.
// An empty handler lets a signal end the program again.
void SetStopHandler(std::function<void(StopSignal)> handler);

}  // namespace torvane
