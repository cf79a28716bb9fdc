// The configuration walk, plain and SuperSpeed, on any configuration block: the first byte
// chooses the walk, the rest is the block.
#include "fuzz_input.h"
#include "sim/sim_device_interfaces.h"
#include "sim/virtual_clock.h"
#include "usb/text_error.h"
#include "usb/usb_configuration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    using fuzz::Require;
    static sim::VirtualClock clock;
    static sim::VirtualBus bus(clock);
    static sim::SimDeviceInterfaces system(bus);

    fuzz::FuzzInput input(data, size);
    const bool superSpeedWalk = (input.Byte() & 1) != 0;
    const std::span<const std::uint8_t> block = input.Rest();
    try {
        const CUsbConfiguration configuration(system, DeviceHandle{0x10}, block, superSpeedWalk);
        Require(configuration.interfaceCount <= configuration.interfaces.size(),
                "at most eight interfaces");
        for (std::size_t i = 0; i < configuration.interfaces.size(); ++i) {
            const CUsbInterface* setting = configuration.interfaces[i].get();
            Require((setting != nullptr) == (i < configuration.interfaceCount),
                    "interfaces fill the first entries");
            if (setting == nullptr) {
                continue;
            }
            Require(setting->altSettingCount >= 1, "an interface counts itself");
            Require(setting->endpoints[0] == nullptr, "entry 0 is the device's to set");
            for (std::size_t k = setting->bNumEndpoints + std::size_t{1};
                 k < setting->endpoints.size(); ++k) {
                Require(setting->endpoints[k] == nullptr, "no endpoint past bNumEndpoints");
            }
        }
    } catch (const TextError& error) {
        Require(!error.text().empty(), "a refused block says why");
    }
    return 0;
}
