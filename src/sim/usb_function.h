// A USB function served by the access layer's USB function driver: it answers the driver's I/O
// control codes from a descriptor set and moves data on the endpoints of its active interfaces.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/descriptor_sets.h"
#include "sim/sim_function.h"

namespace torvane::sim {

// The device interface class under which the driver's interfaces appear.
inline constexpr Guid kUsbFunctionClassGuid{
    0x8F3A2C61, 0x5B7E, 0x4D09, {0xA1, 0x6C, 0x2E, 0x90, 0x47, 0xD3, 0x5B, 0x18}};

// Status words the driver writes into a request block.
inline constexpr std::uint32_t kNtStatusUnsuccessful = 0xC0000001;
inline constexpr std::uint32_t kNtStatusInvalidParameter = 0xC000000D;
inline constexpr std::uint32_t kUsbdStatusStallPid = 0xC0000004;
inline constexpr std::uint32_t kUsbdStatusInvalidParameter = 0x80000300;
inline constexpr std::uint32_t kUsbdStatusInvalidPipeHandle = 0x80000600;

struct UsbFunctionConfig {
    DescriptorSet descriptors;
    std::string locationPath;
    std::uint8_t usbAddress = 7;
    std::uint32_t driverVersion = 0x00020001;
    std::uint32_t usbdiVersion = 0x00000600;
    std::string deviceName = "\\Device\\USBPDO-7";
    std::string friendlyName = "Torvane USB Function";
};

// Codes served (any other fails with kErrorInvalidFunction):
//   0x220000 driver version, 0x220004 USBDI version (u32); 0x220008 alternate setting of
//   interface 0, 0x220010 USB address (u8); 0x22003C device name, 0x220040 friendly name (256
//   bytes, zero-padded); 0x22004C speed (u32). A buffer too small for the answer fails with
//   kErrorInsufficientBuffer.
//   0x220020 control transfer on a request block: GET_DESCRIPTOR for the device, configuration,
//   string and BOS descriptors; any other request stalls.
//   0x220024 buffered and 0x22004B direct transfers on the endpoints of the active alternate
//   settings of configuration 0. OUT endpoints keep what they receive; IN endpoints return what
//   the OUT endpoints received and no IN transfer has returned yet, or else the pattern byte i =
//   address + i. Isochronous transfers move at most one packet of the endpoint's size per 8-byte
//   record, and buffered ones fill the records: u32 USBD status, u32 bytes of the packet.
// A block shorter than its 38-byte header fails with kErrorInvalidParameter; offsets and lengths
// outside the block get kNtStatusInvalidParameter and kUsbdStatusInvalidParameter, an endpoint
// that is not active kUsbdStatusInvalidPipeHandle, a stall kUsbdStatusStallPid; such answers
// are the 38-byte header. Direct transfers write their statuses and packet records into the
// caller's header and their data into the caller's buffer.
class UsbFunction final : public SimFunction {
public:
    explicit UsbFunction(UsbFunctionConfig config);

    std::optional<SimInterface> Interface(std::uint32_t now) override;
    bool IoControl(std::uint32_t now, std::uint32_t code, std::span<std::uint8_t> input,
                   std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                   SystemError& error) override;

    // Knobs for tests, from any thread.
    void SetAlternateSetting(std::uint8_t alternate);
    // Every answered control transfer block goes through edit on its way back, as a driver that
    // rewrites the fields of its request blocks; edit runs under the function's lock.
    void EditControlAnswers(std::function<void(std::span<std::uint8_t>)> edit);
    // Takes the function off the bus, or brings it back as a new arrival.
    void SetPresent(bool present);

    // Everything OUT endpoint address has received, in order.
    std::vector<std::uint8_t> Received(std::uint8_t address) const;

private:
    struct Endpoint {
        std::uint8_t address;
        std::uint8_t type;          // bits 0 and 1 of bmAttributes
        std::uint32_t packetBytes;  // bytes per service interval

        bool Isochronous() const { return type == 1; }
    };
    struct Answer {
        bool ok = true;
        std::uint32_t bytes = 0;
        std::uint32_t error = 0;
    };

    std::uint8_t AlternateOfInterface0() const;
    Answer Query(std::uint32_t code, std::span<std::uint8_t> reply) const;
    Answer ControlTransfer(std::span<std::uint8_t> block);
    Answer BufferedTransfer(std::span<std::uint8_t> block);
    Answer DirectTransfer(std::span<std::uint8_t> header, std::span<std::uint8_t> data);
    // The data bytes of a control request, nullopt when it stalls.
    std::optional<std::size_t> Setup(std::uint8_t requestType, std::uint8_t request,
                                     std::uint16_t value, std::uint16_t index,
                                     std::span<std::uint8_t> data);
    const DescriptorBytes* Descriptor(std::uint8_t type, std::uint8_t index,
                                      std::uint16_t language) const;
    std::optional<Endpoint> FindEndpoint(std::uint8_t address) const;
    // Moves data to or from the endpoint; the bytes moved.
    std::size_t Move(const Endpoint& endpoint, std::span<std::uint8_t> data);

    UsbFunctionConfig config_;
    bool present_ = true;
    std::uint32_t generation_ = 1;
    std::map<std::uint8_t, std::uint8_t> alternates_;  // by interface number; absent: 0
    std::function<void(std::span<std::uint8_t>)> edit_;
    std::map<std::uint8_t, std::vector<std::uint8_t>> received_;
    std::deque<std::uint8_t> loopback_;  // OUT data that no IN transfer has returned yet
};

}  // namespace torvane::sim
