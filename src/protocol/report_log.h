// A HID class that writes every report that crosses it to a log, in front of any backend.
// One line per report: elapsed milliseconds on the clock, OUT or IN, the bytes in hex; and each
// time a device is opened, a line that names it: "MS DEVICE VVVV:PPPP IN n OUT m", its vendor and
// product IDs and its input and output report lengths.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/hid_class.h"

namespace torvane {

// In a file name given for several devices, this stands for the device's index.
inline constexpr std::string_view kDeviceIndexField = "{n}";
// pattern with every kDeviceIndexField replaced by index.
std::string DevicePath(std::string pattern, std::size_t index);

// value as `digits` upper-case hex digits, as the log writes numbers.
std::string HexDigits(unsigned value, int digits);
// "03 7E 5A ...", as the log writes a report.
std::string HexBytes(std::span<const std::uint8_t> bytes);

class ReportLog final : public HidClass {
public:
    // Times count from the construction; out must outlive the log.
    ReportLog(HidClass& inner, Clock& clock, std::ostream& out);

    Guid HidGuid() override;
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
    bool GetCaps(DeviceHandle handle, HidCaps& caps) override;
    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override;
    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override;

private:
    void Write(const char* direction, std::span<const std::uint8_t> report);

    HidClass& inner_;
    Clock& clock_;
    std::ostream& out_;
    std::uint32_t start_;
};

}  // namespace torvane
