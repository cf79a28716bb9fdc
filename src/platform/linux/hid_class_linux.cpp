// HID class seam on hidraw and usbfs: each call goes the way its handle was opened.
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cstring>
#include <string>
#include <variant>

#include "platform/hid_class.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/open_interface.h"
#include "platform/trace_sink.h"

namespace torvane {
namespace {

using linux_hid::HidrawNode;
using UsbPtr = std::shared_ptr<usbfs::UsbInterface>;

// A failed report transfer goes to the debug trace; an old kernel is named as such.
bool Reported(const char* request, int code, bool hidraw, SystemError& error) {
    if (code == 0) {
        return true;
    }
    error = DescribeSystemError(static_cast<std::uint32_t>(code));
    std::string line = std::string(request) + " failed: " + error.text;
    if (hidraw && hidraw::IsMissingReportIoctl(code)) {
        line += " (this kernel lacks the report ioctls: Linux " +
                std::string(hidraw::kReportIoctlsKernel) + " or newer is needed)";
    }
    SendTrace(line + "\n");
    return false;
}

class LinuxHidClass final : public HidClass {
public:
    Guid HidGuid() override { return linux_hid::kHidClassGuid; }

    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        if (const UsbPtr* usb = std::get_if<UsbPtr>(&linux_hid::ToInterface(handle))) {
            attributes = (*usb)->attributes();
            return true;
        }
        const HidrawNode& node = std::get<HidrawNode>(linux_hid::ToInterface(handle));
        hidraw_devinfo info{};
        if (::ioctl(node.fd, HIDIOCGRAWINFO, &info) < 0) {
            return false;
        }
        attributes.size = sizeof attributes;
        attributes.vendorId = static_cast<std::uint16_t>(info.vendor);
        attributes.productId = static_cast<std::uint16_t>(info.product);
        attributes.versionNumber = node.release.value_or(0);
        return true;
    }

    bool GetCaps(DeviceHandle handle, HidCaps& caps) override {
        int error = 0;
        const UsbPtr* usb = std::get_if<UsbPtr>(&linux_hid::ToInterface(handle));
        const std::optional<HidCaps> read =
            usb != nullptr
                ? (*usb)->ReadCaps(error)
                : hidraw::ReadCaps(std::get<HidrawNode>(linux_hid::ToInterface(handle)).fd, error);
        if (!read) {
            return false;
        }
        caps = *read;
        return true;
    }

    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override {
        if (const UsbPtr* usb = std::get_if<UsbPtr>(&linux_hid::ToInterface(handle))) {
            return Reported("SET_REPORT", (*usb)->SetOutputReport(report), false, error);
        }
        const int fd = std::get<HidrawNode>(linux_hid::ToInterface(handle)).fd;
        return Reported("HIDIOCSOUTPUT", hidraw::SetOutputReport(fd, report), true, error);
    }

    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override {
        if (const UsbPtr* usb = std::get_if<UsbPtr>(&linux_hid::ToInterface(handle))) {
            return Reported("GET_REPORT", (*usb)->GetInputReport(report), false, error);
        }
        const int fd = std::get<HidrawNode>(linux_hid::ToInterface(handle)).fd;
        return Reported("HIDIOCGINPUT", hidraw::GetInputReport(fd, report), true, error);
    }
};

}  // namespace

HidClass& SystemHidClass() {
    static LinuxHidClass hid;
    return hid;
}

}  // namespace torvane
