// One device's update as torvane-cli runs it when it updates several devices: the device read
// as a selection reads it, the run on its own thread, and the version read back at its port
// once the device has had the time to come back.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/device_board.h"
#include "discovery/device_table.h"
#include "firmware/image_record.h"
#include "protocol/report_log.h"
#include "system/device_system.h"

namespace torvane::cli {

struct DeviceUpdate {
    ListedDevice entry;
    int index = 0;  // the number its board row and its report log carry
    std::unique_ptr<BoardRow> observer;
    std::ofstream logFile;
    std::unique_ptr<ReportLog> log;
    HidClass* hid = nullptr;
    std::int32_t bootMode = 0;
    bool versionAnswered = false;
    std::array<std::uint8_t, 8> identity{};
    std::array<std::uint8_t, 4> versionBytes{};  // as read before the update
    std::string versionBefore;
    const ImageTable* image = nullptr;
    std::uint32_t start = 0;
    bool ok = false;
    std::string result;
    std::string version;  // read back after the run; empty when it could not be
};

// Gives update a row on board and, with a report-log pattern, a log file of its own; false
// after telling err when the log cannot be written.
bool PrepareDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, DeviceBoard& board,
                         const std::string& reportLog, std::ostream& err);

// Reads the device as a selection does; false when it is not to be updated, with its result.
bool ReadDevice(DeviceUpdate& update, DeviceSystem& system);

// The run, with update.image loaded for the device.
void RunDeviceUpdate(DeviceUpdate& update, DeviceSystem& system);

// As the dialog ends a run: the devices get the time of the closing scans to come back, then
// each is read at its port.
void ReadNewVersions(const std::vector<DeviceUpdate*>& updates, DeviceSystem& system,
                     MessageSink& messages);

}  // namespace torvane::cli
