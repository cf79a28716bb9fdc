// The device list: every family device among the present HID interfaces, under its model text.
#include <algorithm>

#include "app/torvane_dlg.h"
#include "protocol/family.h"

namespace torvane {

void CTorvaneDlg::ScanDevices() {
    view_.ResetDevices();
    hidGuid = hid_.HidGuid();
    CUsbDevice device(interfaces_, view_, WindowHandle{}, hidGuid, false);
    const std::uint8_t count = device.CountDevices();
    std::int32_t n = 0;
    for (std::uint8_t i = 0; i < count; ++i) {
        if (!device.OpenHandle(i)) {
            continue;
        }
        HidAttributes attributes;
        const bool identified = hid_.GetAttributes(device.deviceHandle, attributes);
        device.OpenDevice(i);
        const std::string_view text = family::ListText(attributes.vendorId, attributes.productId);
        // A device whose attributes cannot be read is not listed, and the table has 128 rows.
        if (identified && !text.empty() && n < static_cast<std::int32_t>(kDeviceTableRows)) {
            view_.AddDevice(std::string(text));
            const auto row = static_cast<std::size_t>(n);
            listedIndices[row] = i;
            listedLocations[row] = device.LocationPath();
            listedGuids[row] = hidGuid;
            ++n;
        }
        device.CloseDevice();
    }
    listedCount = n;
}

}  // namespace torvane
