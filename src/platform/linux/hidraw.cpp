#include "platform/linux/hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/hid_report_descriptor.h"

// The report ioctls of Linux 5.11, for system headers older than that.
#ifndef HIDIOCSOUTPUT
#define HIDIOCSOUTPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0B, len)
#endif
#ifndef HIDIOCGINPUT
#define HIDIOCGINPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0A, len)
#endif

namespace torvane::hidraw {
namespace {

// The ioctl's size field holds 14 bits: longer reports cannot be asked for.
int ReportIoctl(int fd, unsigned long request, void* report, std::size_t size) {
    if (size == 0 || size > _IOC_SIZEMASK) {
        return EMSGSIZE;
    }
    return ::ioctl(fd, request, report) < 0 ? errno : 0;
}

}  // namespace

std::optional<HidCaps> ParseCaps(std::span<const std::uint8_t> descriptor) {
    const std::optional<ReportDescriptorSummary> summary = SummarizeReportDescriptor(descriptor);
    if (!summary) {
        return std::nullopt;
    }
    HidCaps caps;
    caps.usage = summary->usage;
    caps.usagePage = summary->usagePage;
    caps.inputReportByteLength = summary->inputReportByteLength;
    caps.outputReportByteLength = summary->outputReportByteLength;
    caps.featureReportByteLength = summary->featureReportByteLength;
    return caps;
}

std::optional<HidCaps> ReadCaps(const std::string& hidDevicePath, int& error) {
    const std::string path = hidDevicePath + "/report_descriptor";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    // The kernel shows no more than its own limit.
    std::array<std::uint8_t, HID_MAX_DESCRIPTOR_SIZE> descriptor{};
    std::size_t size = 0;
    ssize_t got = 0;
    while (size < descriptor.size() &&
           (got = ::read(fd, descriptor.data() + size, descriptor.size() - size)) > 0) {
        size += static_cast<std::size_t>(got);
    }
    error = got < 0 ? errno : 0;
    ::close(fd);
    const std::optional<HidCaps> caps =
        error != 0 ? std::nullopt : ParseCaps(std::span(descriptor).first(size));
    if (!caps && error == 0) {
        error = EINVAL;
    }
    return caps;
}

int SetOutputReport(int fd, std::span<const std::uint8_t> report) {
    // The kernel only reads the buffer.
    return ReportIoctl(fd, HIDIOCSOUTPUT(report.size()), const_cast<std::uint8_t*>(report.data()),
                       report.size());
}

int GetInputReport(int fd, std::span<std::uint8_t> report) {
    return ReportIoctl(fd, HIDIOCGINPUT(report.size()), report.data(), report.size());
}

bool IsMissingReportIoctl(int error) {
    return error == ENOTTY || error == EINVAL;
}

}  // namespace torvane::hidraw
