#include "protocol/old_report_log.h"

#include <algorithm>

#include "protocol/family.h"
#include "protocol/report_codec.h"

namespace torvane {
namespace {

// The application model whose identity the log's first version reply gives; 0 when none does.
std::uint16_t ModelOfIdentity(const std::vector<LoggedReport>& reports) {
    for (const LoggedReport& report : reports) {
        const auto reply = report.out ? std::nullopt : family::DecodeAppVersionReply(report.bytes);
        if (reply) {
            // The model's name, the first four identity bytes, is what tells.
            for (const family::Model& model : family::kModels) {
                if (model.productId != family::kBootLoaderProductId &&
                    std::equal(model.identity.bytes.begin(), model.identity.bytes.begin() + 4,
                               reply->identity.bytes.begin())) {
                    return model.productId;
                }
            }
            return 0;
        }
    }
    return 0;
}

bool IsBootLoaderCommand(const LoggedReport& report) {
    using enum family::CommandKind;
    const family::CommandKind command = report.Command();
    return command == EraseStart || command == EraseStatus || command == WriteRecord ||
           command == Run || command == BootVersion;
}

}  // namespace

bool SplitOldLog(std::vector<LoggedReport> reports, LoggedSession& session, std::string& error) {
    std::vector<LoggedDevice>& devices = session.devices;
    for (LoggedReport& report : reports) {
        const auto length = static_cast<std::uint16_t>(report.bytes.size());
        if (!devices.empty()) {
            const HidCaps& caps = devices.back().caps;
            const std::uint16_t known =
                report.out ? caps.outputReportByteLength : caps.inputReportByteLength;
            if (known != 0 && known != length) {
                devices.emplace_back();
            }
        } else {
            devices.emplace_back();
        }
        LoggedDevice& device = devices.back();
        if (device.reports.empty()) {
            device.line = report.line;
            device.ms = report.ms;
        }
        (report.out ? device.caps.outputReportByteLength : device.caps.inputReportByteLength) =
            length;
        device.reports.push_back(std::move(report));
    }
    std::uint16_t application = 0;
    for (const LoggedDevice& device : devices) {
        if (application == 0) {
            application = ModelOfIdentity(device.reports);
        }
    }
    for (LoggedDevice& device : devices) {
        HidCaps& caps = device.caps;
        caps.inputReportByteLength = caps.inputReportByteLength != 0 ? caps.inputReportByteLength
                                                                     : caps.outputReportByteLength;
        caps.outputReportByteLength = caps.outputReportByteLength != 0 ? caps.outputReportByteLength
                                                                       : caps.inputReportByteLength;
        device.vendorId = family::kVendorId;
        const bool bootLoader =
            std::any_of(device.reports.begin(), device.reports.end(), IsBootLoaderCommand);
        device.productId = bootLoader ? family::kBootLoaderProductId : application;
        if (device.productId == 0) {
            error = "line " + std::to_string(device.line) +
                    ": the log names no device (it has no DEVICE lines) and the identity bytes "
                    "it holds name no model";
            return false;
        }
    }
    return true;
}

}  // namespace torvane
