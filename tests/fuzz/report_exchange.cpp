// The report exchange of the device session against a hostile family device, on virtual time.
// Input: a byte of flags (start in the boot loader, announce the report lengths that follow as
// two 16-bit values for the application and two for the boot loader), then operations: each a
// byte naming one (the five of the session, or a new open after a wait), the operation's own
// bytes, and for every report a byte that refuses it (0x01) or alters bytes of the input report
// (0x02).
#include <algorithm>
#include <memory>
#include <utility>

#include "fuzz_input.h"
#include "protocol/device_session.h"
#include "sim/family_device.h"
#include "sim/sim_device_interfaces.h"
#include "sim/sim_hid_class.h"
#include "sim/virtual_clock.h"

namespace torvane::fuzz {
namespace {

class HostileHid final : public HidClass {
public:
    HostileHid(HidClass& hid, FuzzInput& input) : hid_(hid), input_(input) {}

    Guid HidGuid() override { return hid_.HidGuid(); }
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        return hid_.GetAttributes(handle, attributes);
    }
    bool GetSerialNumber(DeviceHandle handle, std::string& serial) override {
        return hid_.GetSerialNumber(handle, serial);
    }
    bool GetCaps(DeviceHandle handle, HidCaps& caps) override { return hid_.GetCaps(handle, caps); }
    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override {
        return (input_.Byte() & 0x01) == 0 && hid_.SetOutputReport(handle, report, error);
    }
    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override {
        const std::uint8_t tamper = input_.Byte();
        if ((tamper & 0x01) != 0) {
            return false;
        }
        const bool ok = hid_.GetInputReport(handle, report, error);
        if ((tamper & 0x02) != 0 && !report.empty()) {
            for (int count = input_.Byte() % 4 + 1; count > 0; --count) {
                report[input_.U16() % report.size()] ^= input_.Byte();
            }
        }
        return ok;
    }

private:
    HidClass& hid_;
    FuzzInput& input_;
};

// Opens the first HID interface on the bus into the session, as the engine does.
void Open(DeviceInterfaces& system, HidClass& hid, DeviceSession& session) {
    const auto entries = system.Enumerate(hid.HidGuid());
    SystemError error;
    system.Close(std::exchange(session.sessionHandle, {}), error);
    if (!entries || entries->empty() || !(*entries)[0].devicePath) {
        return;
    }
    session.sessionHandle = system.Open(*(*entries)[0].devicePath, error);
    session.sessionCaps = {};
    hid.GetCaps(session.sessionHandle, session.sessionCaps);
    hid.GetAttributes(session.sessionHandle, session.sessionAttributes);
    session.bootMode = session.sessionAttributes.productId == family::kBootLoaderProductId;
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    fuzz::FuzzInput input(data, size);
    sim::FamilyDeviceConfig config =
        sim::FamilyDeviceConfig::ForModel(0x1F02, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)");
    const std::uint8_t flags = input.Byte();
    config.startInBootLoader = (flags & 0x01) != 0;
    if ((flags & 0x02) != 0) {
        for (HidCaps* caps : {&config.appCaps, &config.bootCaps}) {
            caps->inputReportByteLength = input.U16();
            caps->outputReportByteLength = input.U16();
        }
    }

    sim::VirtualClock clock;
    sim::VirtualBus bus(clock);
    bus.Attach(std::make_shared<sim::FamilyDevice>(config));
    sim::SimDeviceInterfaces system(bus);
    sim::SimHidClass hid(bus);
    fuzz::HostileHid hostile(hid, input);
    test::RecordingMessages messages;
    DeviceSession session(hostile, clock, messages);
    fuzz::Open(system, hostile, session);

    for (int operations = 0; operations < 64 && !input.empty(); ++operations) {
        switch (input.Byte() % 6) {
            case 0:
                session.EnterDownloadMode();
                break;
            case 1:
                session.EraseFirmware();
                break;
            case 2: {
                ImageRecord record;
                const std::span<const std::uint8_t> bytes = input.Bytes(sizeof record);
                std::copy(bytes.begin(), bytes.end(), reinterpret_cast<std::uint8_t*>(&record));
                session.WriteRecord(record);
                break;
            }
            case 3:
                session.RunFirmware();
                break;
            case 4: {
                std::array<std::uint8_t, 4> version{};
                session.QueryFirmwareVersion(version);
                break;
            }
            default:
                clock.Sleep(input.U16());
                fuzz::Open(system, hostile, session);
                break;
        }
    }
    return 0;
}
