// One fuzz target without the fuzzer: every saved input of the target runs through its entry
// point, the inputs that once failed and the seeds alike; the sanitizers and the target's own
// checks end the program on a fault.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_input.h"

namespace {

// One test per target, named after it: FuzzSavedInputs.<target>.
#define TORVANE_SAVED_INPUTS_TEST_(target) TEST(FuzzSavedInputs, target)
#define TORVANE_SAVED_INPUTS_TEST(target) TORVANE_SAVED_INPUTS_TEST_(target)

TORVANE_SAVED_INPUTS_TEST(TORVANE_FUZZ_TARGET) {
    std::vector<std::filesystem::path> files;
    for (const char* folder : {TORVANE_FUZZ_REGRESSIONS, TORVANE_FUZZ_CORPUS}) {
        if (!std::filesystem::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << "no saved inputs in " << TORVANE_FUZZ_CORPUS;
    for (const std::filesystem::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
        std::fprintf(stderr, "%s\n", file.string().c_str());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << file;
    }
}

}  // namespace
