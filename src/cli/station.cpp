#include "cli/station.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "cli/device_board.h"
#include "cli/device_update.h"
#include "cli/json_text.h"
#include "cli/results_file.h"
#include "cli/station_record.h"
#include "cli/station_scans.h"
#include "discovery/device_scan.h"
#include "firmware/hex_image.h"
#include "platform/stop_signals.h"
#include "protocol/family.h"
#include "protocol/fixed_texts.h"

namespace torvane::cli {
namespace {

// Counted by the signal thread, read by the station's.
std::atomic<int> stopRequests{0};

// The scan that finds what the system's word missed, or all devices where it gives none.
constexpr std::uint32_t kScanEveryMs = 1000;
// The longest the station waits before it looks at the runs that ended.
constexpr std::uint32_t kLookEveryMs = 100;

// One device plugged in, from its arrival to the end of its job.
struct Arrival {
    DeviceUpdate update;
    std::uint32_t arrivedAt = 0;
    std::uint32_t seconds10 = 0;  // tenths of a second from arrival to end
    std::atomic<bool> ended{false};
    std::jthread thread;
};

class Station {
public:
    Station(DeviceSystem& system, const CliOptions& options, const UpdatePolicy& policy,
            std::ostream& out, std::ostream& err, bool terminal, dashboard::StationFeed* feed)
        : system_(system),
          options_(options),
          policy_(policy),
          out_(out),
          err_(err),
          board_(out, err, terminal, options.json, system.clock()),
          scanMessages_(err),
          feed_(feed) {
        board_.Watch(feed);
    }

    int Run(ResultsFile& results, DeviceArrivals& arrivals);

private:
    // A port is taken while a run goes on at it, and after the run while the board it ended
    // with stays; it is free once a scan no longer sees a device at it, and whatever comes to a
    // free port is a new board, however soon.
    struct Slot {
        bool running = true;
    };

    bool Taking() const {
        return stopRequests.load() == 0 && !resultsLost_ &&
               (options_.count == 0 || ended_ + running_.size() < options_.count);
    }
    void Scan(ResultsFile& results);
    void Start(const ListedDevice& entry, ResultsFile& results);
    // Records what a device without a location path is: it could not be found again after the
    // switch, so it is not written.
    void RefuseUnlocated(const ListedDevice& entry);
    // Tells once of a device at a location outside --ports, which is left untouched.
    void Ignore(const ListedDevice& entry);
    void Reap(ResultsFile& results);
    void Record(Arrival& arrival, ResultsFile& results);
    // Adds object to the results, if they are asked for; false after telling err when it cannot
    // be written: the station then takes no new device.
    bool Append(ResultsFile& results, const nlohmann::json& object);
    void TellStops();
    // Tells the feed, if there is one, event named name.
    void Tell(nlohmann::json event, const char* name);

