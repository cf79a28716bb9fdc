#include "win/about_dialog.h"

#include "resource.h"

namespace torvane::win {

CAboutDlg::CAboutDlg(HINSTANCE instance) : Dialog(instance, IDD_ABOUTBOX) {}

}  // namespace torvane::win
