// HID class seam on hidraw and usbfs: each call goes the way its handle was opened.
#include <optional>
#include <string>

#include "platform/hid_class.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/open_interface.h"
#include "platform/trace_sink.h"

namespace torvane {
namespace {

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

    // As the listing read them from sysfs: the device is not asked.
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        const linux_hid::HidInterface& interface = linux_hid::ToInterface(handle).interface;
        attributes.size = sizeof attributes;
        attributes.vendorId = interface.vendorId;
        attributes.productId = interface.productId;
        attributes.versionNumber = interface.release.value_or(0);
        return true;
    }

    // As the kernel read it from the device when it enumerated: the device is not asked.
    bool GetSerialNumber(DeviceHandle handle, std::string& serial) override {
        serial = linux_hid::ToInterface(handle).interface.serial;
        return !serial.empty();
    }

    // The report descriptor the HID driver shows in sysfs while it has the interface; else (or
    // once it has let go), on usbfs, the device's own, which takes the interface from its driver
    // to ask for it.
    bool GetCaps(DeviceHandle handle, HidCaps& caps) override {
        linux_hid::OpenInterface& opened = linux_hid::ToInterface(handle);
        int error = 0;
        std::optional<HidCaps> read;
        if (!opened.interface.hidDevicePath.empty()) {
            read = hidraw::ReadCaps(opened.interface.hidDevicePath, error);
        }
        if (!read && opened.transport == Transport::kUsb) {
            if (usbfs::UsbInterface* usb = opened.Usb(error)) {
                read = usb->ReadCaps(error);
            }
        }
        if (!read) {
            return false;
        }
        caps = *read;
        return true;
    }

    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override {
        return Exchange(
            handle, "SET_REPORT",
            [report](usbfs::UsbInterface& usb) { return usb.SetOutputReport(report); },
            "HIDIOCSOUTPUT", [report](int fd) { return hidraw::SetOutputReport(fd, report); },
            error);
    }

    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override {
        return Exchange(
            handle, "GET_REPORT",
            [report](usbfs::UsbInterface& usb) { return usb.GetInputReport(report); },
            "HIDIOCGINPUT", [report](int fd) { return hidraw::GetInputReport(fd, report); }, error);
    }

private:
    // One report through usbfs (usbCall) or the hidraw node (hidrawCall), whichever the handle
    // goes through; its node opens at the first.
    template <typename UsbCall, typename HidrawCall>
    static bool Exchange(DeviceHandle handle, const char* usbRequest, UsbCall usbCall,
                         const char* hidrawRequest, HidrawCall hidrawCall, SystemError& error) {
        linux_hid::OpenInterface& opened = linux_hid::ToInterface(handle);
        int code = 0;
        if (opened.transport == Transport::kUsb) {
            usbfs::UsbInterface* usb = opened.Usb(code);
            return usb != nullptr ? Reported(usbRequest, usbCall(*usb), false, error)
                                  : Reported("open", code, false, error);
        }
        const int fd = opened.Hidraw(code);
        return fd >= 0 ? Reported(hidrawRequest, hidrawCall(fd), true, error)
                       : Reported("open", code, false, error);
    }
};

}  // namespace

HidClass& SystemHidClass() {
    static LinuxHidClass hid;
    return hid;
}

}  // namespace torvane
