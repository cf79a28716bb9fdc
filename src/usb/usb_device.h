// The device object of the USB access layer: finds the present interfaces of one device interface
// class, opens one by its index, reads its descriptors and driver data through the USB function
// driver, and builds its configuration, interface and endpoint objects.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/device_interfaces.h"
#include "platform/message_sink.h"
#include "platform/types.h"
#include "usb/usb_bos_object.h"
#include "usb/usb_configuration.h"
#include "usb/usb_control_endpoint.h"

namespace torvane {

class RequestBlock;

class CUsbDevice {
public:
    // Configurations past the second are not fetched.
    static constexpr std::size_t kConfigSlots = 2;

    // Registers for interface notifications when notifyWindow is given; opens list index 0 at
    // once when openFirst is set. Messages about bad descriptor tables and refused closes go to
    // messages.
    CUsbDevice(DeviceInterfaces& system, MessageSink& messages, WindowHandle notifyWindow,
               Guid interfaceGuid, bool openFirst);
    // Closes the device; a failure on the way is sent to the debug trace, never thrown.
    ~CUsbDevice();
    CUsbDevice(const CUsbDevice&) = delete;
    CUsbDevice& operator=(const CUsbDevice&) = delete;

    // Enumeration, open and close. A close the system refuses is shown as a message and ends the
    // operation there, the handle kept: the close operations return false, an open fails.
    // With a snapshot, counts and opens take the interfaces from it instead of asking the system
    // each time: a scan over n interfaces then enumerates once, not 4n times.
    void UseEnumeration(std::optional<std::vector<InterfaceEntry>> snapshot);
    std::uint8_t CountDevices();
    // Opens the interface at index in place of the handle held, which is closed on every way past
    // the count; an index not counted changes nothing.
    bool OpenHandle(std::uint8_t index);
    bool OpenDevice(std::uint8_t index);
    bool CloseDevice();
    bool ReleaseHandle();
    bool RegisterInterfaceNotification(WindowHandle window);

    // Driver control channel and queries.
    bool SendIoControl(std::uint32_t code, std::span<std::uint8_t> buffer);
    std::uint8_t QueryAltSetting();
    void QueryUsbAddress();
    void QueryDeviceName();
    void QueryFriendlyName();
    void QueryDriverVersion();
    void QueryUsbdiVersion();
    void QuerySpeed();

    // Descriptor retrieval and interface binding.
    void FetchDeviceDescriptor();
    void FetchLanguageId();
    void FetchStringDescriptor(std::array<char16_t, 256>& dest, std::uint8_t index);
    void FetchConfigDescriptor(std::uint8_t index);
    bool FetchBosDescriptor();
    void SelectConfiguration(std::uint8_t value);
    void SelectAltSetting(std::uint8_t alt);
    std::uint8_t CurrentEndpointCount();
    void BindEndpoints();

    // The first string of locationPaths: the USB port of the opened interface's device; empty
    // when the device has none or its path is too long to hold whole.
    std::string LocationPath() const;

    // Fields; callers read them directly.
    CUsbInterface* currentInterface = nullptr;
    std::unique_ptr<CUsbBosObject> bosObject;
    CUsbEndPoint* isocInEndpoint = nullptr;
    CUsbEndPoint* isocOutEndpoint = nullptr;
    CUsbEndPoint* bulkInEndpoint = nullptr;
    CUsbEndPoint* bulkOutEndpoint = nullptr;
    // Owned here for its whole life; bound interfaces only point to it from their entry 0.
    std::unique_ptr<CUsbControlEndPoint> controlEndpoint;
    CUsbEndPoint* interruptInEndpoint = nullptr;
    CUsbEndPoint* interruptOutEndpoint = nullptr;
    std::uint16_t languageId = 0;
    std::uint32_t lastError = 0;
    // The system's error of the last handle open that failed, in its own words.
    SystemError openError;
    std::uint32_t usbdStatus = 0;
    std::uint32_t ntStatus = 0;
    std::uint32_t driverVersion = 0;
    std::uint32_t usbdiVersion = 0;
    std::array<char, 256> deviceName{};
    std::array<char, 256> friendlyName{};
    std::array<char16_t, 256> manufacturer{};
    std::array<char16_t, 256> product{};
    std::array<char16_t, 256> serialNumber{};
    std::array<char, 256> devicePath{};
    std::array<char, 256> locationPaths{};
    std::array<char, 256> locationInformation{};
    std::uint16_t bcdUSB = 0;
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint8_t usbAddress = 0;
    std::uint8_t bDeviceClass = 0;
    std::uint8_t bDeviceSubClass = 0;
    std::uint8_t bDeviceProtocol = 0;
    std::int32_t maxPacketSize0 = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t configValue = 0;
    std::uint8_t configAttributes = 0;
    std::uint8_t maxPower = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
    bool isHighSpeed = false;
    bool isSuperSpeed = false;
    std::uint32_t bytesReturned = 0;
    std::array<std::uint8_t, 18> deviceDescriptor{};
    // Blocks by configuration index; an empty block stands for none.
    std::array<std::vector<std::uint8_t>, kConfigSlots> configDescriptors;
    std::vector<std::uint8_t> bosDescriptorBlock;
    std::array<std::unique_ptr<CUsbConfiguration>, kConfigSlots> configurations;
    WindowHandle notifyWindow;
    DeviceHandle deviceHandle;
    NotificationHandle interfaceNotification;
    NotificationHandle handleNotification;
    Guid interfaceGuid;
    std::uint8_t deviceCount = 0;
    std::uint8_t numInterfaces = 0;
    std::uint8_t interfaceCount = 0;
    std::uint8_t configCount = 0;
    std::uint8_t deviceIndex = 0;
    std::uint8_t configIndex = 0;
    std::uint8_t interfaceNumber = 0;
    std::uint8_t altIndex = 0;

private:
    // One GET_DESCRIPTOR request for length bytes; the statuses are copied from the block
    // afterwards (ntStatus only when copyNtStatus). The answer: the length bytes of block at the
    // data offset the driver gave back. nullopt when the request failed or block does not hold
    // them all there, whatever the driver wrote into the block's fields.
    std::optional<std::span<const std::uint8_t>> GetDescriptor(
        std::uint8_t type, std::uint8_t index, std::uint16_t wIndex, std::uint16_t length,
        RequestBlock& block, bool copyNtStatus = true);
    // The present interfaces: the snapshot when one is in use, else the system's answer now
    // (valid until the next call).
    const std::optional<std::vector<InterfaceEntry>>& Enumerate();
    // Reads a 4-byte answer into value; value is 0 when the request fails or the device is closed.
    void QueryWord(std::uint32_t code, std::uint32_t& value);
    // Clears text and, on an open device, lets the driver fill it.
    void QueryText(std::uint32_t code, std::array<char, 256>& text);
    // Closes the handle and its notification. The text of the step the system refused, the
    // handle kept; nullptr once both are closed.
    const char* CloseHandle();
    // Forgets the closed device: its location, descriptors and what the open built.
    void ForgetDevice();
    // Frees what the open built, after the handle is closed.
    void ReleaseObjects();
    CUsbConfiguration* SelectedConfiguration() const;

    DeviceInterfaces& system_;
    MessageSink& messages_;
    // The descriptor header the string and language fetches take from their first answer.
    std::array<std::uint8_t, 2> cmnDescriptor_{};
    bool snapshotInUse_ = false;
    std::optional<std::vector<InterfaceEntry>> entries_;
};

}  // namespace torvane
