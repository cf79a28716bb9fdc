#include "platform/linux/usb_transport.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/linux/hidraw.h"

namespace torvane::usbfs {
namespace {

// As long as the kernel's HID driver waits for a report on the control pipe.
constexpr unsigned kTimeoutMs = 5000;
// The HID driver's own limit for report descriptors.
constexpr std::size_t kMaxReportDescriptor = 4096;

int Errno(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_IO:
            return EIO;
        case LIBUSB_ERROR_INVALID_PARAM:
            return EINVAL;
        case LIBUSB_ERROR_ACCESS:
            return EACCES;
        case LIBUSB_ERROR_NO_DEVICE:
            return ENODEV;
        case LIBUSB_ERROR_NOT_FOUND:
            return ENOENT;
        case LIBUSB_ERROR_BUSY:
            return EBUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return ETIMEDOUT;
        case LIBUSB_ERROR_OVERFLOW:
            return EOVERFLOW;
        case LIBUSB_ERROR_PIPE:
            return EPIPE;
        case LIBUSB_ERROR_INTERRUPTED:
            return EINTR;
        case LIBUSB_ERROR_NO_MEM:
            return ENOMEM;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return EOPNOTSUPP;
        default:
            return EIO;
    }
}

// The open interfaces by usbfs node and interface number. An entry stays while its interface is
// given back, expired: an open of that interface waits until it is gone, so that no one claims it
// before, and opens and closes of other interfaces go on meanwhile.
struct OpenInterfaces {
    std::mutex lock;
    std::condition_variable givenBack;
    std::map<std::string, std::weak_ptr<UsbInterface>> byKey;
};
OpenInterfaces& Opened() {
    static OpenInterfaces opened;
    return opened;
}

}  // namespace

// What an open interface holds, each part undone in reverse order by the destructor: the usbfs
// descriptor, a libusb context of its own, the wrapped handle and, once reports are exchanged, the
// detached driver and the claim.
struct Claim {
    int fd = -1;
    std::uint8_t number = 0;
    libusb_context* context = nullptr;
    libusb_device_handle* handle = nullptr;
    bool claimed = false;

    ~Claim() {
        if (claimed) {
            libusb_release_interface(handle, number);
            // Whether or not a driver had the interface before, the HID driver gets it now: one
            // that was still probing when it was claimed would otherwise never bind.
            libusb_attach_kernel_driver(handle, number);
        }
        if (handle != nullptr) {
            libusb_close(handle);
        }
        if (context != nullptr) {
            libusb_exit(context);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }

    // Opens the device node and wraps it; 0, or the errno of the step that failed.
    int Open(const std::string& usbNode) {
        fd = ::open(usbNode.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return errno;
        }
        // No scan of the bus: the handle comes from the descriptor opened above.
        libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY);
        if (const int result = libusb_init(&context); result < 0) {
            context = nullptr;
            return Errno(result);
        }
        if (const int result = libusb_wrap_sys_device(context, fd, &handle); result < 0) {
            handle = nullptr;
            return Errno(result);
        }
        return 0;
    }

    // Takes the interface from its kernel driver and claims it; 0, or the errno of the step that
    // failed, with the driver bound again.
    int Take() {
        // One ioctl lets the driver go and claims (where the kernel has it), so that no other
        // program sees the interface without a driver in between and gives it back.
        if (const int result = libusb_set_auto_detach_kernel_driver(handle, 1); result < 0) {
            return Errno(result);
        }
        if (const int result = libusb_claim_interface(handle, number); result < 0) {
            // Bound again if it was let go before the claim failed; refused if still bound.
            libusb_attach_kernel_driver(handle, number);
            return Errno(result);
        }
        claimed = true;
        return 0;
    }
};

std::shared_ptr<UsbInterface> UsbInterface::Open(const std::string& usbNode, std::uint8_t number,
                                                 int& error) {
    error = 0;
    OpenInterfaces& opened = Opened();
    std::unique_lock lock(opened.lock);
    std::string key = usbNode + ":" + std::to_string(number);
    for (auto entry = opened.byKey.find(key); entry != opened.byKey.end();
         entry = opened.byKey.find(key)) {
        if (std::shared_ptr<UsbInterface> shared = entry->second.lock()) {
            return shared;
        }
        opened.givenBack.wait(lock);
    }
    auto claim = std::make_unique<Claim>();
    claim->number = number;
    if (error = claim->Open(usbNode); error != 0) {
        return nullptr;
    }
    std::shared_ptr<UsbInterface> interface(new UsbInterface(std::move(claim), key));
    opened.byKey[std::move(key)] = interface;
    return interface;
}

UsbInterface::UsbInterface(std::unique_ptr<Claim> claim, std::string key)
    : claim_(std::move(claim)), key_(std::move(key)) {}

UsbInterface::~UsbInterface() {
    claim_.reset();
    OpenInterfaces& opened = Opened();
    {
        std::lock_guard lock(opened.lock);
        opened.byKey.erase(key_);
    }
    opened.givenBack.notify_all();
}

int UsbInterface::Claimed() {
    std::lock_guard lock(claimLock_);
    return claim_->claimed ? 0 : claim_->Take();
}

std::optional<HidCaps> UsbInterface::ReadCaps(int& error) {
    if (error = Claimed(); error != 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kMaxReportDescriptor> descriptor{};
    // GET_DESCRIPTOR(Report) of the interface; libusb never writes more than asked for.
    const int got = libusb_control_transfer(
        claim_->handle, 0x81, 0x06, 0x2200, claim_->number, descriptor.data(),
        static_cast<std::uint16_t>(descriptor.size()), kTimeoutMs);
    if (got < 0) {
        error = Errno(got);
        return std::nullopt;
    }
    const std::optional<HidCaps> caps = hidraw::ParseCaps(
        std::span(descriptor).first(std::min(static_cast<std::size_t>(got), descriptor.size())));
    if (!caps) {
        error = EINVAL;
    }
    return caps;
}

int UsbInterface::SetOutputReport(std::span<const std::uint8_t> report) {
    if (report.empty()) {
        return EINVAL;
    }
    if (const int error = Claimed(); error != 0) {
        return error;
    }
    // Without report IDs (ID 0) only the data goes out.
    const std::span<const std::uint8_t> data = report[0] == 0 ? report.subspan(1) : report;
    if (data.size() > 0xFFFF) {
        return EMSGSIZE;
    }
    // libusb only reads the buffer of an OUT transfer.
    const int sent = libusb_control_transfer(claim_->handle, 0x21, 0x09,
                                             static_cast<std::uint16_t>(0x0200 | report[0]),
                                             claim_->number, const_cast<std::uint8_t*>(data.data()),
                                             static_cast<std::uint16_t>(data.size()), kTimeoutMs);
    if (sent < 0) {
        return Errno(sent);
    }
    return static_cast<std::size_t>(sent) == data.size() ? 0 : EIO;
}

int UsbInterface::GetInputReport(std::span<std::uint8_t> report) {
    if (report.empty()) {
        return EINVAL;
    }
    if (const int error = Claimed(); error != 0) {
        return error;
    }
    const std::span<std::uint8_t> data = report[0] == 0 ? report.subspan(1) : report;
    if (data.size() > 0xFFFF) {
        return EMSGSIZE;
    }
    const int got = libusb_control_transfer(
        claim_->handle, 0xA1, 0x01, static_cast<std::uint16_t>(0x0100 | report[0]), claim_->number,
        data.data(), static_cast<std::uint16_t>(data.size()), kTimeoutMs);
    return got < 0 ? Errno(got) : 0;
}

}  // namespace torvane::usbfs
