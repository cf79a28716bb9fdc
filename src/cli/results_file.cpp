#include "cli/results_file.h"

#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace torvane::cli {

#if defined(_WIN32)

ResultsFile::~ResultsFile() {
    if (open_) {
        CloseHandle(handle_);
    }
}

bool ResultsFile::Open(const std::string& path) {
    // Append data only: each write lands at the end of the file, whoever else appends to it.
    const HANDLE handle = CreateFileA(
        path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    open_ = handle != INVALID_HANDLE_VALUE;
    handle_ = handle;
    path_ = path;
    return open_;
}

bool ResultsFile::Append(const std::string& line) {
    const std::string text = line + '\n';
    LARGE_INTEGER before{};
    DWORD written = 0;
    if (partial_ || !GetFileSizeEx(handle_, &before)) {
        errno = EIO;
        return false;
    }
    if (!WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        const DWORD why = GetLastError();
        errno = why == ERROR_DISK_FULL || why == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
        if (written > 0) {
            // The append-only handle cannot truncate: a second one cuts the part off.
            const HANDLE cut =
                CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            partial_ = cut == INVALID_HANDLE_VALUE ||
                       !SetFilePointerEx(cut, before, nullptr, FILE_BEGIN) || !SetEndOfFile(cut);
            if (cut != INVALID_HANDLE_VALUE) {
                CloseHandle(cut);
            }
        }
        return false;
    }
    if (!FlushFileBuffers(handle_)) {
        errno = EIO;
        return false;
    }
    return true;
}

#else

ResultsFile::~ResultsFile() {
    if (open_) {
        ::close(fd_);
    }
}

bool ResultsFile::Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    open_ = fd_ >= 0;
    return open_;
}

bool ResultsFile::Append(const std::string& line) {
    if (partial_) {
        errno = EIO;
        return false;
    }
    const std::string text = line + '\n';
    struct stat before {};
    if (::fstat(fd_, &before) != 0) {
        return false;
    }
    ssize_t written = 0;
    do {
        written = ::write(fd_, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(text.size())) {
        if (written > 0) {
            partial_ = ::ftruncate(fd_, before.st_size) != 0;
            // A short write is a full disk or a file size limit; only the next write would
            // say which.
            errno = ENOSPC;
        }
        return false;
    }
    return ::fdatasync(fd_) == 0;
}

#endif

}  // namespace torvane::cli
