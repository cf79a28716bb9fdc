#include "platform/linux/process_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>

namespace torvane::linux_hid {
namespace {

// Whether /proc/PID/fdinfo/FD says that the descriptor is open for writing ("flags:" in octal).
bool OpenForWriting(const std::string& fdinfo) {
    std::ifstream info(fdinfo);
    for (std::string line; std::getline(info, line);) {
        if (line.starts_with("flags:")) {
            const std::size_t from = std::min(line.find_first_not_of(" \t", 6), line.size());
            unsigned flags = 0;
            std::from_chars(line.data() + from, line.data() + line.size(), flags, 8);
            return (flags & O_ACCMODE) != O_RDONLY;
        }
    }
    return false;
}

}  // namespace

std::vector<int> ProcessesHolding(const std::string& node) {
    std::vector<int> holders;
    DIR* processes = node.empty() ? nullptr : ::opendir("/proc");
    if (processes == nullptr) {
        return holders;
    }
    const int self = ::getpid();
    while (const dirent* process = ::readdir(processes)) {
        const std::string_view name = process->d_name;
        int pid = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || end != name.data() + name.size() || pid == self) {
            continue;
        }
        const std::string processPath = "/proc/" + std::string(name);
        DIR* descriptors = ::opendir((processPath + "/fd").c_str());
        if (descriptors == nullptr) {
            continue;  // gone, or not ours to see
        }
        while (const dirent* descriptor = ::readdir(descriptors)) {
            const std::string number = descriptor->d_name;
            char target[4096];
            const ssize_t length =
                ::readlink((processPath + "/fd/" + number).c_str(), target, sizeof target);
            if (length >= 0 && std::string_view(target, static_cast<std::size_t>(length)) == node &&
                OpenForWriting(processPath + "/fdinfo/" + number)) {
                holders.push_back(pid);
                break;
            }
        }
        ::closedir(descriptors);
    }
    ::closedir(processes);
    std::ranges::sort(holders);
    return holders;
}

}  // namespace torvane::linux_hid
