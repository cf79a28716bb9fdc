#include "qt/desktop_app.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace torvane::qt {
namespace {

TEST(DesktopOptions, TakesItsOwnOptionsAndIgnoresEverythingElse) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        std::optional<std::string> simulate;
        bool virtualTime;
        std::string reportLog;
        bool version;
    } cases[] = {
        {{}, true, std::nullopt, false, "", false},
        {{"dropped.hex", "--simulate", "-x"}, true, "", false, "", false},
        {{"--simulate=qmx-s,tzn:boot", "--virtual-time"}, true, "qmx-s,tzn:boot", true, "", false},
        {{"--report-log", "--simulate", "--version"},
         true,
         std::nullopt,
         false,
         "--simulate",
         true},
        {{"--report-log=r.log"}, true, std::nullopt, false, "r.log", false},
        {{"--virtual-time"}, false, std::nullopt, true, "", false},
        {{"--simulate", "--report-log"}, false, "", false, "", false},
        {{"--report-log="}, false, std::nullopt, false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        DesktopOptions options;
        std::string error;
        ASSERT_EQ(ParseDesktopOptions(c.args, options, error), c.ok);
        EXPECT_EQ(error.empty(), c.ok);
        if (c.ok) {
            EXPECT_EQ(options.simulate, c.simulate);
            EXPECT_EQ(options.virtualTime, c.virtualTime);
            EXPECT_EQ(options.reportLog, c.reportLog);
            EXPECT_EQ(options.version, c.version);
        }
    }
}

// The program itself, on the simulated family, with a runtime directory of the test's own.
class DesktopProgram : public ::testing::Test {
protected:
    void Start(QProcess& process, const QStringList& args = {"--simulate", "--virtual-time"}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.start(TORVANE_PROGRAM, args);
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
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
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

TEST_F(DesktopProgram, VersionPrintsTheProgramsVersion) {
    QProcess program;
    Start(program, {"--version"});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), "torvane " TORVANE_VERSION "\n");
}

}  // namespace
}  // namespace torvane::qt
