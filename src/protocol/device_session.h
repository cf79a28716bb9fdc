// The device session and its report exchange: five operations over HID output and input reports.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>

#include "firmware/image_record.h"
#include "platform/clock.h"
#include "platform/hid_class.h"
#include "platform/message_sink.h"
#include "protocol/family.h"

namespace torvane {

// The only echo of record that the boot loader may give: the 40-byte write-record reply.
std::array<std::uint8_t, family::kBootReportSize> WriteEcho(const ImageRecord& record);

class DeviceSession {
public:
    DeviceSession(HidClass& hid, Clock& clock, MessageSink& messages);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Switches an application into its boot loader (nothing is sent when bootMode is set
    // already); sets bootMode. Always true.
    bool EnterDownloadMode();
    // Erases the application and waits for the boot loader to confirm; false after telling the
    // user "FirmWare erase failure".
    bool EraseFirmware();
    // Sends one record; true when the boot loader echoes it exactly.
    bool WriteRecord(ImageRecord record);
    // Starts the application. Always true.
    bool RunFirmware();
    // Fills version (three ASCII digits from a boot loader, four bytes from an application, which
    // also delivers deviceIdentity); without a matching reply both stay as they were and the
    // result is false.
    bool QueryFirmwareVersion(std::array<std::uint8_t, 4>& version);

    // The session's fields; the owner fills handle and capabilities after each open.
    DeviceHandle sessionHandle{};
    HidAttributes sessionAttributes{};
    HidCaps sessionCaps{};
    std::int32_t bootMode = 0;
    std::array<std::uint8_t, family::kAppReportSize> appInputReport{};
    std::array<std::uint8_t, family::kAppReportSize> appOutputReport{};
    std::array<std::uint8_t, family::kBootReportSize> bootInputReport{};
    std::array<std::uint8_t, family::kBootReportSize> bootOutputReport{};
    std::array<std::uint8_t, 8> deviceIdentity{};

private:
    // Starts an output report in buffer: zeroes it and writes ID, preamble and command.
    static void BeginReport(std::span<std::uint8_t> buffer, family::Command command);
    // Sends buffer with the announced output length: cut, or zero-filled beyond the buffer.
    void Send(std::span<const std::uint8_t> buffer);
    // Reads an input report of the announced length into the zeroed buffer, keeping what fits.
    void Receive(std::span<std::uint8_t> buffer);

    HidClass& hid_;
    Clock& clock_;
    MessageSink& messages_;
    // Held by each operation from its first send to its last receive, sleeps included.
    std::mutex reportLock_;
};

}  // namespace torvane
