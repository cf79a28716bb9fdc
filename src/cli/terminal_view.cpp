#include "cli/terminal_view.h"

#include <algorithm>
#include <cstdio>

#include "cli/json_text.h"
#include "protocol/fixed_texts.h"

namespace torvane::cli {
namespace {

constexpr int kBarWidth = 30;
// The widest line on an 80-column terminal that does not wrap.
constexpr std::size_t kLineWidth = 79;

// The percentage of a progress text, or -1 for any other status.
int ProgressOf(const std::string& status) {
    int percent = -1;
    if (status.rfind(texts::kProgressPrefix, 0) == 0 &&
        std::sscanf(status.c_str() + std::char_traits<char>::length(texts::kProgressPrefix), "%d",
                    &percent) != 1) {
        percent = -1;
    }
    return percent;
}

}  // namespace

TerminalView::TerminalView(std::ostream& out, std::ostream& err, bool progressBar, bool json,
                           Clock& clock)
    : out_(out), err_(err), progressBar_(progressBar && !json), json_(json), clock_(clock) {}

void TerminalView::ResetDevices() {
    entries_.clear();
    selection_ = -1;
}

void TerminalView::Select(int index) {
    selection_ = index >= 0 && index < DeviceCount() ? index : -1;
}

std::string TerminalView::DeviceText(int index) {
    return index >= 0 && index < DeviceCount() ? entries_[static_cast<std::size_t>(index)]
                                               : std::string();
}

void TerminalView::ShowTexts(const std::string& pathStatusText, const std::string&) {
    if (pathStatusText == shownStatus_) {
        return;
    }
    shownStatus_ = pathStatusText;
    const int percent = ProgressOf(pathStatusText);
    const std::optional<int> secondsLeft = timeLeft_.Add(percent, clock_.TickCount());
    if (json_) {
        out_ << JsonText(nlohmann::json{{"event", "status"}, {"text", pathStatusText}}) << '\n';
        if (percent >= 0) {
            out_ << JsonText(ProgressEvent(percent, secondsLeft)) << '\n';
        }
    } else if (progressBar_ && percent >= 0) {
        const std::string left = secondsLeft ? "  " + TimeLeftText(*secondsLeft) : std::string();
        // The bar gives way to the time left, so that the line stays within kLineWidth: a line
        // that wraps is written again below itself at each \r.
        const int over = static_cast<int>(kBarWidth + 3 + pathStatusText.size() + left.size()) -
                         static_cast<int>(kLineWidth);
        const int bar = std::max(kBarWidth - std::max(over, 0), kBarWidth / 2);
        const int filled = percent * bar / 100;
        std::string line = '[' + std::string(static_cast<std::size_t>(filled), '#') +
                           std::string(static_cast<std::size_t>(bar - filled), '.') + "] " +
                           pathStatusText + left;
        // A shorter line covers what is left of the longer one before it with spaces.
        const std::size_t width = line.size();
        if (width < progressLineWidth_) {
            line.append(progressLineWidth_ - width, ' ');
        }
        out_ << '\r' << line;
        progressLineOpen_ = true;
        progressLineWidth_ = width;
    } else {
        EndProgressLine();
        out_ << pathStatusText << '\n';
    }
    out_.flush();
}

void TerminalView::ShowMessage(const std::string& text, const std::string&) {
    EndProgressLine();
    if (json_) {
        out_ << JsonText(nlohmann::json{{"event", "message"}, {"text", text}}) << '\n';
    }
    err_ << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    err_.flush();
}

void TerminalView::Remark(const std::string& text) {
    EndProgressLine();
    err_ << text << '\n';
    err_.flush();
}

void TerminalView::Emit(const std::string& text, const std::string& jsonEvent) {
    EndProgressLine();
    if (json_) {
        out_ << jsonEvent << '\n';
    } else {
        out_ << text << '\n';
    }
    out_.flush();
}

void TerminalView::EndProgressLine() {
    if (progressLineOpen_) {
        out_ << '\n';
        progressLineOpen_ = false;
        progressLineWidth_ = 0;
    }
}

}  // namespace torvane::cli
