// The Linux device lock between processes: one holder at a time, named to the others, and gone
// with its process however that ended.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/device_lock.h"

namespace torvane {
namespace {

TEST(DeviceLockLinux, OneHolderAtATimeNamedAndGoneWithItsProcess) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("torvane-locks-" + std::to_string(::getpid()));
    std::filesystem::create_directory(dir);
    ::setenv("TORVANE_LOCK_DIR", dir.c_str(), 1);
    const char* const location = "pci-0000:00:14.0-usb-0:1";
    DeviceLocks& locks = SystemDeviceLocks();
    std::uint32_t holder = 0;
    std::unique_ptr<DeviceLock> lock = locks.TryLock(location, holder);
    EXPECT_TRUE(lock && std::filesystem::exists(dir / "torvane-pci-0000_00_14.0-usb-0_1"));
    EXPECT_FALSE(locks.TryLock(location, holder));
    EXPECT_EQ(holder, CurrentProcessId());
    lock.reset();

    // A child takes it and is killed while it holds it.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const std::unique_ptr<DeviceLock> held = locks.TryLock(location, holder);
        const char taken = held ? 1 : 0;
        if (::write(ready[1], &taken, 1) == 1) {
            ::pause();
        }
        ::_exit(1);
    }
    char taken = 0;
    EXPECT_EQ(::read(ready[0], &taken, 1), 1);
    EXPECT_EQ(taken, 1);
    EXPECT_FALSE(locks.TryLock(location, holder));
    EXPECT_EQ(holder, static_cast<std::uint32_t>(child));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(locks.TryLock(location, holder));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace torvane
