#include "sim/family_device.h"

#include <algorithm>

#include "protocol/report_codec.h"

namespace torvane::sim {

FamilyDeviceConfig FamilyDeviceConfig::ForModel(std::uint16_t productId, std::string locationPath) {
    FamilyDeviceConfig config;
    config.productId = productId;
    config.locationPath = std::move(locationPath);
    config.identity = family::ModelIdentity(productId);
    return config;
}

FamilyDevice::FamilyDevice(FamilyDeviceConfig config, std::uint32_t start)
    : config_(std::move(config)),
      mode_(config_.startInBootLoader ? Mode::BootLoader : Mode::Application),
      location_(config_.locationPath),
      flash_(kFlashSize, 0xFF),
      appIntact_(!config_.startInBootLoader) {
    changes_ = config_.plugMs;
    changes_.insert(changes_.end(), config_.unplugMs.begin(), config_.unplugMs.end());
    std::sort(changes_.begin(), changes_.end());
    for (std::uint32_t& t : changes_) {
        t += start;
    }
    if (!config_.plugMs.empty() &&
        (config_.unplugMs.empty() ||
         *std::min_element(config_.plugMs.begin(), config_.plugMs.end()) <
             *std::min_element(config_.unplugMs.begin(), config_.unplugMs.end()))) {
        mode_ = Mode::Unplugged;
    }
}

std::optional<std::uint32_t> FamilyDevice::NextPlugChange(std::uint32_t after) const {
    std::lock_guard lock(mutex());
    for (const std::uint32_t t : changes_) {
        if (!Reached(after, t)) {
            return t;
        }
    }
    return std::nullopt;
}

void FamilyDevice::Unplug() {
    std::lock_guard lock(mutex());
    mode_ = Mode::Unplugged;
}

FamilyDevice::Mode FamilyDevice::mode() const {
    std::lock_guard lock(mutex());
    return mode_;
}

std::vector<std::uint8_t> FamilyDevice::flash() const {
    std::lock_guard lock(mutex());
    return flash_;
}

std::array<std::uint8_t, 4> FamilyDevice::appVersion() const {
    std::lock_guard lock(mutex());
    return config_.appVersion;
}

std::string FamilyDevice::locationPath() const {
    std::lock_guard lock(mutex());
    return location_;
}

int FamilyDevice::eraseCount() const {
    std::lock_guard lock(mutex());
    return erases_;
}

int FamilyDevice::writeCount() const {
    std::lock_guard lock(mutex());
    return writes_;
}

const HidCaps& FamilyDevice::Caps() const {
    return mode_ == Mode::BootLoader ? config_.bootCaps : config_.appCaps;
}

void FamilyDevice::FollowSchedule(std::uint32_t now) {
    for (; nextChange_ < changes_.size() && Reached(now, changes_[nextChange_]); ++nextChange_) {
        if (mode_ != Mode::Unplugged) {
            mode_ = Mode::Unplugged;
            continue;
        }
        mode_ = appIntact_ ? Mode::Application : Mode::BootLoader;
        location_ = config_.locationPath;
        ++generation_;
        reply_ = Reply::None;
        erasing_ = false;
    }
}

void FamilyDevice::Advance(std::uint32_t now) {
    FollowSchedule(now);
    if (leaveAt_ && mode_ == Mode::Application && Reached(now, *leaveAt_)) {
        Leave(*leaveAt_, config_.switchMs,
              config_.faults.bootLoaderNeverAppears ? Mode::Away : Mode::BootLoader);
    }
    if (mode_ == Mode::Away && nextMode_ != Mode::Away && Reached(now, backAt_)) {
        mode_ = nextMode_;
        ++generation_;
        reply_ = Reply::None;
    }
}

void FamilyDevice::Leave(std::uint32_t now, std::uint32_t awayMs, Mode next) {
    leaveAt_.reset();
    mode_ = Mode::Away;
    nextMode_ = next;
    backAt_ = now + awayMs;
    reply_ = Reply::None;
    erasing_ = false;
}

bool FamilyDevice::Open() {
    return opens_++ != config_.faults.deniedOpen;
}

std::optional<SimInterface> FamilyDevice::Interface(std::uint32_t now) {
    Advance(now);
    if (mode_ != Mode::Application && mode_ != Mode::BootLoader) {
        return std::nullopt;
    }
    SimInterface shown;
    shown.classGuid = kHidClassGuid;
    shown.locationPath = config_.faults.noLocationPath ? std::string() : location_;
    shown.vendorId = family::kVendorId;
    shown.productId = mode_ == Mode::BootLoader ? family::kBootLoaderProductId : config_.productId;
    shown.versionNumber = 0x0100;
    shown.serial = config_.serial;
    shown.caps = Caps();
    shown.generation = generation_;
    return shown;
}

void FamilyDevice::ReplyAt(std::uint32_t readyAt) {
    replyAt_ = readyAt;
    reply_ = Reply::Ready;
}

bool FamilyDevice::OutputReport(std::uint32_t now, std::span<const std::uint8_t> report) {
    Advance(now);
    if ((mode_ != Mode::Application && mode_ != Mode::BootLoader) ||
        report.size() != Caps().outputReportByteLength) {
        return false;
    }
    if (!family::Framed(report)) {
        return true;  // not ours to answer; a real device drops it too
    }
    if (mode_ == Mode::Application) {
        ApplicationCommand(now, report);
    } else {
        BootLoaderCommand(now, report);
    }
    return mode_ != Mode::Unplugged;
}

void FamilyDevice::ApplicationCommand(std::uint32_t now, std::span<const std::uint8_t> report) {
    using enum family::CommandKind;
    switch (family::CommandOf(report)) {
        case AppVersion:
            family::BuildAppVersionReply(replyBytes_, {config_.appVersion, config_.identity});
            ReplyAt(now);
            return;
        case EnterDownload: {
            const FamilyFaults& faults = config_.faults;
            if (!faults.returnLocationPath.empty()) {
                location_ = faults.returnLocationPath;
            }
            leaveAt_ = now + config_.leaveMs;
            Advance(now);
            return;
        }
        default:
            return;  // the version follow-up is taken without an answer, as is any other
    }
}

void FamilyDevice::BootLoaderCommand(std::uint32_t now, std::span<const std::uint8_t> report) {
    using enum family::CommandKind;
    switch (family::CommandOf(report)) {
        case BootVersion:
            if (config_.faults.bootVersionUnanswered) {
                reply_ = Reply::None;
                return;
            }
            family::BuildBootVersionReply(replyBytes_, config_.bootVersion);
            ReplyAt(now);
            return;
        case EraseStart:
            ++erases_;
            erasing_ = true;
            appIntact_ = false;
            eraseDoneAt_ = now + config_.eraseMs;
            std::fill(flash_.begin(), flash_.end(), std::uint8_t{0xFF});
            reply_ = Reply::None;
            return;
        case EraseStatus:
            reply_ = Reply::EraseStatus;
            return;
        case WriteRecord:
            Write(now, family::RecordOf(report));
            return;
        case Run:
            if (!config_.faults.runIgnored) {
                AdoptImage();
                appIntact_ = true;
                Leave(now, config_.restartMs, Mode::Application);
            }
            return;
        default:
            return;
    }
}

void FamilyDevice::Write(std::uint32_t now, const std::optional<ImageRecord>& record) {
    reply_ = Reply::None;
    // The flash is busy while an erase runs.
    if (!record || (erasing_ && !Reached(now, eraseDoneAt_))) {
        return;
    }
    const int index = writes_++;
    if (index == config_.faults.unplugAtRecord) {
        mode_ = Mode::Unplugged;
        return;
    }
    // Programming only clears bits; what was not erased reads back wrong in the echo. Bytes past
    // the end of the flash are not stored and echo as zero.
    ImageRecord echoed = *record;
    echoed.data.fill(0);
    const std::size_t address = record->Address();
    const std::size_t length = std::min<std::size_t>(record->length, kRecordDataSize);
    for (std::size_t i = 0; i < length && address + i < kFlashSize; ++i) {
        flash_[address + i] &= record->data[i];
        echoed.data[i] = flash_[address + i];
    }
    family::BuildWriteEcho(replyBytes_, echoed);
    if (index == config_.faults.wrongEchoAtRecord) {
        replyBytes_[family::kWriteEchoDataOffset] ^= 0x01;
    }
    ReplyAt(now + config_.echoMs);
}

void FamilyDevice::AdoptImage() {
    const auto record = flash_.begin() + family::kIdentityRecordAddress;
    const auto blank = [](auto first, std::size_t n) {
        return std::all_of(first, first + static_cast<std::ptrdiff_t>(n),
                           [](std::uint8_t b) { return b == 0xFF; });
    };
    if (!blank(record, family::kIdentitySize)) {
        std::copy_n(record, family::kIdentitySize, config_.identity.bytes.begin());
    }
    const auto version = record + family::kImageVersionOffset;
    if (!blank(version, family::kImageVersionSize) && !config_.faults.versionKeptAfterRun) {
        std::copy_n(version, family::kImageVersionSize, config_.appVersion.begin());
    }
}

bool FamilyDevice::InputReport(std::uint32_t now, std::span<std::uint8_t> report) {
    Advance(now);
    if ((mode_ != Mode::Application && mode_ != Mode::BootLoader) ||
        report.size() != Caps().inputReportByteLength || report.empty() ||
        report[0] != family::kInputReportId) {
        return false;
    }
    std::fill(report.begin(), report.end(), std::uint8_t{0});
    report[0] = family::kInputReportId;
    if (reply_ == Reply::EraseStatus) {
        family::BuildEraseStatusReply(replyBytes_, erasing_ && Reached(now, eraseDoneAt_) &&
                                                       !config_.faults.eraseNeverConfirmed);
        replyAt_ = now;
    }
    if (reply_ != Reply::None && Reached(now, replyAt_)) {
        std::copy_n(replyBytes_.begin(), std::min(report.size(), replyBytes_.size()),
                    report.begin());
    }
    return true;
}

}  // namespace torvane::sim
