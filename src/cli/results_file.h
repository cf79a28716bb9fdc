// The station's results file: a JSON object per line, each on the disk before the next device
// ends.
#pragma once

#include <cstdio>
#include <string>

namespace torvane::cli {

class ResultsFile {
public:
    ResultsFile() = default;
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;
    ~ResultsFile();

    // Opens path for appending; false when it cannot be.
    bool Open(const std::string& path);
    explicit operator bool() const { return file_ != nullptr; }
    // Appends line and a line break and waits until they are on the disk; false when they are
    // not.
    bool Append(const std::string& line);

private:
    std::FILE* file_ = nullptr;
};

}  // namespace torvane::cli
