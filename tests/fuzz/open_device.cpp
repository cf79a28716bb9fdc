// The whole open of the USB access layer, with its configuration and BOS walks, against a driver
// whose answers the fuzzer chooses.
// Input: the bus speed code, the device descriptor, up to 8 string descriptors, up to 3
// configuration blocks and the BOS block (each a 16-bit length and its bytes), as a simulated
// USB function serves them; then, for each request the driver answers, a byte of tampering
// and its values: fail the request (0x01), rewrite the block's data offset (0x02), data length
// (0x04), statuses (0x08), the count of bytes returned (0x10), or any bytes of the answer (0x20).
#include <algorithm>
#include <memory>
#include <utility>

#include "fuzz_input.h"
#include "sim/sim_device_interfaces.h"
#include "sim/usb_function.h"
#include "sim/virtual_clock.h"
#include "usb/io_control_codes.h"
#include "usb/little_endian.h"
#include "usb/request_block.h"
#include "usb/usb_device.h"

namespace torvane::fuzz {
namespace {

// The USB function behind a driver that tampers with its answers.
class HostileFunction final : public sim::SimFunction {
public:
    HostileFunction(sim::UsbFunctionConfig config, FuzzInput& input)
        : function_(std::move(config)), input_(input) {}

    std::optional<sim::SimInterface> Interface(std::uint32_t now) override {
        return function_.Interface(now);
    }
    bool IoControl(std::uint32_t now, std::uint32_t code, std::span<std::uint8_t> request,
                   std::span<std::uint8_t> buffer, std::uint32_t& bytesReturned,
                   SystemError& error) override {
        const bool ok = function_.IoControl(now, code, request, buffer, bytesReturned, error);
        const std::uint8_t tamper = input_.Byte();
        const bool block =
            code == kIoctlControlTransfer && buffer.size() >= RequestBlock::kHeaderSize;
        for (const auto& [bit, at] : {std::pair{0x02, 30}, {0x04, 34}, {0x08, 14}, {0x08, 18}}) {
            if (block && (tamper & bit) != 0) {
                WriteLe32(buffer, at, input_.U32());
            }
        }
        if ((tamper & 0x10) != 0) {
            bytesReturned = input_.U16() % (buffer.size() + 1);
        }
        if ((tamper & 0x20) != 0 && !buffer.empty()) {
            const std::size_t at = input_.U16() % buffer.size();
            const std::span<const std::uint8_t> bytes = input_.Bytes(input_.Byte());
            std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size() - at),
                        buffer.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if ((tamper & 0x01) != 0) {
            error.code = kErrorInvalidFunction;
            return false;
        }
        return ok;
    }

private:
    sim::UsbFunction function_;
    FuzzInput& input_;
};

sim::DescriptorSet Descriptors(FuzzInput& input) {
    sim::DescriptorSet set;
    set.speed = input.Byte();
    set.device = input.Section();
    for (int count = input.Byte() % 9; count > 0; --count) {
        set.strings.push_back(input.Section());
    }
    for (int count = input.Byte() % 4; count > 0; --count) {
        set.configurations.push_back(input.Section());
    }
    set.bos = input.Section();
    return set;
}

// What the configuration and BOS walks built from the blocks the device gave.
void CheckWalks(const CUsbDevice& device) {
    for (const std::unique_ptr<CUsbConfiguration>& configuration : device.configurations) {
        if (!configuration) {
            continue;
        }
        Require(configuration->interfaceCount <= configuration->interfaces.size(),
                "at most eight interfaces");
        for (std::size_t i = 0; i < configuration->interfaces.size(); ++i) {
            const CUsbInterface* setting = configuration->interfaces[i].get();
            Require((setting != nullptr) == (i < configuration->interfaceCount),
                    "interfaces fill the first entries");
            Require(!setting || setting->altSettingCount >= 1, "an interface counts itself");
            for (std::size_t k = setting ? setting->bNumEndpoints + std::size_t{1} : 0;
                 setting && k < setting->endpoints.size(); ++k) {
                Require(setting->endpoints[k] == nullptr, "no endpoint past bNumEndpoints");
            }
        }
    }
    // Each record was built from a capability of its own type.
    const CUsbBosObject* bos = device.bosObject.get();
    Require(!bos || !bos->usb20Extension || bos->usb20Extension->bDevCapabilityType == 2,
            "the USB 2.0 Extension record is of type 2");
    Require(!bos || !bos->superSpeedUsb || bos->superSpeedUsb->bDevCapabilityType == 3,
            "the SuperSpeed USB record is of type 3");
    Require(!bos || !bos->containerId || bos->containerId->bDevCapabilityType == 4,
            "the Container ID record is of type 4");
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    fuzz::FuzzInput input(data, size);
    sim::UsbFunctionConfig config;
    config.descriptors = fuzz::Descriptors(input);
    config.locationPath = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)";

    sim::VirtualClock clock;
    sim::VirtualBus bus(clock);
    bus.Attach(std::make_shared<fuzz::HostileFunction>(config, input));
    sim::SimDeviceInterfaces driver(bus);
    test::RecordingMessages messages;
    CUsbDevice device(driver, messages, WindowHandle{0x5150}, sim::kUsbFunctionClassGuid, false);
    const bool opened = device.OpenDevice(0);
    fuzz::CheckWalks(device);
    if (opened) {
        device.SelectAltSetting(input.Byte());
        device.CurrentEndpointCount();
    }
    fuzz::Require(device.LocationPath().size() < device.locationPaths.size(),
                  "the location path ends inside its field");
    return 0;
}