    DeviceSystem& system_;
    const CliOptions& options_;
    const UpdatePolicy& policy_;
    std::ostream& out_;
    std::ostream& err_;
    DeviceBoard board_;
    ScanMessages scanMessages_;
    dashboard::StationFeed* feed_;
    std::map<std::string, Slot> slots_;  // the ports taken, by location path
    std::size_t unlocated_ = 0;          // devices without a location path on the bus
    std::set<std::pair<std::string, std::string>> ignored_;  // told of, by location and serial
    std::list<std::unique_ptr<Arrival>> running_;
    int nextIndex_ = 0;
    std::size_t nextLog_ = 0;  // the first report log number that may be free
    std::size_t ended_ = 0;
    std::array<std::size_t, 3> tally_{};  // passed, failed (or refused), skipped
    bool resultsLost_ = false;
    int stopsTold_ = 0;
};

void Station::Scan(ResultsFile& results) {
    const DeviceTable table = ScanDevices(system_.interfaces(), system_.deviceHid(), scanMessages_);
    std::size_t unlocated = 0;
    std::set<std::string> seen;
    for (const ListedDevice& entry : table) {
        if (!TakenPort(options_, entry.location)) {
            Ignore(entry);
            continue;
        }
        if (entry.location.empty()) {
            if (++unlocated > unlocated_ && Taking()) {
                RefuseUnlocated(entry);
                unlocated_ = unlocated;
            }
            continue;
        }
        seen.insert(entry.location);
        if (!slots_.contains(entry.location) && Taking()) {
            Start(entry, results);
        }
    }
    unlocated_ = std::min(unlocated_, unlocated);
    for (auto slot = slots_.begin(); slot != slots_.end();) {
        const bool left = !slot->second.running && !seen.contains(slot->first);
        slot = left ? slots_.erase(slot) : std::next(slot);
    }
}

void Station::Start(const ListedDevice& entry, ResultsFile& results) {
    std::uint32_t holder = 0;
    std::unique_ptr<DeviceLock> lock = system_.locks().TryLock(entry.location, holder);
    if (!lock) {
        // Another program has it: no slot, so that a later scan takes it once it is free.
        scanMessages_.ShowMessage(entry.location + ": " + BusyText(holder) +
                                  "; taken once it is free");
        return;
    }
    auto arrival = std::make_unique<Arrival>();
    DeviceUpdate& update = arrival->update;
    update.lock = std::move(lock);
    update.entry = entry;
    update.index = nextIndex_++;
    arrival->arrivedAt = system_.clock().TickCount();
    slots_[entry.location] = {true};
    // A run that leaves no trace in the results is not started.
    const bool logged =
        PrepareDeviceUpdate(update, system_, board_, options_.reportLog, err_, &nextLog_);
    const nlohmann::json started = logged ? MakeStartedRecord(update) : nlohmann::json();
    if (!logged || !Append(results, started)) {
        update.outcome.status = logged ? "not started: the results cannot be written"
                                       : "the report log cannot be written";
        update.outcome.cause = CannotWrite(logged ? options_.results : update.logPath);
        arrival->ended = true;
        running_.push_back(std::move(arrival));
        return;
    }
    Tell(started, "started");
    Arrival& run = *arrival;
    running_.push_back(std::move(arrival));
    run.thread = std::jthread([&run, this] {
        RunDeviceUpdate(run.update, system_, options_.file, policy_);
        run.ended.store(true, std::memory_order_release);
    });
}

void Station::RefuseUnlocated(const ListedDevice& entry) {
    auto arrival = std::make_unique<Arrival>();
    arrival->update.entry = entry;
    arrival->update.index = nextIndex_++;
    arrival->arrivedAt = system_.clock().TickCount();
    arrival->update.outcome.result = JobResult::kRefused;
    arrival->update.outcome.status = "no location path";
    arrival->update.outcome.cause =
        "the device has no location path: it could not be found again after the switch; update "
        "it alone";
    PrepareDeviceUpdate(arrival->update, system_, board_, {}, err_);
    arrival->ended = true;
    running_.push_back(std::move(arrival));
}

void Station::Ignore(const ListedDevice& entry) {
    if (!ignored_.insert({entry.location, entry.serial}).second) {
        return;
    }
    const nlohmann::json event{{"event", "ignored"},
                               {"location", entry.location},
                               {"model", entry.text},
                               {"serial", JsonSerial(entry.serial)}};
    Tell(event, "ignored");
    const std::string location = entry.location.empty() ? "(no location)" : entry.location;
    board_.Line(options_.json ? JsonText(event)
                              : "ignored: " + location + "  " + entry.text + "  " +
                                    SerialCell(entry.serial) + ": not one of --ports");
}

void Station::Reap(ResultsFile& results) {
    for (auto it = running_.begin(); it != running_.end();) {
        Arrival& arrival = **it;
        if (!arrival.ended.load(std::memory_order_acquire)) {
            ++it;
            continue;
        }
        if (arrival.thread.joinable()) {
            arrival.thread.join();
        }
        const std::uint32_t now = system_.clock().TickCount();
        arrival.seconds10 = (ElapsedMs(arrival.arrivedAt, now) + 50) / 100;
        // A board that left its port during its job, or never came back from its run, has
        // left the port free.
        if (const auto slot = slots_.find(arrival.update.entry.location); slot != slots_.end()) {
            if (arrival.update.outcome.stayed) {
                slot->second.running = false;
            } else {
                slots_.erase(slot);
            }
        }
        Record(arrival, results);
        it = running_.erase(it);
    }
}

void Station::Record(Arrival& arrival, ResultsFile& results) {
    const DeviceUpdate& update = arrival.update;
    const JobResult result = update.outcome.result;
    ++ended_;
    ++tally_[result == JobResult::kPassed ? 0 : result == JobResult::kSkipped ? 2 : 1];
    StationRecord record = MakeStationRecord(update, arrival.seconds10);
    Append(results, record.object);
    Tell(record.object, "device");
    TellIncompleteLog(update.log.get(), update.logPath, err_);
    if (options_.json) {
        record.object["event"] = "device";
        record.line = JsonText(record.object);
    }
    board_.End(update.observer->row(), record.line);
}

bool Station::Append(ResultsFile& results, const nlohmann::json& object) {
    if (!results || results.Append(JsonText(object))) {
        return true;
    }
    err_ << "torvane-cli: " << CannotWrite(options_.results)
         << (resultsLost_ ? "" : "; no new device is taken") << '\n';
    resultsLost_ = true;
    return false;
}

void Station::TellStops() {
    const int stops = stopRequests.load();
    if (stops == stopsTold_) {
        return;
    }
    const std::string runs = std::to_string(running_.size()) +
                             (running_.size() == 1 ? " run in progress" : " runs in progress");
    if (stopsTold_ == 0) {
        Tell({}, "stopping");
        err_ << "torvane-cli: stopping: no new device is taken"
             << (running_.empty() ? "" : "; waiting for the " + runs) << '\n';
    } else if (!running_.empty()) {
        err_ << "torvane-cli: still waiting for the " << runs << ": a write is never interrupted\n";
    }
    err_.flush();
    stopsTold_ = stops;
}

void Station::Tell(nlohmann::json event, const char* name) {
    if (feed_ != nullptr) {
        event["event"] = name;
        feed_->Publish(event);
    }
}

int Station::Run(ResultsFile& results, DeviceArrivals& arrivals) {
    Clock& clock = system_.clock();
    const std::uint32_t began = clock.TickCount();
    std::uint32_t lastScan = began;
    bool scan = true;
    for (;;) {
        Reap(results);
        TellStops();
        if (!Taking() && running_.empty()) {
            break;
        }
        if (scan && Taking()) {
            Scan(results);
            lastScan = clock.TickCount();
        }
        // Not taking devices, it only waits for the runs' ends.
        const std::uint32_t sinceScan = ElapsedMs(lastScan, clock.TickCount());
        const std::uint32_t wait =
            !Taking()
                ? kLookEveryMs
                : std::min(kLookEveryMs, sinceScan >= kScanEveryMs ? 0 : kScanEveryMs - sinceScan);
        const bool told = arrivals.Wait(wait, running_.empty());
        scan = told || ElapsedMs(lastScan, clock.TickCount()) >= kScanEveryMs;
    }
    board_.Finish();

    const StationRecord tally = MakeTally(tally_, ElapsedMs(began, clock.TickCount()));
    out_ << (options_.json ? JsonText(tally.object) : tally.line) << '\n';
    out_.flush();
    if (feed_ != nullptr) {
        feed_->Publish(tally.object);
    }
    return tally_[1] > 0 || resultsLost_ ? kExitFailed : kExitOk;
}

}  // namespace

void RequestStationStop() {
    stopRequests.fetch_add(1);
}

int RunStation(DeviceSystem& system, const CliOptions& options, std::ostream& out,
               std::ostream& err, bool terminal, dashboard::StationFeed* feed) {
    std::string why;
    std::unique_ptr<DeviceArrivals> arrivals = system.WatchArrivals(why);
    if (!arrivals) {
        err << "torvane-cli: " << why << "; scanning every second instead\n";
        arrivals = std::make_unique<ScansOnly>(system.clock());
    }
    return RunStation(system, options, *arrivals, out, err, terminal, feed);
}

int RunStation(DeviceSystem& system, const CliOptions& options, DeviceArrivals& arrivals,
               std::ostream& out, std::ostream& err, bool terminal, dashboard::StationFeed* feed) {
    const UpdatePolicy policy{options.skipCurrent, options.noDowngrade, kReturnWindowMs};
    std::optional<FirmwareVersion> imageVersion;
    {
        const ImageFile file = OpenImageFile(options.file);
        if (!file) {
            err << texts::kFileLoadError << '\n'
                << options.file << ": " << std::strerror(errno) << '\n';
            return kExitFailed;
        }
        // Checked as a boot loader checks it: each application checks its identity itself.
        ImageTable image;
        HexLoadError error;
        if (!LoadHexImage(file.get(), LoadRules{}, image, &error)) {
            err << texts::kFileParseError << '\n'
                << options.file << ": " << error.Describe() << '\n';
            return kExitFailed;
        }
        imageVersion = ImageVersion(image);
    }
    if ((policy.skipCurrent || policy.noDowngrade) && !imageVersion) {
        err << "torvane-cli: --skip-current and --no-downgrade compare with the image's version, "
               "and "
            << options.file << " has none (no identity record at 0x2100 with version bytes)\n";
        return kExitUsage;
    }
    ResultsFile results;
    if (!options.results.empty() && !results.Open(options.results)) {
        err << "torvane-cli: " << CannotWrite(options.results) << '\n';
        return kExitFailed;
    }
    const std::string version = imageVersion ? imageVersion->Text() : "none";
    nlohmann::json begun = {
        {"event", "station"}, {"file", options.file}, {"imageVersion", version}};
    if (!options.ports.empty()) {
        begun["ports"] = options.ports;
    }
    if (feed != nullptr) {
        feed->Publish(begun);
    }
    if (options.json) {
        out << JsonText(begun) << '\n';
    } else {
        std::string ports;
        for (const std::string& port : options.ports) {
            ports += (ports.empty() ? "; only at " : ", ") + port;
        }
        out << "station: " << options.file << " (image version " << version << ")" << ports
            << "; plug in devices, Ctrl-C stops\n";
    }
    out.flush();

    stopRequests = 0;
    SetStopHandler([](StopSignal) { RequestStationStop(); });
    Station station(system, options, policy, out, err, terminal, feed);
    const int status = station.Run(results, arrivals);
    SetStopHandler({});
    return status;
}

}  // namespace torvane::cli
