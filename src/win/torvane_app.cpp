#include "win/torvane_app.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "system/device_system.h"
#include "win/main_dialog.h"

namespace torvane::win {
namespace {

struct Arguments {
    std::optional<std::string> simulate;
    bool virtualTime = false;
    std::optional<std::string> reportLog;
    bool version = false;
};

constexpr char kUsage[] =
    "Usage: torvane.exe [--simulate[=DEVICES]] [--virtual-time] [--report-log FILE] [--version]";

// The program's own options are the simulator's, --report-log FILE and --version; anything else
// (a file dropped on the program, a shortcut's argument) is ignored. False and a reason when the
// options do not go together.
bool ParseArguments(const std::vector<std::string>& args, Arguments& parsed, std::string& error) {
    constexpr std::string_view kSimulate = "--simulate";
    constexpr std::string_view kReportLog = "--report-log";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == kSimulate) {
            parsed.simulate = "";
        } else if (arg.rfind("--simulate=", 0) == 0) {
            parsed.simulate = arg.substr(kSimulate.size() + 1);
        } else if (arg == "--virtual-time") {
            parsed.virtualTime = true;
        } else if (arg == kReportLog && i + 1 < args.size()) {
            parsed.reportLog = args[++i];
        } else if (arg == kReportLog || arg.rfind("--report-log=", 0) == 0) {
            parsed.reportLog = arg.substr(std::min(arg.size(), kReportLog.size() + 1));
        } else if (arg == "--version") {
            parsed.version = true;
        }
    }
    if (parsed.virtualTime && !parsed.simulate) {
        error = "--virtual-time needs --simulate";
        return false;
    }
    if (parsed.reportLog && parsed.reportLog->empty()) {
        error = "--report-log needs a FILE";
        return false;
    }
    return true;
}

// A window program has no console of its own. The text goes to the standard output it was given
// (a pipe, a file, or under Wine the terminal it was started from), else to the console of the
// program that started it, else into a message box.
void PrintOrShow(const std::string& text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE console = INVALID_HANDLE_VALUE;
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        console = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
        out = console;
    }
    DWORD written = 0;
    const bool printed =
        out != nullptr && out != INVALID_HANDLE_VALUE &&
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    if (console != INVALID_HANDLE_VALUE) {
        ::CloseHandle(console);
    }
    if (!printed) {
        ::MessageBoxA(nullptr, text.c_str(), "Torvane", MB_OK);
    }
}

}  // namespace

CTorvaneApp::CTorvaneApp(HINSTANCE instance, std::vector<std::string> args)
    : instance_(instance), args_(std::move(args)) {}

bool CTorvaneApp::InitInstance() {
    Arguments arguments;
    std::string error;
    const bool usable = ParseArguments(args_, arguments, error);
    // --version answers without a window, and whether or not another copy runs.
    if (usable && arguments.version) {
        PrintOrShow("torvane " TORVANE_VERSION "\n");
        return false;
    }

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    singleInstanceMutex_ = ::CreateMutexA(nullptr, FALSE, kSingleInstanceMutexName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }

    if (!usable) {
        ::MessageBoxA(nullptr, (error + "\n\n" + kUsage).c_str(), "Torvane", MB_OK);
        exitCode_ = 2;
        return false;
    }
    const std::unique_ptr<DeviceSystem> system =
        DeviceSystem::Create(arguments.simulate, arguments.virtualTime, error);
    if (!system) {
        ::MessageBoxA(nullptr, error.c_str(), "Torvane", MB_OK);
        exitCode_ = 2;
        return false;
    }
    if (arguments.reportLog && !system->LogReportsTo(*arguments.reportLog, error)) {
        ::MessageBoxA(nullptr, ("--report-log: " + error).c_str(), "Torvane", MB_OK);
        exitCode_ = 1;
        return false;
    }
    // Without a log file the session's reports are kept in memory, to be saved from the menu.
    if (!arguments.reportLog) {
        system->KeepReportsInMemory();
    }
    SessionReports reports(system->log(), system->memory(), arguments.reportLog.value_or(""));
    MainDialog dialog(instance_, system->interfaces(), system->hid(), system->clock(),
                      system->locks());
    dialog.SetSessionReports(reports);
    dialog.DoModal();
    return false;
}

int CTorvaneApp::ExitInstance() {
    ::CloseHandle(singleInstanceMutex_);
    return exitCode_;
}

}  // namespace torvane::win
