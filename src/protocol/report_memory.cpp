#include "protocol/report_memory.h"

#include <optional>
#include <string_view>

namespace torvane {
namespace {

// "MS DEVICE ...": the line that names a device as it is opened.
bool IsDeviceLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    return space != std::string_view::npos && line.substr(space + 1).starts_with("DEVICE ");
}

}  // namespace

ReportMemory::ReportMemory(std::size_t maxBytes)
    : maxBytes_(maxBytes), buffer_(*this), stream_(&buffer_) {}

ReportMemory::Lines::int_type ReportMemory::Lines::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char text = traits_type::to_char_type(c);
        memory_.Append(&text, 1);
    }
    return traits_type::not_eof(c);
}

std::streamsize ReportMemory::Lines::xsputn(const char* text, std::streamsize count) {
    memory_.Append(text, static_cast<std::size_t>(count));
    return count;
}

void ReportMemory::Append(const char* text, std::size_t count) {
    const std::lock_guard lock(mutex_);
    for (std::string_view rest(text, count); !rest.empty();) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            partial_ += rest;
            return;
        }
        partial_ += rest.substr(0, end + 1);
        rest.remove_prefix(end + 1);
        if (!recording_) {
            partial_.clear();
            continue;
        }
        if (IsDeviceLine(partial_)) {
            lastDevice_ = lines_.size();
        }
        bytes_ += partial_.size();
        lines_.push_back(std::move(partial_));
        partial_.clear();
        Trim();
    }
}

void ReportMemory::Trim() {
    if (bytes_ <= maxBytes_) {
        return;
    }
    while (!lines_.empty() && (bytes_ > maxBytes_ || !IsDeviceLine(lines_.front()))) {
        PopFront();
    }
}

void ReportMemory::PopFront() {
    bytes_ -= lines_.front().size();
    lines_.pop_front();
    if (lastDevice_) {
        lastDevice_ = *lastDevice_ > 0 ? std::optional(*lastDevice_ - 1) : std::nullopt;
    }
}

void ReportMemory::BeginUpdate() {
    const std::lock_guard lock(mutex_);
    // Without a device opened before, nothing before the update is kept.
    const std::size_t keepFrom = lastDevice_.value_or(lines_.size());
    for (std::size_t i = 0; i < keepFrom; ++i) {
        PopFront();
    }
    recording_ = true;
}

void ReportMemory::EndUpdate() {
    const std::lock_guard lock(mutex_);
    recording_ = false;
}

std::string ReportMemory::Text() const {
    const std::lock_guard lock(mutex_);
    std::string text;
    text.reserve(bytes_);
    for (const std::string& line : lines_) {
        text += line;
    }
    return text;
}

}  // namespace torvane
