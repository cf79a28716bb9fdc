#include "usb/usb_device.h"

#include <gtest/gtest.h>

#include "sim/family_device.h"
#include "sim/sim_device_interfaces.h"
#include "sim/usb_function.h"
#include "sim/virtual_clock.h"
#include "support/recording_messages.h"
#include "support/usb_fakes.h"
#include "usb/little_endian.h"
#include "usb/request_block.h"
#include "usb/usb_isoc_endpoint.h"

namespace torvane {
namespace {

using sim::DescriptorSet;
using sim::kHidClassGuid;
using sim::kUsbFunctionClassGuid;

constexpr WindowHandle kWindow{0x5150};

// A bus with USB functions and family devices, and device objects opened on it.
class UsbDeviceTest : public ::testing::Test {
protected:
    std::shared_ptr<sim::UsbFunction> Plug(DescriptorSet descriptors, std::string location) {
        auto function = std::make_shared<sim::UsbFunction>(sim::UsbFunctionConfig{
            .descriptors = std::move(descriptors), .locationPath = std::move(location)});
        bus.Attach(function);
        return function;
    }
    void PlugFamilyDevice(std::string location) {
        bus.Attach(std::make_shared<sim::FamilyDevice>(
            sim::FamilyDeviceConfig::ForModel(0x1F02, std::move(location))));
    }
    std::unique_ptr<CUsbDevice> Device(Guid guid, WindowHandle window = {}) {
        return std::make_unique<CUsbDevice>(system, messages, window, guid, false);
    }

