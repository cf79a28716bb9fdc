// An error that carries nothing but a message text; descriptor walks raise it for blocks they
// cannot read, and the device's open catches it to show its own message.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace torvane {

class TextError : public std::exception {
public:
    explicit TextError(std::string text) : text_(std::move(text)) {}

    const char* what() const noexcept override { return text_.c_str(); }
    const std::string& text() const noexcept { return text_; }

private:
    std::string text_;
};

}  // namespace torvane
