// torvane-cli as a process in real time, stopped by signals and killed: the station never cuts a
// run short for a Ctrl-C, and its results file keeps every device that had ended before a kill;
// an update stops between two reports only when asked twice, and says what it left.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/cli_files.h"
#include "support/hex_text.h"

namespace torvane::cli {
namespace {

using test::Folder;

// torvane-cli with args, its standard output and error in files of folder.
pid_t Start(const Folder& folder, std::vector<std::string> args) {
    args.insert(args.begin(), TORVANE_CLI_PATH);
    const std::string out = folder / "out", err = folder / "err";
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) {
            _exit(127);
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits up to 60 s for the file to hold text; false when it never did.
bool WaitForText(const std::string& path, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (test::ReadFile(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Two Ctrl-Cs in the middle of the writes: the run ends as it would have, the station says it
// waits, takes no device after it (one result) and exits 0; the flash is the whole image.
TEST(StationProcess, CtrlCInTheMiddleOfAWriteEndsOnlyAfterThatRun) {
    test::TempFile image(test::QmxCImage(40));
    Folder files;
    const pid_t pid =
        Start(files, {"--simulate=qmx-c,qmx-c:plug=12s", "station", image.path().string(),
                      "--results", files / "results", "--flash-dump", files / "flash{n}"});
    ASSERT_TRUE(WaitForText(files / "out", "downloading")) << test::ReadFile(files / "err");
    kill(pid, SIGINT);
    ASSERT_TRUE(
        WaitForText(files / "err", "stopping: no new device is taken; waiting for the 1 run"));
    kill(pid, SIGINT);
    EXPECT_EQ(ExitStatus(pid), 0) << test::ReadFile(files / "err");
    EXPECT_NE(test::ReadFile(files / "err")
                  .find("still waiting for the 1 run in progress: a write is never interrupted"),
              std::string::npos);
    const std::string results = test::ReadFile(files / "results");
    ASSERT_EQ(std::count(results.begin(), results.end(), '\n'), 1) << results;
    EXPECT_EQ(nlohmann::json::parse(results)["result"], "passed");
    EXPECT_TRUE(test::ReadFile(files / "flash0") == test::FlashWith(image));
}

// Killed while the second device runs: the first device's line is whole in the results file.
TEST(StationProcess, TheResultsFileAfterAKillHoldsEveryDeviceThatHadEnded) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const pid_t pid = Start(files, {"--simulate=qmx-c,qmx-c:plug=6s", "station",
                                    image.path().string(), "--results", files / "results"});
    ASSERT_TRUE(WaitForText(files / "results", "\n")) << test::ReadFile(files / "err");
    ASSERT_TRUE(WaitForText(files / "out", "[1] Erase successfully"))
        << test::ReadFile(files / "err");
    kill(pid, SIGKILL);
    EXPECT_EQ(ExitStatus(pid), 128 + SIGKILL);
    const std::string results = test::ReadFile(files / "results");
    ASSERT_EQ(std::count(results.begin(), results.end(), '\n'), 1) << results;
    const nlohmann::json first = nlohmann::json::parse(results);
    EXPECT_EQ(first["device"], 0);
    EXPECT_EQ(first["result"], "passed");
}

// An update's first Ctrl-C lets the writes go on; a SIGTERM then stops them before the next
// record, and the device is left in its boot loader, half-written, as the cause says.
TEST(UpdateProcess, ASecondStopSignalEndsTheWritesBetweenTwoRecords) {
    test::TempFile image(test::QmxCImage(1500));
    Folder files;
    const pid_t pid = Start(files, {"--simulate=qmx-c", "update", image.path().string(),
                                    "--flash-dump", files / "flash"});
    ASSERT_TRUE(WaitForText(files / "out", "downloading")) << test::ReadFile(files / "err");
    kill(pid, SIGINT);
    ASSERT_TRUE(WaitForText(files / "err", "stopping once the devices being written are done"));
    kill(pid, SIGTERM);
    EXPECT_EQ(ExitStatus(pid), 1) << test::ReadFile(files / "err");
    EXPECT_NE(test::ReadFile(files / "err").find("stopping now: each device being written stops"),
              std::string::npos);
    const std::string out = test::ReadFile(files / "out");
    EXPECT_NE(out.find("update failed: stopped\nstopped by a signal before record "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(": half-written, the device is left in its boot loader at "),
              std::string::npos);
    EXPECT_FALSE(test::ReadFile(files / "flash") == test::FlashWith(image));
}

}  // namespace
}  // namespace torvane::cli
