#include "cli/inspect_command.h"

#include <sstream>

#include <gtest/gtest.h>

#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane::cli {
namespace {

using test::CrLfFile;
using test::DataLine;
using test::kEndOfFileLine;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun Inspect(std::vector<std::string> args) {
    std::string error;
    const std::optional<CommandLine> line = ParseCommandLine(args, error);
    if (!line) {
        return {kExitUsage, "", error};
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunInspect(*line, out, err);
    return {status, out.str(), err.str()};
}

TEST(InspectCommand, PrintsRecordsInWriteOrderAndASummary) {
    test::TempFile file(
        CrLfFile({DataLine(0x2000, {0x01, 0x02}), DataLine(0x2100, {0xAA}),
                  DataLine(0x2101, {0xBB, 0xCC}), DataLine(0x0000, {}), kEndOfFileLine}));
    const CliRun run = Inspect({"inspect", file.path().string()});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out,
              "write  record  address  length  data\n"
              "    1       1   0x2100       1  AA\n"
              "    2       2   0x2101       2  BB CC\n"
              "    3       3   0x0000       0 \n"
              "    4       0   0x2000       2  01 02\n"
              "records: 5 in the file, 4 to write (the last record is never written)\n"
              "writes: 4 (the record at 0x2000 last)\n"
              "address ranges: 0x2000-0x2001, 0x2100-0x2102\n"
              "identity record (0x2100): present\n"
              "start record (0x2000): present\n");
}

TEST(InspectCommand, ShippedSampleLoadsForTheSimulatedQmxC) {
    const std::string sample = TORVANE_SAMPLES_DIR "/sample.hex";
    const CliRun run = Inspect({"inspect", sample, "--identity", "514D5843030002"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_NE(run.out.find("identity record (0x2100): present"), std::string::npos);
}

TEST(InspectCommand, WithoutAStartRecordRecordZeroIsWrittenTwice) {
    test::TempFile file(CrLfFile({DataLine(0x2200, {1}), kEndOfFileLine}));
    const CliRun run = Inspect({"inspect", file.path().string()});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_NE(run.out.find("    2       0   0x2200       1  01\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("writes: 2 (record 0 again at the end)\n"), std::string::npos);
    EXPECT_NE(run.out.find("start record (0x2000): absent\n"), std::string::npos);
}

TEST(InspectCommand, RefusedFileSaysWhereAndWhy) {
    test::TempFile file(CrLfFile({DataLine(0x2000, {1}), ":0100000001FF", kEndOfFileLine}));
    const CliRun run = Inspect({"inspect", file.path().string()});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "File Parse error!\n" + file.path().string() +
                           ": line 2: checksum 0xFF does not match, expected 0xFE\n");
}

TEST(InspectCommand, IdentityTurnsOnTheApplicationCheck) {
    test::TempFile file(
        CrLfFile({DataLine(0x2100, {1, 2, 3, 4, 5, 6, 7, 3, 2, 0, 0}), kEndOfFileLine}));
    EXPECT_EQ(Inspect({"inspect", file.path().string(), "--identity", "01020304050607"}).status,
              kExitOk);
    EXPECT_EQ(Inspect({"inspect", "--identity=0102030405060A", file.path().string()}).status,
              kExitFailed);
}

TEST(InspectCommand, UsageErrorsAndMissingFiles) {
    EXPECT_EQ(Inspect({"inspect"}).status, kExitUsage);
    EXPECT_EQ(Inspect({"inspect", "a.hex", "b.hex"}).status, kExitUsage);
    EXPECT_EQ(Inspect({"inspect", "a.hex", "--identity", "0102"}).status, kExitUsage);
    EXPECT_EQ(Inspect({"inspect", "a.hex", "--identity", "01020304050G07"}).status, kExitUsage);
    EXPECT_EQ(Inspect({"inspect", "a.hex", "--identity"}).status, kExitUsage);
    EXPECT_EQ(Inspect({"inspect", "a.hex", "--bogus"}).status, kExitUsage);
    const CliRun missing = Inspect({"inspect", "no-such-file.hex"});
    EXPECT_EQ(missing.status, kExitFailed);
    EXPECT_EQ(missing.err.rfind("FW File Load error!\n", 0), 0u) << missing.err;
}

}  // namespace
}  // namespace torvane::cli