    sim::VirtualClock clock;
    sim::VirtualBus bus{clock};
    sim::SimDeviceInterfaces system{bus};
    test::RecordingMessages messages;
};

// The selection's second open fails before it reaches the device: the handle of the first open
// is closed on the way, not dropped.
TEST(UsbDeviceHandles, AFailedSecondOpenClosesTheHandleItHeld) {
    const InterfaceEntry good{true, "\\\\?\\hid#1", {}, {}};
    const InterfaceEntry absent{false, good.devicePath, {}, {}};
    const InterfaceEntry noPath{true, {}, {}, {}};
    // What the second open finds: no information set, an entry not present, no device path.
    const std::optional<std::vector<InterfaceEntry>> seconds[] = {
        std::nullopt, std::vector{absent, good}, std::vector{noPath}};
    for (const auto& second : seconds) {
        SCOPED_TRACE(&second - seconds);
        test::FakeDevice system;
        test::RecordingMessages messages;
        // Two enumerations for each open (the count, then the entry); the count still finds one.
        system.enumerations = {std::vector{good}, std::vector{good}, std::vector{good}, second};
        CUsbDevice device(system, messages, WindowHandle{}, kHidClassGuid, false);
        device.OpenDevice(0);
        ASSERT_EQ(system.openHandles.size(), 1u);
        EXPECT_FALSE(device.OpenHandle(0));
        EXPECT_FALSE(device.deviceHandle);
        EXPECT_TRUE(system.openHandles.empty());
    }
}

// A location path that the 256-byte field cannot hold whole would name another port, or none:
// it is no location path at all, and the path read before it does not stay either. A family
// device's HID interface opens quietly without any of the USB function driver's data.
TEST_F(UsbDeviceTest, CountStopsAt255AndALocationPathTooLongIsNone) {
    auto device = Device(kHidClassGuid, kWindow);
    PlugFamilyDevice(std::string(256, 'L'));
    PlugFamilyDevice(std::string(255, 'M'));
    for (int i = 2; i < 300; ++i) {
        PlugFamilyDevice("PORT-" + std::to_string(i));
    }
    EXPECT_EQ(device->CountDevices(), 255);
    EXPECT_FALSE(device->OpenHandle(255));
    EXPECT_FALSE(device->OpenDevice(1));
    ASSERT_TRUE(device->deviceHandle);
    EXPECT_EQ(std::tie(device->deviceIndex, device->lastError, device->configCount),
              std::tuple(1, kErrorInvalidFunction, 0));
    EXPECT_EQ(device->LocationPath(), std::string(255, 'M'));
    EXPECT_TRUE(messages.shown.empty());
    // The selection opens again; the first handle does not stay open behind the second.
    const DeviceHandle first = device->deviceHandle;
    ASSERT_TRUE(device->OpenHandle(0));
    EXPECT_FALSE(bus.Close(first));
    EXPECT_EQ(device->LocationPath(), "");
    ASSERT_TRUE(device->OpenHandle(254));
    EXPECT_EQ(device->LocationPath(), "PORT-254");
}

// A device object's location path is its own interface's, or none, as where the system gives
// none: never the one an earlier open read.
TEST_F(UsbDeviceTest, ALocationPathIsNeverCarriedOverFromAnotherInterface) {
    PlugFamilyDevice("PORT-1");
    sim::FamilyDeviceConfig unlocated = sim::FamilyDeviceConfig::ForModel(0x1F02, "PORT-2");
    unlocated.faults.noLocationPath = true;
    bus.Attach(std::make_shared<sim::FamilyDevice>(unlocated));
    auto device = Device(kHidClassGuid);
    ASSERT_TRUE(device->OpenHandle(0));
    EXPECT_EQ(device->LocationPath(), "PORT-1");
    ASSERT_TRUE(device->OpenHandle(1));
    EXPECT_EQ(device->LocationPath(), "");
    ASSERT_TRUE(device->OpenHandle(0) && device->CloseDevice());
    EXPECT_EQ(device->LocationPath(), "");
}

// A USB 2.0 device binds its current alternate setting; failed closes are shown, not hidden.
TEST_F(UsbDeviceTest, Usb2DeviceBindsTheCurrentAlternateSettingAndShowsFailedCloses) {
    auto function = Plug(sim::BulkAlternateDescriptors(), "PORT-U2");
    function->SetAlternateSetting(1);
    auto device = Device(kUsbFunctionClassGuid, kWindow);
    ASSERT_TRUE(device->OpenDevice(0));
    EXPECT_EQ(std::tie(device->maxPacketSize0, device->usbAddress, device->altIndex),
              std::tuple(64, 7, 1));
    EXPECT_TRUE(device->isHighSpeed && device->handleNotification && !device->bosObject);
    EXPECT_EQ(device->currentInterface, device->configurations[0]->interfaces[1].get());
    EXPECT_EQ(device->currentInterface->endpoints[0], device->controlEndpoint.get());
    EXPECT_EQ(device->CurrentEndpointCount(), 4);
    // Two bulk IN endpoints: the shortcut is the first, both are switched to direct transfers.
    ASSERT_TRUE(device->bulkInEndpoint && device->bulkOutEndpoint);
    EXPECT_EQ(std::tuple(device->bulkInEndpoint->bEndpointAddress,
                         device->bulkOutEndpoint->bEndpointAddress),
              std::tuple(0x81, 0x02));
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(device->currentInterface->endpoints[k]->transferMode, 1) << k;
    }

    device->CloseDevice();
    EXPECT_FALSE(device->deviceHandle || device->controlEndpoint || device->currentInterface);

    // A failed close is shown, and nothing after the failed step is done, nor the open after it;
    // the destructor does not show them.
    ASSERT_TRUE(device->OpenDevice(0));
    system.FailNextClose(31);
    EXPECT_FALSE(device->CloseDevice() || device->lastError != 31u || !device->deviceHandle);
    system.FailUnregister(50);
    EXPECT_FALSE(device->ReleaseHandle() || device->OpenDevice(0));
    device.reset();
    const std::string unregister = "Failed to close the handle notification handle.";
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Failed to close handle to driver.",
                                                        unregister, unregister}));
}

