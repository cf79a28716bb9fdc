// The report log, written and read back. A HID class in front of any backend writes every report
// that crosses it, one line per report: elapsed milliseconds on the clock, OUT or IN, the bytes in
// hex; and each time a device is opened, a line that names it: "MS DEVICE VVVV:PPPP IN n OUT m",
// its vendor and product IDs and its input and output report lengths, followed by " SERIAL text"
// when the device has a serial number (logs of older versions have none); and where an update
// failed, "MS CAUSE text", why. The reader gives the reports back in order, grouped by the device
// that exchanged them.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_class.h"
#include "protocol/report_codec.h"

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
    bool GetSerialNumber(DeviceHandle handle, std::string& serial) override;
    bool GetCaps(DeviceHandle handle, HidCaps& caps) override;
    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override;
    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override;

    // Writes why an update failed, on one line.
    void NoteCause(std::string_view cause);
    // False once a line could not be written (a full disk): the log stops short of the exchange.
    bool Whole() const { return !out_.fail(); }

private:
    void Write(const char* direction, std::span<const std::uint8_t> report);

    HidClass& inner_;
    Clock& clock_;
    std::ostream& out_;
    std::uint32_t start_;
};

struct LoggedReport {
    std::size_t line = 0;  // from 1
    std::uint32_t ms = 0;
    bool out = false;  // OUT: the host sent it; IN: the device answered it
    std::vector<std::uint8_t> bytes;

    // The command the host sent; None for a device's answer.
    family::CommandKind Command() const {
        return out ? family::CommandOf(bytes) : family::CommandKind::None;
    }
};

// The reports of one appearance of the device on the bus: its application, or its boot loader,
// from the time it enumerated until it left.
struct LoggedDevice {
    std::size_t line = 0;  // the DEVICE line, or the first report when the log has none
    std::uint32_t ms = 0;  // the time of that line
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;  // empty when the line had none
    HidCaps caps;
    std::vector<LoggedReport> reports;
};

struct LoggedSession {
    std::vector<LoggedDevice> devices;  // in the order they appeared; never empty
    std::size_t lines = 0;
    std::string cause;  // the last CAUSE line's text
};

// A log larger than this is refused before it is read: the reader holds about ten times what
// it reads.
inline constexpr std::int64_t kMaxLogBytes = std::int64_t{64} << 20;

// The log in `in`, or nullopt and "line N: why" (or why the whole log is refused) in error. A
// log written before the DEVICE lines were logged is split as SplitOldLog splits it.
std::optional<LoggedSession> ReadReportLog(std::istream& in, std::string& error);

}  // namespace torvane
