// A report log kept in memory, for a window that has no log file: a ReportLog writes its lines
// to stream(), and Text() gives them back in the log's format. It keeps what the last update
// needs to be replayed: from BeginUpdate on, the lines from the last device opened before it
// (the read of the device the update starts from), and after EndUpdate nothing more until the
// next BeginUpdate. Before the first update it keeps the whole session. At most maxBytes: above
// that, the oldest lines go, a device's lines at a time, so the text always starts at a DEVICE
// line.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace torvane {

class ReportMemory {
public:
    static constexpr std::size_t kDefaultMaxBytes = std::size_t{8} << 20;

    explicit ReportMemory(std::size_t maxBytes = kDefaultMaxBytes);
    ReportMemory(const ReportMemory&) = delete;
    ReportMemory& operator=(const ReportMemory&) = delete;

    // What the log writes to; one thread at a time.
    std::ostream& stream() { return stream_; }

    // From any thread.
    void BeginUpdate();
    void EndUpdate();
    std::string Text() const;

private:
    // Hands each write on to Append: the log writes a whole line at a time.
    class Lines final : public std::streambuf {
    public:
        explicit Lines(ReportMemory& memory) : memory_(memory) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;

    private:
        ReportMemory& memory_;
    };

    void Append(const char* text, std::size_t count);
    // Drops the oldest lines while over maxBytes_, then up to the next DEVICE line.
    void Trim();
    // Drops the oldest line; the last DEVICE line's index follows.
    void PopFront();

    const std::size_t maxBytes_;
    mutable std::mutex mutex_;  // guards everything below
    std::deque<std::string> lines_;
    std::size_t bytes_ = 0;
    std::string partial_;                    // a line not yet ended
    std::optional<std::size_t> lastDevice_;  // index in lines_ of the last DEVICE line
    bool recording_ = true;
    Lines buffer_;
    std::ostream stream_;
};

}  // namespace torvane
