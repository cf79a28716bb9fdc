// The device session and its report exchange: five operations over HID output and input reports.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "firmware/firmware_version.h"
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
    // Starts the application; false when the system refused the command (the device may still
    // be in its boot loader).
    bool RunFirmware();
    // Fills version (three ASCII digits from a boot loader, four bytes from an application, which
    // also delivers deviceIdentity); without a matching reply both stay as they were and the
    // result is false.
    bool QueryFirmwareVersion(std::array<std::uint8_t, 4>& version);

    // Why the last operation that returned false did, as a user reads it: the first transfer the
    // system failed ("the device left the bus (No such device)"), else what the device answered.
    const std::string& failure() const { return failure_; }
    // Whether a transfer of the last operation failed because the device had left the bus.
    bool deviceLeft() const { return deviceLeft_; }

    // The session's fields; the owner fills handle and capabilities after each open.
    DeviceHandle sessionHandle{};
    HidAttributes sessionAttributes{};
    HidCaps sessionCaps{};
    std::int32_t bootMode = 0;
    std::array<std::uint8_t, family::kAppReportSize> appInputReport{};
    std::array<std::uint8_t, family::kAppReportSize> appOutputReport{};
    std::array<std::uint8_t, family::kBootReportSize> bootInputReport{};
    std::array<std::uint8_t, family::kBootReportSize> bootOutputReport{};
    Identity deviceIdentity{};

private:
    // Starts an output report in buffer: zeroes it and writes ID, preamble and command.
    static void BeginReport(std::span<std::uint8_t> buffer, family::Command command);
    // Sends buffer with the announced output length: cut, or zero-filled beyond the buffer.
    void Send(std::span<const std::uint8_t> buffer);
    // Reads an input report of the announced length into the zeroed buffer, keeping what fits.
    void Receive(std::span<std::uint8_t> buffer);
    // Keeps the first failed transfer of an operation as its cause.
    void TransferFailed(const char* what, const SystemError& error);
    // Ends an operation that failed: its cause is the transfer that failed first, else why.
    bool Failed(std::string why);

    HidClass& hid_;
    Clock& clock_;
    MessageSink& messages_;
    // The first failed transfer of the operation in progress, and the last failure's cause.
    std::string transferFailure_;
    std::string failure_;
    bool deviceLeft_ = false;
    // Held by each operation from its first send to its last receive, sleeps included.
    std::mutex reportLock_;
};

}  // namespace torvane
