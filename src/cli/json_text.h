// One JSON event as a line of text. Texts from outside (file names, paths) may hold bytes that are
// not UTF-8; they are written as U+FFFD instead of ending the program.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace torvane::cli {

inline std::string JsonText(const nlohmann::json& event) {
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace torvane::cli
