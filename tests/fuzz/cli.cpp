// torvane-cli in process on the simulated family, on virtual time. Input: the arguments, one a
// line, then a zero byte and the content of the file that the argument "f" names. Arguments that
// would reach beyond the simulator are left out: doctor (the system's devices), the report log
// and flash dump (files written), paths with a separator and names of files that exist, a
// replayed log other than "replay:f" (the file, as a report log); and so is station, which
// waits for devices to be plugged in for as long as none ends its count.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "../support/run_cli.h"
#include "fuzz_input.h"

namespace torvane::fuzz {
namespace {

// The file "f" stands for, in a folder of this process's own that goes at exit: in memory where
// the system has a tmpfs at /dev/shm (a file on disk made every run wait on the disk's writeback).
const std::string& InputFile() {
    static const std::filesystem::path folder =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("torvane-cli-fuzz-" + std::to_string(getpid()));
    static const std::string path = [] {
        std::filesystem::create_directories(folder);
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(folder, error);
        });
        return (folder / "f").string();
    }();
    return path;
}

bool Allowed(std::string_view arg) {
    std::error_code error;
    return arg.starts_with("--simulate") ||
           (arg != "doctor" && arg != "station" &&
            arg.find("report-log") == std::string_view::npos &&
            arg.find("flash-dump") == std::string_view::npos &&
            arg.find_first_of("/\\") == std::string_view::npos &&
            !std::filesystem::exists(std::filesystem::path(arg), error));
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t end = input.find('\0');
    const std::string_view arguments = input.substr(0, end);

    std::vector<std::string> args{"--virtual-time"};
    bool simulated = false;
    bool file = false;
    for (std::size_t start = 0; start <= arguments.size();) {
        const std::size_t stop = std::min(arguments.find('\n', start), arguments.size());
        const std::string_view arg = arguments.substr(start, stop - start);
        if (arg == "f") {
            args.push_back(fuzz::InputFile());
            file = true;
        } else if (fuzz::Allowed(arg)) {
            std::string allowed(arg);
            // Each replay:f plays the file back; a replay of any other file leaves the argument
            // out.
            bool other = false;
            bool replays = false;
            for (std::size_t at = allowed.find("replay:"); at != std::string::npos && !other;
                 at = allowed.find("replay:", at + 1)) {
                other = allowed.compare(at + 7, allowed.find(',', at) - at - 7, "f") != 0;
                allowed.replace(at + 7, 1, fuzz::InputFile());
                replays = true;
            }
            if (!other) {
                file = file || replays;
                simulated = simulated || arg.starts_with("--simulate");
                args.push_back(std::move(allowed));
            }
        }
        start = stop + 1;
    }
    if (file) {
        std::ofstream saved(fuzz::InputFile(), std::ios::binary | std::ios::trunc);
        if (end != std::string_view::npos) {
            const std::string_view content = input.substr(end + 1);
            saved.write(content.data(), static_cast<std::streamsize>(content.size()));
        }
    }
    if (!simulated) {
        args.insert(args.begin(), "--simulate");
    }
    const int status = test::RunCliWith(args).status;
    fuzz::Require(status >= 0 && status <= 2, "the exit status is 0, 1 or 2");
    return 0;
}
