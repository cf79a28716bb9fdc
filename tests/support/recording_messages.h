// A message sink that keeps what it was asked to show.
#pragma once

#include <string>
#include <vector>

#include "platform/message_sink.h"

namespace torvane::test {

class RecordingMessages final : public MessageSink {
public:
    void ShowMessage(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

}  // namespace torvane::test
