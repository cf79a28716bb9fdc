// torvane.exe as a process: one copy per session, its arguments, and a whole update through its
// window and the file dialog with a report log.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "resource.h"
#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane::win {
namespace {

// A started torvane.exe on the simulated family; the process ends with the object.
class Program {
public:
    explicit Program(const std::string& args = "--simulate --virtual-time") {
        std::string command = "\"" TORVANE_EXE "\" " + args;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &startup, &process_) != FALSE;
    }
    ~Program() {
        if (started_) {
            if (!Ended(0)) {
                ::TerminateProcess(process_.hProcess, 1);
            }
            ::CloseHandle(process_.hThread);
            ::CloseHandle(process_.hProcess);
        }
    }
    bool started() const { return started_; }
    bool Ended(DWORD waitMs) {
        return ::WaitForSingleObject(process_.hProcess, waitMs) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() {
        DWORD code = 0;
        ::GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }
    // Its first visible top-level window with this caption for which matches holds, within ten
    // seconds; null otherwise.
    HWND Find(const wchar_t* caption, const std::function<bool(HWND)>& matches) {
        for (int i = 0; i < 1000 && !Ended(10); ++i) {
            for (HWND window = nullptr;
                 (window = ::FindWindowExW(nullptr, window, nullptr, caption)) != nullptr;) {
                DWORD process = 0;
                ::GetWindowThreadProcessId(window, &process);
                if (process == process_.dwProcessId && ::IsWindowVisible(window) &&
                    matches(window)) {
                    return window;
                }
            }
        }
        return nullptr;
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

BOOL CALLBACK MatchEdit(HWND child, LPARAM parameter) {
    wchar_t name[16] = {};
    ::GetClassNameW(child, name, 16);
    if (std::wstring(name) != L"Edit" || !::IsWindowVisible(child)) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(parameter) = child;
    return FALSE;
}

// The file dialog's name field: its one visible edit control.
HWND FirstEditChild(HWND window) {
    HWND found = nullptr;
    ::EnumChildWindows(window, &MatchEdit, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A file dropped on the program, or a shortcut's argument, still opens the dialog, and the
// program's options among them still count; a second copy ends at once. The update is chosen in
// the file dialog, and its reports go to the log.
TEST(ProgramStart, ArgumentsNotItsOwnAreIgnoredAndTheFileDialogChoosesTheImage) {
    test::TempFile image(test::QmxCImage(2));
    test::TempFile log("", ".log");
    Program program(
        "\"C:\\firmware\\dropped.hex\" --simulate=qmx-c,tzn /x --virtual-time --bogus "
        "--report-log \"" +
        log.path().string() + "\"");
    ASSERT_TRUE(program.started());
    HWND window = program.Find(
        L"Torvane", [](HWND candidate) { return ::GetDlgItem(candidate, IDC_DEVICES) != nullptr; });
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_DEVICES, CB_GETCOUNT, 0, 0), 2);
    Program second;
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(second.Ended(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_FALSE(program.Ended(0));

    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), 0);
    HWND chooser = program.Find(nullptr, [window](HWND candidate) {
        return candidate != window && ::GetWindow(candidate, GW_OWNER) == window &&
               FirstEditChild(candidate) != nullptr;
    });
    ASSERT_NE(chooser, nullptr);
    const std::wstring path = image.path().wstring();
    ::SendMessageW(FirstEditChild(chooser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    ::PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    // The text of the other process's control is sent for, so that the control answers itself.
    wchar_t text[256] = {};
    std::wstring status;
    for (int i = 0; i < 1000 && status.rfind(L"FW update successfully", 0) != 0; ++i) {
        ::Sleep(10);
        ::SendDlgItemMessageW(window, IDC_PATH_STATUS, WM_GETTEXT, 256,
                              reinterpret_cast<LPARAM>(text));
        status = text;
    }
    ASSERT_EQ(status.rfind(L"FW update successfully", 0), 0u)
        << std::string(status.begin(), status.end());
    // Escape, again until the worker's last steps are over and the dialog lets itself close.
    for (int i = 0; i < 20 && !program.Ended(0); ++i) {
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        program.Ended(1000);
    }
    ASSERT_TRUE(program.Ended(0));
    EXPECT_EQ(program.ExitCode(), 0u);

    // The device opened for the selection and its version read, then the update's reports.
    const std::string reports = test::ReadFile(log.path());
    EXPECT_EQ(reports.rfind(
                  "0 DEVICE 3A7D:1F02 IN 64 OUT 64 SERIAL TVS00001\n0 OUT 03 7E 5A 02 04 00", 0),
              0u)
        << reports;
}

}  // namespace
}  // namespace torvane::win
