// Device lock seam on Linux: flock on a file named after the location, in a folder where every
// user creates files. The kernel drops the lock with the last descriptor of the file, however the
// process ended; the holder writes its process ID into the file for the others to name it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/device_lock.h"

namespace torvane {
namespace {

// TORVANE_LOCK_DIR when set (for tests), else the first of /run/lock (every user's),
// $XDG_RUNTIME_DIR and /tmp that this user can create files in.
std::string LockDirectory() {
    const char* const candidates[] = {std::getenv("TORVANE_LOCK_DIR"), "/run/lock",
                                      std::getenv("XDG_RUNTIME_DIR")};
    for (const char* candidate : candidates) {
        if (candidate != nullptr && *candidate != '\0' && ::access(candidate, W_OK | X_OK) == 0) {
            return candidate;
        }
    }
    return "/tmp";
}

// The lock file opened for reading and writing, made so that every user can do the same; opened
// for reading only (which locks as well) when it is another user's and refuses this one writing.
// -1 when it does not open at all.
int OpenLockFile(const std::string& path, bool& writable) {
    // Never through a link planted in a shared folder; never waiting on a planted FIFO.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.c_str(), O_RDWR | kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666);  // whatever the umask
        } else if (errno == EEXIST) {
            fd = ::open(path.c_str(), O_RDWR | kFlags);
        }
    }
    writable = fd >= 0;
    return writable ? fd : ::open(path.c_str(), O_RDONLY | kFlags);
}

// The process the file names, while there is one of that ID: a holder that was killed leaves
// its ID behind.
std::uint32_t NamedHolder(int fd) {
    char text[16] = {};
    const long pid = ::pread(fd, text, sizeof text - 1, 0) > 0 ? std::strtol(text, nullptr, 10) : 0;
    const bool running = pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
    return running ? static_cast<std::uint32_t>(pid) : 0;
}

class FileLock final : public DeviceLock {
public:
    FileLock(int fd, bool named) : fd_(fd), named_(named) {}
    ~FileLock() override {
        // Emptied first: once released, the file names no holder.
        [[maybe_unused]] const int emptied = named_ ? ::ftruncate(fd_, 0) : 0;
        ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
    bool named_;
};

class FileLocks final : public DeviceLocks {
public:
    std::unique_ptr<DeviceLock> TryLock(const std::string& location,
                                        std::uint32_t& holder) override {
        holder = 0;
        bool writable = false;
        const int fd = OpenLockFile(LockDirectory() + "/" + LockName(location), writable);
        if (fd < 0) {
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            holder = NamedHolder(fd);
            ::close(fd);
            return nullptr;
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        const bool named =
            writable && ::ftruncate(fd, 0) == 0 &&
            ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
        return std::make_unique<FileLock>(fd, named);
    }
};

}  // namespace

DeviceLocks& SystemDeviceLocks() {
    static FileLocks locks;
    return locks;
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

}  // namespace torvane
