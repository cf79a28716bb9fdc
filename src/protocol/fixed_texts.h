// The texts the windows show, word for word: status texts, message boxes and the formats of the
// texts that carry a number. Every layer and front end takes them from here.
#pragma once

#include <string>
#include <string_view>

namespace torvane::texts {

// Message boxes.
inline constexpr const char* kHandleFailed = "QM Device create handle failed!\n";
// The same without its line break, as an outcome's status names it.
inline constexpr std::string_view kHandleFailedStatus{
    kHandleFailed, std::char_traits<char>::length(kHandleFailed) - 1};
inline constexpr const char* kEraseFailure = "FirmWare erase failure";
inline constexpr const char* kVersionRefused = "This version don't support update";

// Status texts.
inline constexpr const char* kFileLoadError = "FW File Load error!";
inline constexpr const char* kFileParseError = "File Parse error!";
inline constexpr const char* kBootLoaderNotFound = "Bootloader not found!";
inline constexpr const char* kEraseFailed = "Erase failed!";
inline constexpr const char* kWriteError = "Write FW error!";
// Appended to a chosen file's name that does not end in "hex".
inline constexpr const char* kNotRight = " is not right!";
// A run refused before anything is sent to the device.
inline constexpr const char* kLocationUnknown = "Device location unknown, update refused!";
inline constexpr const char* kBootLoaderSilent = "Bootloader does not answer, not erased!";

// Formats of the status texts with a number; the progress text starts with kProgressPrefix.
inline constexpr const char* kParsedFormat = "FW Parse successfully, cost time %.1f second";
inline constexpr const char* kUpdatedFormat = "FW update successfully, cost time %.1f second";
inline constexpr const char* kProgressFormat = "Erase successfully, downloading %d%%...";
inline constexpr const char* kProgressPrefix = "Erase successfully, downloading ";

}  // namespace torvane::texts
