#include "support/temp_file.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

namespace torvane::test {
namespace {
std::atomic<int> counter{0};
// A tag of this process's own: the same test may run at once from another build tree.
const std::string kProcessTag = std::to_string(std::random_device{}());
}  // namespace

TempFile::TempFile(const std::string& contents, const std::string& suffix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "torvane-";
    if (info != nullptr) {
        name.append(info->test_suite_name()).append("-").append(info->name());
    }
    name.append("-").append(kProcessTag).append("-");
    name.append(std::to_string(counter++)).append(suffix);
    std::ranges::replace(name, '/', '_');
    path_ = std::filesystem::temp_directory_path() / name;
    std::ofstream out(path_, std::ios::binary);
    out << contents;
}

TempFile::~TempFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::FILE* TempFile::Open() {
    if (stream_ == nullptr) {
        stream_ = std::fopen(path_.string().c_str(), "rb");
    }
    return stream_;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace torvane::test
