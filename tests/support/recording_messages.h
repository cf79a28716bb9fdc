// A message sink that keeps what it was asked to show.
#pragma once

#include <string>
#include <vector>

#include "platform/message_sink.h"

namespace torvane::test {

class RecordingMessages final : public MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string& caption = {}) override {
        shown.push_back(text);
        captions.push_back(caption);
    }
    std::vector<std::string> shown;
    std::vector<std::string> captions;
};

}  // namespace torvane::test
