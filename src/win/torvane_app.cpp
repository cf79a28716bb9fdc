#include "win/torvane_app.h"

#include <commctrl.h>

#include <memory>
#include <optional>

#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "sim/device_list_grammar.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "win/main_dialog.h"

namespace torvane::win {
namespace {

struct Arguments {
    std::optional<std::string> simulate;
    bool virtualTime = false;
};

// The program takes no arguments of its own: only the simulator's options count, and anything
// else (a file dropped on the program, a shortcut's argument) is ignored. False and a reason
// when the simulator's options do not go together.
bool ParseArguments(const std::vector<std::string>& args, Arguments& parsed, std::string& error) {
    constexpr std::string_view kSimulate = "--simulate";
    for (const std::string& arg : args) {
        if (arg == kSimulate) {
            parsed.simulate = "";
        } else if (arg.rfind("--simulate=", 0) == 0) {
            parsed.simulate = arg.substr(kSimulate.size() + 1);
        } else if (arg == "--virtual-time") {
            parsed.virtualTime = true;
        }
    }
    if (parsed.virtualTime && !parsed.simulate) {
        error = "--virtual-time needs --simulate";
        return false;
    }
    return true;
}

}  // namespace

CTorvaneApp::CTorvaneApp(HINSTANCE instance, std::vector<std::string> args)
    : instance_(instance), args_(std::move(args)) {}

bool CTorvaneApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    singleInstanceMutex_ = ::CreateMutexA(nullptr, FALSE, kSingleInstanceMutexName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }

    Arguments arguments;
    std::string error;
    if (!ParseArguments(args_, arguments, error)) {
        ::MessageBoxA(
            nullptr,
            (error + "\n\nUsage: torvane.exe [--simulate[=DEVICES]] [--virtual-time]").c_str(),
            "Torvane", MB_OK);
        exitCode_ = 2;
        return false;
    }
    std::unique_ptr<sim::VirtualClock> virtualClock;
    Clock* clock = &SystemClock();
    if (arguments.virtualTime) {
        virtualClock = std::make_unique<sim::VirtualClock>();
        clock = virtualClock.get();
    }
    std::unique_ptr<sim::SimulatedFamily> family;
    DeviceInterfaces* interfaces = &SystemDeviceInterfaces();
    HidClass* hid = &SystemHidClass();
    if (arguments.simulate) {
        auto devices = sim::ParseDeviceSpecs(*arguments.simulate, error);
        if (!devices) {
            ::MessageBoxA(nullptr, ("--simulate: " + error).c_str(), "Torvane", MB_OK);
            exitCode_ = 2;
            return false;
        }
        family = virtualClock
                     ? std::make_unique<sim::SimulatedFamily>(std::move(*devices), *virtualClock)
                     : std::make_unique<sim::SimulatedFamily>(std::move(*devices));
        interfaces = &family->interfaces();
        hid = &family->hid();
    }
    MainDialog dialog(instance_, *interfaces, *hid, *clock);
    dialog.DoModal();
    return false;
}

int CTorvaneApp::ExitInstance() {
    ::CloseHandle(singleInstanceMutex_);
    return exitCode_;
}

}  // namespace torvane::win
