// One fuzz target without the fuzzer: every saved input in the folders given (the inputs that once
// failed and the seeds alike) runs through the target's entry point, in name order. The
// sanitizers end the program on a fault, the target's own checks abort it; a folder without a
// single input fails it.
//
//   fuzz_regression_<target> FOLDER...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no saved inputs\n");
        return 1;
    }
    for (const std::filesystem::path& file : files) {
        // Named first: an input that fails ends the program after its name.
        std::fprintf(stderr, "%s\n", file.string().c_str());
        std::ifstream stream(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::fprintf(stderr, "%zu saved inputs passed\n", files.size());
    return 0;
}
