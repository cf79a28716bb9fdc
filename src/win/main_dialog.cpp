#include "win/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "resource.h"
#include "win/about_dialog.h"

namespace torvane::win {
namespace {

// Runs on the user interface thread: the focus belongs to that thread's windows.
constexpr UINT kWmSetFocus = WM_APP + 1;
// The private message the worker sends the dialog, with the notice's code in wParam.
constexpr UINT kWmUpdateNotify = 10001;
constexpr std::array<std::pair<UpdateNotice, WPARAM>, 3> kNoticeCodes{{
    {UpdateNotice::kRefresh, 296},
    {UpdateNotice::kReselect, 10002},
    {UpdateNotice::kRescan, 10003},
}};
constexpr char kProgramName[] = "Torvane";

// text, in the code page given, as UTF-16.
std::wstring Wide(const std::string& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int units =
        ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(units, 0)), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          units);
    return wide;
}

int ControlId(Control control) {
    switch (control) {
        case Control::DeviceList:
            return IDC_DEVICES;
        case Control::Scan:
            return IDC_SCAN;
        case Control::Update:
            return IDC_UPDATE;
    }
    return 0;
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, DeviceInterfaces& interfaces, HidClass& hid,
                       Clock& clock, DeviceLocks& locks)
    : Dialog(instance, IDD_TORVANE_DIALOG),
      appIcon_(::LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))),
      engine_(*this, interfaces, hid, clock, locks),
      chooser_([this] { return OpenFileDialog(); }),
      logChooser_([this] { return SaveFileDialog(); }) {}

void MainDialog::SetSessionReports(SessionReports& reports) {
    reports_ = &reports;
    engine_.sessionReports = &reports;
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                CAboutDlg(instance()).DoModal(hwnd());
                return TRUE;
            }
            if ((wParam & 0xFFF0) == IDM_SAVELOG && reports_ != nullptr) {
                OnSaveReportLog();
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            return OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(appIcon_);
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_DEVICES:
                    if (HIWORD(wParam) == CBN_SELCHANGE) {
                        engine_.OnCbnSelchangeDevices();
                    }
                    return TRUE;
                case IDC_SCAN:
                    engine_.OnBnClickedScan();
                    return TRUE;
                case IDC_UPDATE:
                    engine_.OnBnClickedUpdate();
                    RefreshStatusTip();
                    return TRUE;
                case IDOK:
                case IDCANCEL:
                    // Escape and the close box end the program, but never under a running update.
                    if (engine_.CanClose()) {
                        window_ = nullptr;
                        ::EndDialog(hwnd(), LOWORD(wParam));
                    }
                    return TRUE;
                default:
                    return FALSE;
            }
        case kWmSetFocus:
            ::SetFocus(::GetDlgItem(hwnd(), static_cast<int>(wParam)));
            return TRUE;
        case kWmUpdateNotify:
            // A code of no notice is answered as a handled one, and does nothing.
            for (const auto& [notice, code] : kNoticeCodes) {
                if (code == wParam) {
                    engine_.OnUpdateNotify(notice);
                    RefreshStatusTip();
                }
            }
            ::SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

void MainDialog::OnInitDialog() {
    if (HMENU menu = ::GetSystemMenu(hwnd(), FALSE)) {
        wchar_t about[128] = {};
        if (::LoadStringW(instance(), IDS_ABOUTBOX, about, 128) > 0) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
        if (reports_ != nullptr) {
            // The path of a log file is in the system's code page, as it was given.
            const UINT codePage = reports_->Saves() ? CP_UTF8 : CP_ACP;
            ::AppendMenuW(menu, MF_STRING, IDM_SAVELOG,
                          Wide(reports_->EntryText(), codePage).c_str());
        }
    }
    AddStatusTip();
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));
    window_ = hwnd();
    engine_.OnInitDialog();
}

bool MainDialog::OnPaint() {
    if (!::IsIconic(hwnd())) {
        return false;
    }
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd(), &paint);
    ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(hwnd(), &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, appIcon_);
    ::EndPaint(hwnd(), &paint);
    return true;
}

LRESULT MainDialog::SendToCombo(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendDlgItemMessageA(hwnd(), IDC_DEVICES, message, wParam, lParam);
}

void MainDialog::ResetDevices() {
    SendToCombo(CB_RESETCONTENT, 0, 0);
}

