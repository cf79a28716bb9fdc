// HID class seam on hidraw: the raw info, the report descriptor and the report ioctls.
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/hid_class.h"
#include "platform/linux/hidraw.h"
#include "platform/trace_sink.h"

namespace torvane {
namespace {

// A failed report ioctl goes to the debug trace; an old kernel is named as such.
bool Reported(const char* request, int error) {
    if (error == 0) {
        return true;
    }
    std::string line = std::string(request) + " failed: " + std::strerror(error);
    if (hidraw::IsMissingReportIoctl(error)) {
        line += " (this kernel lacks the report ioctls: Linux " +
                std::string(hidraw::kReportIoctlsKernel) + " or newer is needed)";
    }
    SendTrace(line + "\n");
    return false;
}

class LinuxHidClass final : public HidClass {
public:
    Guid HidGuid() override { return hidraw::kHidClassGuid; }

    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        const hidraw::OpenNode& node = hidraw::ToNode(handle);
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
        const std::optional<HidCaps> read = hidraw::ReadCaps(hidraw::ToNode(handle).fd, error);
        if (!read) {
            return false;
        }
        caps = *read;
        return true;
    }

    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report) override {
        return Reported("HIDIOCSOUTPUT",
                        hidraw::SetOutputReport(hidraw::ToNode(handle).fd, report));
    }

    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report) override {
        return Reported("HIDIOCGINPUT", hidraw::GetInputReport(hidraw::ToNode(handle).fd, report));
    }
};

}  // namespace

HidClass& SystemHidClass() {
    static LinuxHidClass hid;
    return hid;
}

}  // namespace torvane
