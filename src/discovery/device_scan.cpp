#include "discovery/device_scan.h"

#include "protocol/family.h"
#include "usb/usb_device.h"

namespace torvane {

DeviceTable ScanDevices(DeviceInterfaces& interfaces, HidClass& hid, MessageSink& messages) {
    DeviceTable table;
    const Guid hidGuid = hid.HidGuid();
    CUsbDevice device(interfaces, messages, WindowHandle{}, hidGuid, false);
    device.UseEnumeration(interfaces.Enumerate(hidGuid));
    const std::uint8_t count = device.CountDevices();
    for (std::uint8_t i = 0; i < count; ++i) {
        if (!device.OpenHandle(i)) {
            continue;
        }
        HidAttributes attributes;
        const bool identified = hid.GetAttributes(device.deviceHandle, attributes);
        device.OpenDevice(i);
        const std::string_view text = family::ListText(attributes.vendorId, attributes.productId);
        if (identified && !text.empty() && table.size() < kDeviceTableRows) {
            std::string serial;
            if (!hid.GetSerialNumber(device.deviceHandle, serial)) {
                serial.clear();
            }
            table.push_back(
                {std::string(text), i, device.LocationPath(), hidGuid, PrintableSerial(serial)});
        }
        if (!device.CloseDevice()) {
            break;
        }
    }
    return table;
}

}  // namespace torvane
