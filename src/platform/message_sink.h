// Where texts meant for the user in a modal message box go: the dialog, the terminal, a test.
#pragma once

#include <string>

namespace torvane {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows text with an OK button and returns when the user has seen it. An empty caption
    // stands for the program's name.
    virtual void ShowMessage(const std::string& text, const std::string& caption = {}) = 0;
};

}  // namespace torvane