// SuperSpeed: 2^9 for the control packet size, a BOS (the whole block: a cut one fails to walk)
// and companions. Tables that cannot be walked show a message and close the device.
TEST_F(UsbDeviceTest, SuperSpeedSetsOpenWithTheirBosAndMalformedTablesCloseTheDevice) {
    Plug(sim::SuperSpeedDescriptors(), "PORT-0");
    auto device = Device(kUsbFunctionClassGuid);
    ASSERT_TRUE(device->OpenDevice(0));
    EXPECT_EQ(device->maxPacketSize0, 512);
    ASSERT_TRUE(device->isSuperSpeed && device->bosObject && device->bulkInEndpoint);
    EXPECT_NE(device->bulkInEndpoint->companionType, 0);

    DescriptorSet configuration = sim::BulkAlternateDescriptors();
    configuration.configurations[0][9] = 0;  // an interface descriptor of length 0
    Plug(configuration, "PORT-1");
    DescriptorSet bos = sim::SuperSpeedDescriptors();
    bos.bos[5] = 60;  // the first capability runs past the block
    Plug(bos, "PORT-2");
    EXPECT_FALSE(device->OpenDevice(1));
    EXPECT_FALSE(device->deviceHandle || device->configurations[0]);
    EXPECT_FALSE(device->OpenDevice(2));
    EXPECT_FALSE(device->deviceHandle);
    EXPECT_EQ(messages.shown,
              (std::vector<std::string>{"Please correct firmware descriptor table",
                                        "Please correct firmware BOS descriptor table"}));
    EXPECT_EQ(messages.captions,
              (std::vector<std::string>{"Wrong Device Configuration", "Wrong BOS Descriptor"}));
}

// A driver that moves the data area of one answer, with the descriptor bytes, to where the block
// holds only some of them fails that request; lengths and statuses it rewrites move no read.
TEST_F(UsbDeviceTest, RewrittenRequestBlocksNeverLeadAReadOutsideThem) {
    struct Case {
        const char* name;
        std::uint16_t wValue, wLength;  // the request whose answer moves; wValue 0: none
        std::uint32_t movedTo;
        bool opened;
        std::uint16_t languageId;
        std::u16string manufacturer;
        bool configured, bos;
    };
    const std::u16string labs = u"Torvane Labs";
    const Case cases[] = {
        {"language table, two bytes left", 0x0300, 4, 40, true, 0, u"", true, true},
        {"manufacturer, two bytes left", 0x0301, 26, 62, true, 0x0409, u"", true, true},
        {"configuration header past the block", 0x0200, 9, 0xFFFFFFFF, false, 0x0409, labs, false,
         true},
        {"configuration, 40 of 49 bytes left", 0x0200, 49, 47, false, 0x0409, labs, false, true},
        {"BOS header, two bytes left", 0x0F00, 5, 41, true, 0x0409, labs, true, false},
        {"every length and status rewritten", 0, 0, 0, true, 0x0409, labs, true, true},
    };
    auto function = Plug(sim::SuperSpeedDescriptors(), "PORT-1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        function->EditControlAnswers([&c](std::span<std::uint8_t> block) {
            if (c.wValue == 0) {
                WriteLe16(block, 6, 0xFFFF);
                WriteLe32(block, 14, sim::kNtStatusUnsuccessful);
                WriteLe32(block, 18, sim::kUsbdStatusStallPid);
                WriteLe32(block, 34, 0xFFFFFFFF);
            } else if (ReadLe16(block, 2) == c.wValue && ReadLe16(block, 6) == c.wLength) {
                if (c.movedTo < block.size()) {
                    const auto data = block.subspan(RequestBlock::kHeaderSize);
                    std::copy_backward(data.begin(),
                                       data.end() - (c.movedTo - RequestBlock::kHeaderSize),
                                       block.end());
                }
                WriteLe32(block, 30, c.movedTo);
            }
        });
        auto device = Device(kUsbFunctionClassGuid);
        EXPECT_EQ(device->OpenDevice(0), c.opened);
        EXPECT_EQ(device->languageId, c.languageId);
        EXPECT_EQ(std::u16string(device->manufacturer.data()), c.manufacturer);
        EXPECT_EQ(device->configurations[0] != nullptr, c.configured);
        EXPECT_EQ(device->bosObject != nullptr, c.bos);
        EXPECT_TRUE(messages.shown.empty());
    }
}

