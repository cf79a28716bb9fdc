// A file with given contents in the temporary directory, removed with the object.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace torvane::test {

class TempFile {
public:
    explicit TempFile(const std::string& contents, const std::string& suffix = ".hex");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The file opened "rb", closed with the object.
    std::FILE* Open();

private:
    std::filesystem::path path_;
    std::FILE* stream_ = nullptr;
};

// Reads a whole file as text; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace torvane::test
