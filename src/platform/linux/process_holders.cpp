#include "platform/linux/process_holders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string_view>

namespace torvane::linux_hid {

std::vector<int> ProcessesHolding(const std::string& node) {
    std::vector<int> holders;
    struct stat wanted {};
    if (node.empty() || ::stat(node.c_str(), &wanted) != 0) {
        return holders;
    }
    const int self = ::getpid();
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        return holders;
    }
    while (const dirent* process = ::readdir(processes)) {
        const std::string_view name = process->d_name;
        int pid = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || end != name.data() + name.size() || pid == self) {
            continue;
        }
        const std::string fdPath = "/proc/" + std::string(name) + "/fd";
        DIR* descriptors = ::opendir(fdPath.c_str());
        if (descriptors == nullptr) {
            continue;  // gone, or not ours to see
        }
        while (const dirent* descriptor = ::readdir(descriptors)) {
            struct stat opened {};
            if (descriptor->d_name[0] != '.' &&
                ::stat((fdPath + "/" + descriptor->d_name).c_str(), &opened) == 0 &&
                opened.st_rdev == wanted.st_rdev && opened.st_ino == wanted.st_ino &&
                opened.st_dev == wanted.st_dev) {
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
