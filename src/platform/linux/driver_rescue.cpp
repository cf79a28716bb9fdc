#include "platform/linux/driver_rescue.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

#include "platform/device_access.h"
#include "platform/linux/hid_interfaces.h"

namespace torvane::usbfs {
namespace {

// A slot holds (fd + 1) << 8 | interface number; 0 when free.
using SlotValue = std::uint64_t;
static_assert(std::atomic<SlotValue>::is_always_lock_free);

std::array<std::atomic<SlotValue>, kRescueSlots> slots{};

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
// Written before the handler is installed, read only by the handler.
std::array<struct sigaction, kSignals.size()> previous{};

void Rescue(int signal) {
    const int savedErrno = errno;
    // Other threads go on while this one runs. A transfer of theirs after the release would
    // claim the interface again (usbfs claims on use) and keep the driver from coming back, so
    // their descriptor is turned to /dev/null first: the give-back works on a duplicate, and
    // what they send from then on fails without reaching the device.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (const std::atomic<SlotValue>& slot : slots) {
        const SlotValue value = slot.load();
        if (value == 0) {
            continue;
        }
        const int claimed = static_cast<int>((value >> 8) - 1);
        const int fd = ::fcntl(claimed, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            continue;
        }
        if (null >= 0) {
            ::dup2(null, claimed);
        }
        unsigned int number = value & 0xFF;
        ::ioctl(fd, USBDEVFS_RELEASEINTERFACE, &number);
        usbdevfs_ioctl command{static_cast<int>(number), USBDEVFS_CONNECT, nullptr};
        ::ioctl(fd, USBDEVFS_IOCTL, &command);
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (kSignals[i] == signal) {
            ::sigaction(signal, &previous[i], nullptr);
        }
    }
    errno = savedErrno;
    // Delivered when the handler returns, to the disposition the program had before.
    ::raise(signal);
}

void Install() {
    struct sigaction action {};
    action.sa_handler = Rescue;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // A signal the program ignores stays ignored: it never ends the program.
        if (::sigaction(kSignals[i], nullptr, &previous[i]) == 0 &&
            previous[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
}

}  // namespace

int RegisterClaim(int fd, std::uint8_t number) {
    static std::once_flag installed;
    std::call_once(installed, Install);
    const SlotValue value = (static_cast<SlotValue>(fd) + 1) << 8 | number;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        SlotValue expected = 0;
        if (slots[i].compare_exchange_strong(expected, value)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void UnregisterClaim(int slot) {
    slots[static_cast<std::size_t>(slot)].store(0);
}

}  // namespace torvane::usbfs

namespace torvane {
namespace {

// True once this user may open the hidraw node of the USB interface, or the interface has none
// to wait for.
bool HidrawReady(const std::string& usbInterfacePath) {
    const std::optional<linux_hid::HidInterface> interface =
        linux_hid::LookUpHidInterface(usbInterfacePath);
    return !interface || linux_hid::AccessError(*interface, Transport::kHidraw) == 0;
}

std::string SysfsName(const std::string& usbInterfacePath) {
    return usbInterfacePath.substr(usbInterfacePath.rfind('/') + 1);
}

}  // namespace

std::vector<GivenBack> GiveBackDriverless(std::uint16_t vendorId,
                                          std::span<const std::uint16_t> productIds) {
    std::vector<GivenBack> given;
    std::vector<std::string> paths;
    for (const linux_hid::HidInterface& interface : linux_hid::VendorInterfaces(vendorId)) {
        if (interface.usbInterfacePath.empty() || !interface.driver.empty() ||
            std::ranges::find(productIds, interface.productId) == productIds.end()) {
            continue;
        }
        GivenBack& entry =
            given.emplace_back(SysfsName(interface.usbInterfacePath), interface.usbNode);
        paths.push_back(interface.usbInterfacePath);
        entry.settingUp = linux_hid::StillSettingUp(interface);
        if (entry.settingUp) {
            continue;
        }
        if (const int fd = interface.usbNode.empty()
                               ? -1
                               : ::open(interface.usbNode.c_str(), O_RDWR | O_CLOEXEC);
            fd < 0) {
            entry.error = interface.usbNode.empty() ? ENOENT : errno;
        } else {
            usbdevfs_ioctl command{interface.interfaceNumber, static_cast<int>(USBDEVFS_CONNECT),
                                   nullptr};
            entry.error = ::ioctl(fd, USBDEVFS_IOCTL, &command) < 0 ? errno : 0;
            ::close(fd);
            // The kernel answers 0 as well when none of its drivers takes the interface.
            char driver[256];
            if (entry.error == 0 && ::readlink((interface.usbInterfacePath + "/driver").c_str(),
                                               driver, sizeof driver) < 0) {
                entry.error = ENXIO;
            }
        }
    }
    // The kernel makes the hidraw node at once; udev gives it its permissions a moment later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (std::size_t i = 0; i < given.size(); ++i) {
        while (given[i].error == 0 && !HidrawReady(paths[i]) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return given;
}

}  // namespace torvane
