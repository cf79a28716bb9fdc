// The About box: template 100, opened from the system menu.
#pragma once

#include "win/dialog.h"

namespace torvane::win {

class CAboutDlg final : public Dialog {
public:
    explicit CAboutDlg(HINSTANCE instance);
};

}  // namespace torvane::win
