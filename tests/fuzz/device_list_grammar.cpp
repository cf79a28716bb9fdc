// The DEVICES grammar of --simulate on any text.
#include <set>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "sim/device_list_grammar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    using fuzz::Require;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto devices = sim::ParseDeviceList(text, error);
    if (!devices) {
        Require(!error.empty(), "a refusal says why");
        return 0;
    }
    Require(!devices->empty(), "a family has a device");
    // Every device, and every port a device comes back at, has a port of its own.
    std::set<std::string> ports;
    std::size_t named = 0;
    for (const sim::FamilyDeviceConfig& device : *devices) {
        for (const std::string* path : {&device.locationPath, &device.faults.returnLocationPath}) {
            if (!path->empty()) {
                ports.insert(*path);
                ++named;
            }
        }
    }
    Require(ports.size() == named, "no two devices share a port");
    return 0;
}
