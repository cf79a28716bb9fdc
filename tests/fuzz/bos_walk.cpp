// The BOS walk on any BOS block.
#include "fuzz_input.h"
#include "usb/text_error.h"
#include "usb/usb_bos_object.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    using fuzz::Require;
    try {
        const CUsbBosObject bos(std::span(data, size));
        // Each record was built from a capability of its own type.
        Require(!bos.usb20Extension || bos.usb20Extension->bDevCapabilityType == 2,
                "the USB 2.0 Extension record is of type 2");
        Require(!bos.superSpeedUsb || bos.superSpeedUsb->bDevCapabilityType == 3,
                "the SuperSpeed USB record is of type 3");
        Require(!bos.containerId || bos.containerId->bDevCapabilityType == 4,
                "the Container ID record is of type 4");
    } catch (const TextError& error) {
        Require(!error.text().empty(), "a refused block says why");
    }
    return 0;
}
