// Where texts meant for the user in a modal message box go: the dialog, the terminal, a test.
#pragma once

#include <string>

namespace torvane {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows text with an OK button and returns when the user has seen it.
    virtual void ShowMessage(const std::string& text) = 0;
};

}  // namespace torvane
