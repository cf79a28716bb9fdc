// Reading the selected device: supported or not, boot loader or application, and its version.
#include <array>
#include <cstdio>

#include "app/torvane_dlg.h"
#include "protocol/family.h"

namespace torvane {
namespace {

// List texts of supported devices contain one of these, tested in this order.
constexpr std::array<std::string_view, 3> kSupportedNames{"QMX", "Z51-Arud", "TZN"};

std::string FormatVersion(int a, int b, int c) {
    char text[48];
    std::snprintf(text, sizeof text, "%d.%d.%d", a, b, c);
    return text;
}

}  // namespace

bool CTorvaneDlg::OpenEntry(int k, std::string& location) {
    if (k < 0 || k >= listedCount) {
        return false;
    }
    const auto row = static_cast<std::size_t>(k);
    currentDevice = std::make_unique<CUsbDevice>(interfaces_, view_, view_.MainWindow(),
                                                 listedGuids[row], false);
    currentDevice->OpenDevice(listedIndices[row]);
    if (!currentDevice->OpenHandle(listedIndices[row])) {
        return false;
    }
    session.sessionHandle = currentDevice->deviceHandle;
    hid_.GetAttributes(session.sessionHandle, session.sessionAttributes);
    hid_.GetCaps(session.sessionHandle, session.sessionCaps);
    location = currentDevice->LocationPath();
    return true;
}

void CTorvaneDlg::SelectDevice() {
    if (view_.DeviceCount() <= 0) {
        view_.ShowTexts(pathStatusText, versionText);
        return;
    }
    currentDevice.reset();
    const int selection = view_.Selection();
    // No selection reads as an empty entry, and so as unsupported.
    const std::string text =
        selection >= 0 && selection < listedCount ? view_.DeviceText(selection) : std::string();
    deviceSupported = 0;
    session.bootMode = 0;
    for (const std::string_view name : kSupportedNames) {
        if (text.find(name) != std::string::npos) {
            deviceSupported = 1;
            break;
        }
    }
    if (deviceSupported == 0) {
        view_.ShowTexts(pathStatusText, versionText);
        return;
    }
    std::string location;
    if (!OpenEntry(selection, location)) {
        view_.ShowMessage("QM Device create handle failed!\n");
        return;
    }
    if (session.sessionAttributes.vendorId == family::kVendorId &&
        session.sessionAttributes.productId == family::kBootLoaderProductId) {
        session.bootMode = 1;
    }
    // A query without an answer shows 0.0.0: a boot loader's digits start as '0'.
    std::array<std::uint8_t, 4> version{};
    if (session.bootMode != 0) {
        version = {'0', '0', '0', 0};
    }
    session.QueryFirmwareVersion(version);
    if (session.bootMode != 0) {
        versionText = FormatVersion(version[0] - 48, version[1] - 48, version[2] - 48);
    } else {
        versionText = FormatVersion(version[0], version[1], version[2]);
        firmwareMajor = version[0];
    }
    currentDevice.reset();
    view_.ShowTexts(pathStatusText, versionText);
}

}  // namespace torvane
