// The application: one copy per logon session, the common controls, and the main dialog as the
// whole life of the program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace torvane::win {

// The single-instance mutex: a GUID's values written as a C initialiser list, in the session's
// own namespace.
inline constexpr char kSingleInstanceMutexName[] =
    "0x7d41a3e2, 0x5c0f, 0x4b8e, 0xa1, 0x36, 0x9e, 0x54, 0x2b, 0xd8, 0x71, 0x0c";

class CTorvaneApp {
public:
    // args: the arguments after the program name. Without --simulate[=DEVICES] the system's
    // devices are used; with it (and --virtual-time) the simulated device family. --report-log
    // FILE writes every report exchanged with a device to FILE; without it the session's reports
    // are kept in memory for the system menu's "Save report log…". --version prints the version
    // and opens no window. Every other argument is ignored.
    CTorvaneApp(HINSTANCE instance, std::vector<std::string> args);

    // Runs the program; false, as the dialog's end is the program's end. A second copy ends here
    // at once, silently.
    bool InitInstance();
    // Closes the single-instance mutex; the exit code.
    int ExitInstance();

private:
    HINSTANCE instance_;
    std::vector<std::string> args_;
    HANDLE singleInstanceMutex_ = nullptr;
    int exitCode_ = 0;
};

}  // namespace torvane::win