void MainDialog::AddDevice(const std::string& text) {
    SendToCombo(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int MainDialog::DeviceCount() {
    return static_cast<int>(SendToCombo(CB_GETCOUNT, 0, 0));
}

int MainDialog::Selection() {
    return static_cast<int>(SendToCombo(CB_GETCURSEL, 0, 0));
}

void MainDialog::Select(int index) {
    SendToCombo(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string MainDialog::DeviceText(int index) {
    const LRESULT length = SendToCombo(CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) {
        return {};
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    SendToCombo(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

void MainDialog::ShowTexts(const std::string& pathStatusText, const std::string& versionText) {
    ::SetDlgItemTextA(hwnd(), IDC_PATH_STATUS, pathStatusText.c_str());
    ::SetDlgItemTextA(hwnd(), IDC_VERSION, versionText.c_str());
}

void MainDialog::Enable(Control control, bool enabled) {
    ::EnableWindow(::GetDlgItem(hwnd(), ControlId(control)), enabled ? TRUE : FALSE);
}

void MainDialog::Focus(Control control) {
    ::SendMessageW(hwnd(), kWmSetFocus, static_cast<WPARAM>(ControlId(control)), 0);
}

std::optional<std::string> MainDialog::ChooseFirmwareFile() {
    return chooser_();
}

std::optional<std::string> MainDialog::SaveFileDialog() {
    return FileDialog(true, "Report log (*.log)\0*.log\0All files\0*.*\0", "log",
                      "torvane-report.log");
}

void MainDialog::OnSaveReportLog() {
    if (const std::optional<std::string> message = reports_->SaveAsChosen(logChooser_)) {
        ShowMessage(*message);
    }
}

TTTOOLINFOW MainDialog::StatusTool() {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(hwnd(), IDC_PATH_STATUS));
    return tool;
}

// A tooltip control for the status line, its text the cause of the last update that did not
// pass; none while there is no cause.
void MainDialog::AddStatusTip() {
    statusTip_ =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, instance(), nullptr);
    if (statusTip_ == nullptr) {
        return;
    }
    TTTOOLINFOW tool = StatusTool();
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(statusTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // A long cause wraps at this width rather than running off the screen.
    ::SendMessageW(statusTip_, TTM_SETMAXTIPWIDTH, 0, 480);
}

void MainDialog::RefreshStatusTip() {
    if (reports_ == nullptr || statusTip_ == nullptr) {
        return;
    }
    const std::string cause = reports_->LastCause();
    if (cause == shownTip_) {
        return;
    }
    shownTip_ = cause;
    const std::wstring text = Wide(cause, CP_UTF8);
    TTTOOLINFOW tool = StatusTool();
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(statusTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::string MainDialog::StatusTip() {
    if (statusTip_ == nullptr) {
        return {};
    }
    std::vector<wchar_t> text(1024, L'\0');
    TTTOOLINFOW tool = StatusTool();
    tool.lpszText = text.data();
    ::SendMessageW(statusTip_, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
    text.back() = L'\0';
    const int units = static_cast<int>(std::wcslen(text.data()));
    std::string bytes(static_cast<std::size_t>(units) * 4, '\0');
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(std::max(size, 0)));
    return bytes;
}

std::optional<std::string> MainDialog::OpenFileDialog() {
    return FileDialog(false, "Firmware file(*.hex)\0*.hex\0", "hex", "");
}

std::optional<std::string> MainDialog::FileDialog(bool save, const char* filter,
                                                  const char* extension, const char* name) {
    std::vector<char> path(32768, '\0');
    std::copy_n(name, std::min(std::strlen(name), path.size() - 1), path.begin());
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd();
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = extension;
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
    if (save ? !::GetSaveFileNameA(&dialog) : !::GetOpenFileNameA(&dialog)) {
        return std::nullopt;
    }
    return std::string(path.data());
}

void MainDialog::SendUpdateNotify(UpdateNotice notice) {
    for (const auto& [each, code] : kNoticeCodes) {
        if (each == notice) {
            ::SendMessageW(hwnd(), kWmUpdateNotify, code, 0);
        }
    }
}

void MainDialog::ShowMessage(const std::string& text, const std::string& caption) {
    ::MessageBoxA(hwnd(), text.c_str(), caption.empty() ? kProgramName : caption.c_str(), MB_OK);
}

WindowHandle MainDialog::MainWindow() {
    return WindowHandle{reinterpret_cast<std::uintptr_t>(hwnd())};
}

}  // namespace torvane::win