// The transfer engine on an open handle: OUT data comes back IN, buffered or direct; an endpoint
// outside the alternate setting fails; isochronous packets fill records, buffered or direct. The
// isochronous set takes English from two languages. A handle whose device left stays stale.
TEST_F(UsbDeviceTest, TransfersLoopBackAndFillPacketRecords) {
    auto function = Plug(sim::BulkAlternateDescriptors(), "PORT-1");
    Plug(sim::IsochronousDescriptors(), "PORT-2")->SetAlternateSetting(1);
    auto bulk = Device(kUsbFunctionClassGuid);
    auto iso = Device(kUsbFunctionClassGuid);
    ASSERT_TRUE(bulk->OpenDevice(0) && iso->OpenDevice(1));
    EXPECT_EQ(iso->languageId, 0x0409);
    AsyncIo io;
    SystemError error;  // a request without its record is refused
    EXPECT_FALSE(system.BeginIoControl(bulk->deviceHandle, 0x220024, {}, {}, io, error));
    ASSERT_TRUE(system.CreateIo(io));
    std::int32_t length = -1;
    const auto transfer = [&](CUsbEndPoint& endpoint, std::int32_t mode, test::Bytes& data,
                              std::span<std::uint8_t> records = {}) {
        endpoint.transferMode = mode;
        return endpoint.FinishTransfer(data, length, io, endpoint.BeginTransfer(data, io), records);
    };
    test::Bytes data{1, 2, 3, 4, 5, 6}, in(4, 0xEE), direct(4, 0xEE);
    EXPECT_TRUE(transfer(*bulk->bulkOutEndpoint, 0, data));
    EXPECT_TRUE(transfer(*bulk->bulkInEndpoint, 0, in));  // buffered: copied from the block
    EXPECT_EQ(in, (test::Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(transfer(*bulk->bulkInEndpoint, 1, direct));  // straight into the buffer
    EXPECT_EQ(length, 2);
    EXPECT_EQ(direct, (test::Bytes{5, 6, 0xEE, 0xEE}));
    // Endpoint 0x83 is in alternate setting 1 only: outside it, a direct transfer too finds its
    // statuses in its header and moves nothing; an IN endpoint with nothing looped back answers.
    CUsbBulkEndPoint x83(system, bulk->deviceHandle, test::Endpoint(0x83, 2, 512).data());
    EXPECT_FALSE(transfer(x83, 0, in));
    EXPECT_FALSE(transfer(x83, 1, in));
    EXPECT_EQ(length, 0);
    function->SetAlternateSetting(1);
    EXPECT_TRUE(transfer(x83, 1, in));
    EXPECT_EQ(length, 4);

    CUsbIsocEndPoint isoIn(system, iso->deviceHandle, test::Endpoint(0x81, 1, 0x0C00).data());
    test::Bytes stream(5000), records(24, 0xEE);
    EXPECT_TRUE(transfer(isoIn, 0, stream, records));
    EXPECT_EQ(length, 5000);
    EXPECT_EQ(records, test::Block(24, {{4, 2048}, {12, 2048}, {20, 904}}, 24));
    records.assign(24, 0xEE);
    EXPECT_TRUE(transfer(isoIn, 1, stream, records));
    EXPECT_EQ(records, test::Block(24, {{4, 2048}, {12, 2048}, {20, 904}}, 24));

    // Gone from the bus and back, the handle stays stale.
    function->SetPresent(false);
    function->SetPresent(true);
    EXPECT_FALSE(transfer(*bulk->bulkOutEndpoint, 0, data));
    EXPECT_EQ(bulk->bulkOutEndpoint->lastError, sim::kErrorDeviceNotConnected);
    system.CloseIo(io);
}

}  // namespace
}  // namespace torvane
