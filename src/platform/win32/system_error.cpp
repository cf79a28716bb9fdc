#include <windows.h>

#include "platform/types.h"

namespace torvane {

SystemError DescribeSystemError(std::uint32_t code) {
    char text[256] = "";
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0, text, sizeof text, nullptr);
    std::string words(text, length);
    // The system's sentences end in a full stop and a line break; the cause line adds its own.
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    if (words.empty()) {
        words = "system error " + std::to_string(code);
    }
    return {code, words, code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEV_NOT_EXIST};
}

}  // namespace torvane
