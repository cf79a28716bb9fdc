#include "qt/desktop_app.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace torvane::qt {
namespace {

// The options a parse leaves, as "simulate=DEVICES virtual log=FILE version" (the parts that
// are set), or "refused" with an empty error never given.
std::string Parsed(const std::vector<std::string>& args) {
    DesktopOptions options;
    std::string error;
    if (!ParseDesktopOptions(args, options, error)) {
        return error.empty() ? "refused without a reason" : "refused";
    }
    return (options.simulate ? "simulate=" + *options.simulate + " " : "") +
           (options.virtualTime ? "virtual " : "") + "log=" + options.reportLog +
           (options.version ? " version" : "");
}

TEST(DesktopOptions, TakesItsOwnOptionsAndIgnoresEverythingElse) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"dropped.hex", "--simulate", "-x"}, "simulate= log="},
        {{"--simulate=qmx-s,tzn:boot", "--virtual-time"}, "simulate=qmx-s,tzn:boot virtual log="},
        {{"--report-log", "--simulate"}, "log=--simulate"},
        {{"--report-log=r.log", "--version"}, "log=r.log version"},
        {{"--virtual-time"}, "refused"},
        {{"--simulate", "--report-log"}, "refused"},
    };
    for (const auto& [args, parsed] : cases) {
        EXPECT_EQ(Parsed(args), parsed) << testing::PrintToString(args);
    }
}

// The program itself, on the simulated family, with a runtime directory of the test's own.
class DesktopProgram : public ::testing::Test {
protected:
    void Start(QProcess& process) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.start(TORVANE_PROGRAM, {"--simulate", "--virtual-time"});
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    // The process whose ID the single-instance lock names, 0 while there is none.
    qint64 LockHolder() {
        QFile lock(runtime.filePath("torvane.lock"));
        return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
    }

    QTemporaryDir runtime;
};

TEST_F(DesktopProgram, ASecondCopyEndsAtOnceAndALockLeftByADeadCopyIsTakenOver) {
    QProcess first;
    Start(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return LockHolder() == first.processId(); }, 20000));

    QProcess second;
    Start(second);
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    // Killed, the first copy leaves its lock behind; the next start takes it over.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    QProcess third;
    Start(third);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LockHolder() == third.processId(); }, 20000));
    third.kill();
    third.waitForFinished(10000);
}

}  // namespace
}  // namespace torvane::qt
