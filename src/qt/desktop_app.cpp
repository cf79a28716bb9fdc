#include "qt/desktop_app.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/linux/interface_access.h"
#include "protocol/family.h"
#include "protocol/report_log.h"
#include "qt/main_window.h"
#include "sim/device_list_grammar.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"

namespace torvane::qt {
namespace {

constexpr char kUsage[] =
    "usage: torvane [--simulate[=DEVICES]] [--virtual-time] [--report-log FILE] [--version]";

// The lock that exists while a copy runs, in the user's runtime directory. A lock left by a
// copy that died is taken over: its process is gone.
std::unique_ptr<QLockFile> TakeSingleInstanceLock() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    auto lock = std::make_unique<QLockFile>(QDir(dir).filePath(QStringLiteral("torvane.lock")));
    // Never stale by age: the first copy may run for days.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        return nullptr;
    }
    return lock;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "torvane: %s\n%s\n", message.c_str(), kUsage);
    return 2;
}

}  // namespace

bool ParseDesktopOptions(const std::vector<std::string>& args, DesktopOptions& options,
                         std::string& error) {
    constexpr std::string_view kSimulate = "--simulate=";
    constexpr std::string_view kReportLog = "--report-log=";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--simulate") {
            options.simulate = "";
        } else if (arg.starts_with(kSimulate)) {
            options.simulate = arg.substr(kSimulate.size());
        } else if (arg == "--virtual-time") {
            options.virtualTime = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--report-log") {
            if (i + 1 == args.size()) {
                error = "--report-log needs a file";
                return false;
            }
            options.reportLog = args[++i];
        } else if (arg.starts_with(kReportLog)) {
            options.reportLog = arg.substr(kReportLog.size());
            if (options.reportLog.empty()) {
                error = "--report-log needs a file";
                return false;
            }
        }
    }
    if (options.virtualTime && !options.simulate) {
        error = "--virtual-time needs --simulate";
        return false;
    }
    return true;
}

int RunDesktop(int argc, char** argv) {
    DesktopOptions options;
    std::string error;
    if (!ParseDesktopOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        return Fail(error);
    }
    if (options.version) {
        std::printf("torvane %s\n", TORVANE_VERSION);
        return 0;
    }
    const std::unique_ptr<QLockFile> lock = TakeSingleInstanceLock();
    if (!lock) {
        return 0;
    }

    std::unique_ptr<sim::VirtualClock> virtualClock;
    Clock* clock = &SystemClock();
    if (options.virtualTime) {
        virtualClock = std::make_unique<sim::VirtualClock>();
        clock = virtualClock.get();
    }
    std::unique_ptr<sim::SimulatedFamily> simulated;
    DeviceInterfaces* interfaces = &SystemDeviceInterfaces();
    HidClass* hid = &SystemHidClass();
    if (options.simulate) {
        auto devices = sim::ParseDeviceSpecs(*options.simulate, error);
        if (!devices) {
            return Fail("--simulate: " + error);
        }
        simulated = virtualClock
                        ? std::make_unique<sim::SimulatedFamily>(std::move(*devices), *virtualClock)
                        : std::make_unique<sim::SimulatedFamily>(std::move(*devices));
        interfaces = &simulated->interfaces();
        hid = &simulated->hid();
    }
    std::ofstream logFile;
    std::unique_ptr<ReportLog> log;
    if (!options.reportLog.empty()) {
        logFile.open(options.reportLog, std::ios::binary | std::ios::trunc);
        if (!logFile) {
            return Fail("cannot write '" + options.reportLog + "': " + std::strerror(errno));
        }
        log = std::make_unique<ReportLog>(*hid, *clock, logFile);
        hid = log.get();
    }

    QApplication application(argc, argv);
    MainWindow window(*interfaces, *hid, *clock);
    // On the system's devices, an empty status line says what keeps them from being used.
    if (!simulated) {
        window.SetAccessHint([] {
            return linux_hid::UnusableInterfaceHint(family::kVendorId, family::kInputReportId);
        });
    }
    // The window's modal loop is the program's life, as on Windows.
    window.OnInitDialog();
    window.exec();
    return 0;
}

}  // namespace torvane::qt
