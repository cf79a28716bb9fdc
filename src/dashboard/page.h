// The station's live page: HTML, CSS and JavaScript in one text, with nothing fetched from
// elsewhere. It follows /events and draws a tile per port, the tally and the last boards.
#pragma once

#include <string_view>

namespace torvane::dashboard {

std::string_view PageHtml();

}  // namespace torvane::dashboard
