// Device lock seam on Windows: a named mutex per location, in the namespace that every session
// shares. The mutex's existence is the lock: the program that creates it holds it until it closes
// its handle, and Windows closes the handles of a process however it ended. The mutex is never
// owned: ownership would tie the lock to the thread that took it, while a station takes a lock on
// one thread and its run lets it go on another, and a thread that took it would get it again.
// Beside it, a small named file mapping in the holder's session keeps its process ID.
#include <windows.h>

#include <cstring>

#include "platform/device_lock.h"

namespace torvane {
namespace {

// LockName keeps only ASCII.
std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring HolderName(const std::wstring& name) {
    return L"Local\\" + name + L"-holder";
}

std::uint32_t NamedHolder(const std::wstring& name) {
    const HANDLE mapping = ::OpenFileMappingW(FILE_MAP_READ, FALSE, HolderName(name).c_str());
    if (mapping == nullptr) {
        return 0;  // a holder in another session, or one that is only now taking the lock
    }
    DWORD pid = 0;
    if (const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof pid)) {
        std::memcpy(&pid, view, sizeof pid);
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(mapping);
    return pid;
}

class MutexLock final : public DeviceLock {
public:
    MutexLock(HANDLE mutex, HANDLE holder) : mutex_(mutex), holder_(holder) {}
    ~MutexLock() override {
        if (holder_ != nullptr) {
            ::CloseHandle(holder_);
        }
        ::CloseHandle(mutex_);
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    HANDLE mutex_;
    HANDLE holder_;
};

class MutexLocks final : public DeviceLocks {
public:
    std::unique_ptr<DeviceLock> TryLock(const std::string& location,
                                        std::uint32_t& holder) override {
        const std::wstring name = Wide(LockName(location));
        const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str());
        // Another user's mutex may refuse this one even opening it: it exists all the same.
        if (mutex == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
            if (mutex != nullptr) {
                ::CloseHandle(mutex);
            }
            holder = NamedHolder(name);
            return nullptr;
        }
        holder = 0;
        const DWORD pid = ::GetCurrentProcessId();
        const HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                    0, sizeof pid, HolderName(name).c_str());
        if (mapping != nullptr) {
            if (void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof pid)) {
                std::memcpy(view, &pid, sizeof pid);
                ::UnmapViewOfFile(view);
            }
        }
        return std::make_unique<MutexLock>(mutex, mapping);
    }
};

}  // namespace

DeviceLocks& SystemDeviceLocks() {
    static MutexLocks locks;
    return locks;
}

std::uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

}  // namespace torvane
