// torvane-cli: the firmware updater for the terminal.
#include <cstdio>
#include <iostream>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_main.h"
#include "platform/stop_signals.h"

int main(int argc, char** argv) {
    // Before any thread starts: each keeps the signals blocked.
    torvane::TakeStopSignals();
#if defined(_WIN32)
    const bool terminal = _isatty(_fileno(stdout)) != 0;
#else
    const bool terminal = isatty(fileno(stdout)) != 0;
#endif
    return torvane::cli::RunCli(argc, argv, std::cout, std::cerr, terminal);
}
