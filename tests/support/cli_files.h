// Files of a command-line test: a folder of its own, and the flash an image leaves.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "firmware/hex_image.h"
#include "support/temp_file.h"

namespace torvane::test {

// A folder of this test's own for the per-device files, removed with the object.
struct Folder {
    Folder()
        : path(std::filesystem::temp_directory_path() /
               ("torvane-test-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::create_directories(path);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

// The flash of a device after image was written to it, as a boot loader takes it.
inline std::string FlashWith(const test::TempFile& image) {
    ImageTable table;
    EXPECT_TRUE(LoadHexImage(OpenImageFile(image.path().string()).get(), LoadRules{}, table));
    std::string flash(0x10000, '\xFF');
    for (std::int32_t i = 0; i < table.imageRecordCount; ++i) {
        const ImageRecord& record = table.imageRecords[static_cast<std::size_t>(i)];
        std::copy_n(record.data.begin(), record.length, flash.begin() + record.Address());
    }
    return flash;
}

// The JSON objects of a text, one per line: a results file's records in the order written.
inline std::vector<nlohmann::json> Records(const std::string& text) {
    std::vector<nlohmann::json> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        records.push_back(nlohmann::json::parse(line));
    }
    return records;
}

}  // namespace torvane::test
