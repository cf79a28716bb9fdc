#include "cli/inspect_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "cli/cli_options.h"
#include "firmware/hex_image.h"
#include "protocol/family.h"
#include "protocol/fixed_texts.h"
#include "protocol/write_order.h"

namespace torvane::cli {
namespace {

std::string Format(const char* format, unsigned a, unsigned b = 0) {
    char text[32];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The address ranges that the written records cover, merged where they touch.
std::string AddressRanges(const ImageTable& table) {
    std::vector<std::pair<unsigned, unsigned>> spans;  // [first, end)
    for (std::int32_t i = 0; i < table.imageRecordCount; ++i) {
        const ImageRecord& record = table.imageRecords[static_cast<std::size_t>(i)];
        if (record.length > 0) {
            spans.emplace_back(record.Address(), record.Address() + record.length);
        }
    }
    std::sort(spans.begin(), spans.end());
    std::string text;
    for (std::size_t i = 0; i < spans.size();) {
        unsigned first = spans[i].first;
        unsigned end = spans[i].second;
        for (++i; i < spans.size() && spans[i].first <= end; ++i) {
            end = std::max(end, spans[i].second);
        }
        text += (text.empty() ? "" : ", ") + Format("0x%04X-0x%04X", first, end - 1);
    }
    return text.empty() ? "none" : text;
}

bool HasRecordAt(const ImageTable& table, std::uint16_t address) {
    for (std::int32_t i = 0; i < table.imageRecordCount; ++i) {
        if (table.imageRecords[static_cast<std::size_t>(i)].Address() == address) {
            return true;
        }
    }
    return false;
}

void PrintImage(const ImageTable& table, std::ostream& out) {
    const std::vector<WriteStep> steps = PlanWrites(table);
    out << "write  record  address  length  data\n";
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const ImageRecord& record = table.imageRecords[static_cast<std::size_t>(steps[k].record)];
        std::string line = Format("%5u  %6u", static_cast<unsigned>(k + 1),
                                  static_cast<unsigned>(steps[k].record));
        line += Format("   0x%04X  %6u ", record.Address(), record.length);
        for (std::size_t i = 0; i < std::min<std::size_t>(record.length, kRecordDataSize); ++i) {
            line += Format(" %02X", record.data[i]);
        }
        out << line << '\n';
    }
    const bool start = HasRecordAt(table, family::kStartRecordAddress);
    out << "records: " << table.imageRecords.size() << " in the file, " << table.imageRecordCount
        << " to write (the last record is never written)\n"
        << "writes: " << steps.size()
        << (start ? " (the record at 0x2000 last)\n" : " (record 0 again at the end)\n")
        << "address ranges: " << AddressRanges(table) << '\n'
        << "identity record (0x2100): "
        << (HasRecordAt(table, family::kIdentityRecordAddress) ? "present" : "absent") << '\n'
        << "start record (0x2000): " << (start ? "present" : "absent") << '\n';
    const auto version = ImageVersion(table);
    out << "image version: "
        << (version ? version->Text() : "none (no identity record with version bytes)") << '\n';
}

}  // namespace

int RunInspect(const std::string& path, const std::optional<std::string>& identity,
               std::ostream& out, std::ostream& err) {
    LoadRules rules;  // a boot loader's rules unless an identity is given
    if (identity) {
        for (std::size_t i = 0; i < rules.deviceIdentity.bytes.size(); ++i) {
            rules.deviceIdentity.bytes[i] =
                static_cast<std::uint8_t>(std::stoul(identity->substr(2 * i, 2), nullptr, 16));
        }
        rules.bootMode = 0;
    }
    const ImageFile file = OpenImageFile(path);
    if (!file) {
        err << texts::kFileLoadError << '\n' << path << ": " << std::strerror(errno) << '\n';
        return kExitFailed;
    }
    ImageTable table;
    HexLoadError error;
    if (!LoadHexImage(file.get(), rules, table, &error)) {
        err << texts::kFileParseError << '\n' << path << ": " << error.Describe() << '\n';
        return kExitFailed;
    }
    PrintImage(table, out);
    return kExitOk;
}

}  // namespace torvane::cli
