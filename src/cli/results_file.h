// The station's results file: a JSON object per line, each on the disk before the next device
// starts or ends.
#pragma once

#include <string>

namespace torvane::cli {

class ResultsFile {
public:
    ResultsFile() = default;
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;
    ~ResultsFile();

    // Opens path for appending only; false when it cannot be.
    bool Open(const std::string& path);
    explicit operator bool() const { return open_; }
    // Appends line and a line break in one write and waits until they are on the disk; false
    // (errno says why) when they are not. A line written in part (a full disk) is cut off again,
    // so that the file holds whole lines only; once that fails too, nothing more is appended.
    bool Append(const std::string& line);

private:
    bool open_ = false;
    bool partial_ = false;  // a line written in part could not be cut off
#if defined(_WIN32)
    std::string path_;
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace torvane::cli
