#include "protocol/report_log.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "protocol/old_report_log.h"

namespace torvane {
namespace {

// A report longer than any the family could announce is damage, not a report; so is a line
// longer than the longest line of such reports.
constexpr std::size_t kMaxReportBytes = 1024;
constexpr std::size_t kMaxLineLength = 64 + 3 * kMaxReportBytes;

// The characters from in's position to its end; nullopt for a stream that cannot seek.
std::optional<std::streamoff> Remaining(std::istream& in) {
    const std::istream::pos_type at = in.tellg();
    if (at == std::istream::pos_type(-1) || !in.seekg(0, std::ios::end)) {
        in.clear();
        return std::nullopt;
    }
    const std::streamoff size = in.tellg() - at;
    in.seekg(at);
    return size;
}

// The next line of in without its end, in line; false at the end of in. A line longer than
// kMaxLineLength is cut there and longLine set, so that no file makes the reader hold more.
bool NextLine(std::istream& in, std::string& line, bool& longLine) {
    line.clear();
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
        if (c == '\n') {
            return true;
        }
        if (line.size() == kMaxLineLength) {
            longLine = true;
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
    return !line.empty();
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

template <typename T>
std::optional<T> Parse(const std::string& text, int base) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The word before a DEVICE line's serial number.
constexpr std::string_view kSerialWord = "SERIAL";

// words: "MS DEVICE VVVV:PPPP IN n OUT m [SERIAL text]"; line is the whole line.
std::optional<LoggedDevice> DeviceLine(const std::vector<std::string>& words,
                                       const std::string& line) {
    const bool serial = words.size() > 8 && words[7] == kSerialWord;
    if ((words.size() != 7 && !serial) || words[2].size() != 9 || words[2][4] != ':' ||
        words[3] != "IN" || words[5] != "OUT") {
        return std::nullopt;
    }
    const auto vendor = Parse<std::uint16_t>(words[2].substr(0, 4), 16);
    const auto product = Parse<std::uint16_t>(words[2].substr(5), 16);
    const auto in = Parse<std::uint16_t>(words[4], 10);
    const auto out = Parse<std::uint16_t>(words[6], 10);
    if (!vendor || !product || !in || !out || *in > kMaxReportBytes || *out > kMaxReportBytes) {
        return std::nullopt;
    }
    LoggedDevice device;
    device.vendorId = *vendor;
    device.productId = *product;
    device.caps.inputReportByteLength = *in;
    device.caps.outputReportByteLength = *out;
    if (serial) {
        // The serial may hold spaces: it is the rest of the line after the eighth word.
        constexpr std::string_view kBlanks = " \t\n\v\f\r";
        std::size_t at = 0;
        for (int word = 0; word < 8; ++word) {
            at = line.find_first_of(kBlanks, line.find_first_not_of(kBlanks, at));
        }
        device.serial = line.substr(at + 1);
    }
    return device;
}

// words: "MS OUT|IN XX XX ...".
std::optional<std::vector<std::uint8_t>> ReportBytes(const std::vector<std::string>& words) {
    if (words.size() < 3 || words.size() - 2 > kMaxReportBytes) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const auto byte = words[i].size() == 2 ? Parse<std::uint8_t>(words[i], 16) : std::nullopt;
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(*byte);
    }
    return bytes;
}

}  // namespace

std::string DevicePath(std::string pattern, std::size_t index) {
    const std::string digits = std::to_string(index);
    for (std::size_t at = pattern.find(kDeviceIndexField); at != std::string::npos;
         at = pattern.find(kDeviceIndexField, at + digits.size())) {
        pattern.replace(at, kDeviceIndexField.size(), digits);
    }
    return pattern;
}

std::string HexDigits(unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0x0F];
    }
    return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += HexDigits(byte, 2);
    }
    return text;
}

ReportLog::ReportLog(HidClass& inner, Clock& clock, std::ostream& out)
    : inner_(inner), clock_(clock), out_(out), start_(clock.TickCount()) {}

Guid ReportLog::HidGuid() {
    return inner_.HidGuid();
}

bool ReportLog::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    return inner_.GetAttributes(handle, attributes);
}

bool ReportLog::GetSerialNumber(DeviceHandle handle, std::string& serial) {
    return inner_.GetSerialNumber(handle, serial);
}

