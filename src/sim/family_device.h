// A device of the family: its application firmware and its boot loader, on the injected clock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/firmware_version.h"
#include "firmware/image_record.h"
#include "sim/sim_function.h"

namespace torvane::sim {

inline constexpr std::size_t kFlashSize = 0x10000;

// Faults a device can be given; each is off by default.
struct FamilyFaults {
    bool eraseNeverConfirmed = false;     // erase status polls never report done
    int wrongEchoAtRecord = -1;           // the echo of write number k (from 0) is off by one bit
    bool bootLoaderNeverAppears = false;  // after the switch the device stays off the bus
    std::string returnLocationPath;       // the boot loader appears at this port instead
    int unplugAtRecord = -1;              // the device is pulled during write number k (from 0)
    bool noLocationPath = false;          // the system gives its interface no location path
    bool bootVersionUnanswered = false;   // the boot loader answers no version query
    bool runIgnored = false;              // the boot loader ignores the run command
    bool versionKeptAfterRun = false;     // the application comes back with its old version
    int deniedOpen = -1;                  // open number k (from 0) of its interface is refused
};

struct ReplaySource;

struct FamilyDeviceConfig {
    std::uint16_t productId = 0x1F01;  // the model, as its application enumerates
    std::string locationPath;
    std::string serial;  // the USB serial number, the same in both modes; empty for none
    std::array<std::uint8_t, 4> appVersion{3, 1, 0, 0};
    Identity identity{};
    std::array<char, 3> bootVersion{'1', '0', '2'};
    bool startInBootLoader = false;
    HidCaps appCaps{0x0001, 0xFF00, 64, 64, 0};
    HidCaps bootCaps{0x0001, 0xFF00, 40, 40, 0};
    std::uint32_t leaveMs = 0;       // still on the bus from enter-download until it leaves
    std::uint32_t switchMs = 1500;   // off the bus from then until the boot loader shows
    std::uint32_t restartMs = 1200;  // off the bus from run until the application shows
    std::uint32_t eraseMs = 2200;    // from the erase command until the erase is done
    std::uint32_t echoMs = 2;        // from a write until its echo can be read
    FamilyFaults faults;
    // When a user plugs the device in and pulls it out, in ms from the device's start: plugged in
    // at each of plugMs, pulled out at each of unplugMs. It is on the bus from the start unless
    // its first plug comes before its first unplug; the times alternate (ParseDeviceList checks
    // it). Plugged in again, it runs its application, or its boot loader when its flash was
    // erased since the last start.
    std::vector<std::uint32_t> plugMs;
    std::vector<std::uint32_t> unplugMs;
    // When set, the port holds no family device but this report log played back (ReplayDevice);
    // only the location path above counts then.
    std::shared_ptr<const ReplaySource> replay;

    // A device of the model with this application product ID, with that model's identity bytes.
    static FamilyDeviceConfig ForModel(std::uint16_t productId, std::string locationPath);
};

class FamilyDevice final : public SimFunction {
public:
    enum class Mode { Application, BootLoader, Away, Unplugged };

    // start: the time of the device's clock its schedule counts from.
    explicit FamilyDevice(FamilyDeviceConfig config, std::uint32_t start = 0);

    std::optional<SimInterface> Interface(std::uint32_t now) override;
    bool OutputReport(std::uint32_t now, std::span<const std::uint8_t> report) override;
    bool InputReport(std::uint32_t now, std::span<std::uint8_t> report) override;
    bool Open() override;

    // Pulls the device off the bus, as a user pulling its cable, until its schedule plugs it in
    // again; from any thread.
    void Unplug();

    // The first time after `after` at which the device is plugged in or pulled out by its
    // schedule; nullopt when none is left. From any thread.
    std::optional<std::uint32_t> NextPlugChange(std::uint32_t after) const;

    // What the device holds now; from any thread, also while an exchange runs.
    Mode mode() const;
    std::vector<std::uint8_t> flash() const;
    std::array<std::uint8_t, 4> appVersion() const;
    std::string locationPath() const;
    int eraseCount() const;
    int writeCount() const;

private:
    enum class Reply { None, Ready, EraseStatus };

    // The schedule's plug-ins and pull-outs up to now, then the return from a re-enumeration.
    void Advance(std::uint32_t now);
    void FollowSchedule(std::uint32_t now);
    void Leave(std::uint32_t now, std::uint32_t awayMs, Mode next);
    // The reply built in replyBytes_ can be read from readyAt on.
    void ReplyAt(std::uint32_t readyAt);
    void ApplicationCommand(std::uint32_t now, std::span<const std::uint8_t> report);
    void BootLoaderCommand(std::uint32_t now, std::span<const std::uint8_t> report);
    void Write(std::uint32_t now, const std::optional<ImageRecord>& record);
    void AdoptImage();
    const HidCaps& Caps() const;

    FamilyDeviceConfig config_;
    Mode mode_;
    Mode nextMode_ = Mode::Away;
    std::uint32_t backAt_ = 0;
    std::optional<std::uint32_t> leaveAt_;  // when the application goes after enter-download
    std::string location_;
    std::uint32_t generation_ = 1;
    std::vector<std::uint8_t> flash_;
    Reply reply_ = Reply::None;
    std::array<std::uint8_t, 128> replyBytes_{};
    std::uint32_t replyAt_ = 0;
    bool erasing_ = false;
    std::uint32_t eraseDoneAt_ = 0;
    int erases_ = 0;
    int writes_ = 0;
    int opens_ = 0;
    bool appIntact_;                      // no erase since the application last started
    std::vector<std::uint32_t> changes_;  // the schedule's times, in order; each toggles
    std::size_t nextChange_ = 0;
};

}  // namespace torvane::sim
