// torvane-cli as a process in real time, stopped by signals and killed: the station never cuts a
// run short for a Ctrl-C, and its results file keeps every device that had started or ended
// before a kill or a full disk; an update stops between two reports only when asked twice, and
// says what it left.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/cli_files.h"
#include "support/hex_text.h"

namespace torvane::cli {
namespace {

using test::Folder;

// torvane-cli with args, its standard output and error in files of folder; with fileLimit, no
// file it writes grows past that many bytes (a write beyond is cut short, then fails).
pid_t Start(const Folder& folder, std::vector<std::string> args, rlim_t fileLimit = RLIM_INFINITY) {
    args.insert(args.begin(), TORVANE_CLI_PATH);
    const std::string out = folder / "out", err = folder / "err";
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{fileLimit, fileLimit};
        if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr) ||
            (fileLimit != RLIM_INFINITY &&
             (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))) {
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
    const std::vector<nlohmann::json> results = test::Records(test::ReadFile(files / "results"));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1]["result"], "passed");
    EXPECT_TRUE(test::ReadFile(files / "flash0") == test::FlashWith(image));
}

// Killed while the second device runs: the first device's records are whole in the results
// file, and the second's start is there.
TEST(StationProcess, TheResultsFileAfterAKillHoldsEveryDeviceThatHadStarted) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const pid_t pid = Start(files, {"--simulate=qmx-c,qmx-c:plug=6s", "station",
                                    image.path().string(), "--results", files / "results"});
    ASSERT_TRUE(WaitForText(files / "results", "passed")) << test::ReadFile(files / "err");
    ASSERT_TRUE(WaitForText(files / "out", "[1] Erase successfully"))
        << test::ReadFile(files / "err");
    kill(pid, SIGKILL);
    EXPECT_EQ(ExitStatus(pid), 128 + SIGKILL);
    std::vector<std::string> records;
    for (const nlohmann::json& record : test::Records(test::ReadFile(files / "results"))) {
        records.push_back(record["device"].dump() + " " + record["result"].get<std::string>());
    }
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, (std::vector<std::string>{"0 passed", "0 started", "1 started"}));
}

// On a full disk (a file size limit) the record that does not fit is cut off again, so that the
// file holds whole lines; the station says so, takes no new device and finishes the run in
// progress (exit 1), and names the report log that was cut short. An earlier log is kept.
TEST(StationProcess, ResultsThatCannotBeWrittenStopTheStation) {
    constexpr rlim_t kLimit = 64 * 1024;
    test::TempFile image(test::QmxCImage(400));
    Folder files;
    // Room for the first device's started record, not for the second's.
    const std::string filler = '"' + std::string(kLimit - 400 - 3, 'x') + "\"\n";
    std::ofstream(files / "results", std::ios::binary) << filler;
    std::ofstream(files / "log0") << "earlier\n";
    const pid_t pid =
        Start(files,
              {"--simulate=qmx-c,qmx-c:plug=1s", "--virtual-time", "station", image.path().string(),
               "--results", files / "results", "--report-log", files / "log{n}"},
              kLimit);
    EXPECT_EQ(ExitStatus(pid), 1);
    const std::string err = test::ReadFile(files / "err");
    for (const std::string& told : {std::string("No space left on device; no new device is taken"),
                                    "the report log '" + files / "log1" + "' is incomplete"}) {
        EXPECT_NE(err.find(told), std::string::npos) << err;
    }
    EXPECT_NE(test::ReadFile(files / "out").find("tally: 1 passed, 1 failed"), std::string::npos);
    // The filler and the first device's start, each a whole line.
    const std::vector<nlohmann::json> records = test::Records(test::ReadFile(files / "results"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["result"], "started");
    EXPECT_EQ(records[1]["reportLog"], files / "log1");
    EXPECT_EQ(test::ReadFile(files / "log0"), "earlier\n");
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
