#include "qt/desktop_app.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <stop_token>

#include "app/session_reports.h"
#include "platform/stop_signals.h"
#include "protocol/family.h"
#include "qt/main_window.h"
#include "system/access_findings.h"
#include "system/device_system.h"

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

// Closes the window now, or once its update is over.
void CloseWhenIdle(MainWindow& window) {
    if (window.engine().CanClose()) {
        window.reject();
    } else {
        QTimer::singleShot(100, &window, [&window] { CloseWhenIdle(window); });
    }
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

    const std::unique_ptr<DeviceSystem> system =
        DeviceSystem::Create(options.simulate, options.virtualTime, error);
    if (!system ||
        (!options.reportLog.empty() && !system->LogReportsTo(options.reportLog, error))) {
        return Fail(error);
    }

    // Without a log file, the window keeps the session's reports for its menu to save.
    if (options.reportLog.empty()) {
        system->KeepReportsInMemory();
    }
    SessionReports reports(system->log(), system->memory(), options.reportLog);

    QApplication application(argc, argv);
    MainWindow window(system->interfaces(), system->hid(), system->clock(), system->locks());
    window.SetSessionReports(reports);
    if (std::unique_ptr<DeviceArrivals> arrivals = system->WatchArrivals(error)) {
        window.FollowArrivals(std::move(arrivals));
    } else {
        std::fprintf(stderr, "torvane: %s; the list changes on Scan only\n", error.c_str());
    }
    // On the system's devices, an empty status line says what keeps them from being used.
    if (!system->family()) {
        window.SetAccessHint(
            [] { return UnusableInterfaceHint(family::kVendorId, family::kInputReportId); });
    }
    // A stop signal stops an update between two exchanges, and the window closes once the
    // update has let its device go.
    std::stop_source stop;
    window.engine().jobStop = stop.get_token();
    SetStopHandler([&stop, &window](StopSignal) {
        stop.request_stop();
        QMetaObject::invokeMethod(
            &window, [&window] { CloseWhenIdle(window); }, Qt::QueuedConnection);
    });
    // The window's modal loop is the program's life, as on Windows.
    window.OnInitDialog();
    window.exec();
    SetStopHandler({});
    return 0;
}

}  // namespace torvane::qt