// The capabilities are asked for each time a device is opened: the log names the device there,
// so that a replay knows which device answered which reports.
bool ReportLog::GetCaps(DeviceHandle handle, HidCaps& caps) {
    if (!inner_.GetCaps(handle, caps)) {
        return false;
    }
    HidAttributes attributes;
    if (inner_.GetAttributes(handle, attributes)) {
        const std::string ids =
            HexDigits(attributes.vendorId, 4) + ":" + HexDigits(attributes.productId, 4);
        std::string serial;
        const bool hasSerial = inner_.GetSerialNumber(handle, serial);
        out_ << std::to_string(ElapsedMs(start_, clock_.TickCount())) + " DEVICE " + ids + " IN " +
                    std::to_string(caps.inputReportByteLength) + " OUT " +
                    std::to_string(caps.outputReportByteLength) +
                    (hasSerial ? " SERIAL " + PrintableSerial(serial) : "") + "\n"
             << std::flush;
    }
    return true;
}

bool ReportLog::SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                                SystemError& error) {
    const bool sent = inner_.SetOutputReport(handle, report, error);
    if (sent) {
        Write("OUT", report);
    }
    return sent;
}

bool ReportLog::GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                               SystemError& error) {
    const bool received = inner_.GetInputReport(handle, report, error);
    if (received) {
        Write("IN", report);
    }
    return received;
}

void ReportLog::NoteCause(std::string_view cause) {
    std::string text(cause);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    out_ << std::to_string(ElapsedMs(start_, clock_.TickCount())) + " CAUSE " + text + "\n"
         << std::flush;
}

void ReportLog::Write(const char* direction, std::span<const std::uint8_t> report) {
    std::string line = std::to_string(ElapsedMs(start_, clock_.TickCount())) + " " + direction;
    if (!report.empty()) {
        line += " " + HexBytes(report);
    }
    out_ << line + "\n" << std::flush;
}

std::optional<LoggedSession> ReadReportLog(std::istream& in, std::string& error) {
    if (const std::optional<std::streamoff> size = Remaining(in); size && *size > kMaxLogBytes) {
        error = "larger than " + std::to_string(kMaxLogBytes >> 20) +
                " MiB, more than the reader takes: an update's log is a few MiB at most";
        return std::nullopt;
    }
    LoggedSession session;
    std::vector<LoggedReport> reports;  // of a log without DEVICE lines
    bool deviceLines = false;
    std::uint32_t lastMs = 0;
    std::string line;
    std::size_t number = 0;
    const auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    for (bool longLine = false; NextLine(in, line, longLine);) {
        ++number;
        if (longLine) {
            return fail("longer than " + std::to_string(kMaxLineLength) +
                        " characters, more than a report log line holds");
        }
        const std::vector<std::string> words = Words(line);
        if (words.empty()) {
            continue;
        }
        const std::optional<std::uint32_t> ms =
            words[0].size() <= 10 ? Parse<std::uint32_t>(words[0], 10) : std::nullopt;
        if (!ms || words.size() < 2) {
            return fail("not a line of a report log: '" + line.substr(0, 60) + "'");
        }
        if (*ms < lastMs) {
            return fail("the time goes back, from " + std::to_string(lastMs) + " ms to " +
                        std::to_string(*ms) + " ms");
        }
        lastMs = *ms;
        if (words[1] == "DEVICE") {
            std::optional<LoggedDevice> device = DeviceLine(words, line);
            if (!device) {
                return fail("expected DEVICE VVVV:PPPP IN n OUT m [SERIAL text]: '" +
                            line.substr(0, 60) + "'");
            }
            if (!reports.empty()) {
                return fail("a DEVICE line after reports without one");
            }
            deviceLines = true;
            device->line = number;
            device->ms = *ms;
            // The device opened again without leaving the bus is the same appearance.
            if (session.devices.empty() || session.devices.back().productId != device->productId) {
                session.devices.push_back(std::move(*device));
            } else {
                session.devices.back().caps = device->caps;
            }
            continue;
        }
        if (words[1] == "CAUSE") {
            session.cause = line.substr(line.find("CAUSE") + 6);
            continue;
        }
        if (words[1] != "OUT" && words[1] != "IN") {
            return fail("expected DEVICE, CAUSE, OUT or IN after the time: '" + line.substr(0, 60) +
                        "'");
        }
        std::optional<std::vector<std::uint8_t>> bytes = ReportBytes(words);
        if (!bytes) {
            return fail("a report is 1 to " + std::to_string(kMaxReportBytes) +
                        " bytes, each two hex digits: '" + line.substr(0, 60) + "'");
        }
        LoggedReport report{number, *ms, words[1] == "OUT", std::move(*bytes)};
        if (deviceLines) {
            session.devices.back().reports.push_back(std::move(report));
        } else {
            reports.push_back(std::move(report));
        }
    }
    session.lines = number;
    if (!deviceLines) {
        if (reports.empty()) {
            error = "the log holds no reports";
            return std::nullopt;
        }
        if (!SplitOldLog(std::move(reports), session, error)) {
            return std::nullopt;
        }
    }
    return session;
}

}  // namespace torvane
