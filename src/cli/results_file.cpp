#include "cli/results_file.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace torvane::cli {

ResultsFile::~ResultsFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool ResultsFile::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
}

bool ResultsFile::Append(const std::string& line) {
    const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                         std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
#if defined(_WIN32)
    return written && _commit(_fileno(file_)) == 0;
#else
    return written && ::fsync(fileno(file_)) == 0;
#endif
}

}  // namespace torvane::cli
