// HID class seam on HID.DLL.
#include <windows.h>
// hidsdi.h needs the base types above it; it brings hidpi.h along and, in this SDK, declares its
// functions without C linkage of its own.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <array>
#include <cwchar>
#include <iterator>

#include "platform/hid_class.h"

namespace torvane {
namespace {

HANDLE ToHandle(DeviceHandle handle) {
    return reinterpret_cast<HANDLE>(handle.value);
}

// A transfer's result, with the thread's last error when it failed.
bool Reported(BOOLEAN done, SystemError& error) {
    if (!done) {
        error = DescribeSystemError(::GetLastError());
    }
    return done != FALSE;
}

class Win32HidClass final : public HidClass {
public:
    Guid HidGuid() override {
        GUID system{};
        ::HidD_GetHidGuid(&system);
        Guid guid{system.Data1, system.Data2, system.Data3, {}};
        std::copy(std::begin(system.Data4), std::end(system.Data4), guid.data4.begin());
        return guid;
    }

    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        HIDD_ATTRIBUTES system{};
        system.Size = sizeof system;
        if (!::HidD_GetAttributes(ToHandle(handle), &system)) {
            return false;
        }
        attributes.size = system.Size;
        attributes.vendorId = system.VendorID;
        attributes.productId = system.ProductID;
        attributes.versionNumber = system.VersionNumber;
        return true;
    }

    bool GetSerialNumber(DeviceHandle handle, std::string& serial) override {
        // A USB string descriptor holds at most 126 UTF-16 units; the driver may fill the buffer
        // without a terminating zero, so one more is kept.
        std::array<wchar_t, 128> text{};
        if (!::HidD_GetSerialNumberString(
                ToHandle(handle), text.data(),
                static_cast<ULONG>((text.size() - 1) * sizeof(wchar_t)))) {
            return false;
        }
        const int units = static_cast<int>(std::wcslen(text.data()));
        std::array<char, 128 * 3> bytes{};
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, bytes.data(),
                                               static_cast<int>(bytes.size()), nullptr, nullptr);
        serial.assign(bytes.data(), static_cast<std::size_t>(std::max(size, 0)));
        return !serial.empty();
    }

    bool GetCaps(DeviceHandle handle, HidCaps& caps) override {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!::HidD_GetPreparsedData(ToHandle(handle), &preparsed)) {
            return false;
        }
        HIDP_CAPS system{};
        const bool ok = ::HidP_GetCaps(preparsed, &system) == HIDP_STATUS_SUCCESS;
        ::HidD_FreePreparsedData(preparsed);
        if (!ok) {
            return false;
        }
        caps.usage = system.Usage;
        caps.usagePage = system.UsagePage;
        caps.inputReportByteLength = system.InputReportByteLength;
        caps.outputReportByteLength = system.OutputReportByteLength;
        caps.featureReportByteLength = system.FeatureReportByteLength;
        return true;
    }

    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override {
        // The driver takes a non-const buffer but only reads it.
        return Reported(
            ::HidD_SetOutputReport(ToHandle(handle), const_cast<std::uint8_t*>(report.data()),
                                   static_cast<ULONG>(report.size())),
            error);
    }

    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override {
        return Reported(::HidD_GetInputReport(ToHandle(handle), report.data(),
                                              static_cast<ULONG>(report.size())),
                        error);
    }
};

}  // namespace

HidClass& SystemHidClass() {
    static Win32HidClass hid;
    return hid;
}

}  // namespace torvane
