// torvane.exe as a process: one copy per session, its arguments, and a whole update through its
// window and the file dialog with a report log.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
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
        if (started_ && !Ended(0)) {
            ::TerminateProcess(process_.hProcess, 1);
        }
        if (started_) {
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
    // Its main window (the dialog with the device list), once it shows one within ten seconds;
    // null otherwise.
    HWND Window() {
        return Find([](HWND window) {
            wchar_t caption[32] = {};
            ::GetWindowTextW(window, caption, 32);
            return std::wstring(caption) == L"Torvane" && ::GetDlgItem(window, IDC_DEVICES);
        });
    }
    // Its first visible top-level window that matches, within ten seconds; null otherwise.
    HWND Find(const std::function<bool(HWND)>& matches) {
        for (int i = 0; i < 1000; ++i) {
            Search search{process_.dwProcessId, &matches, nullptr};
            ::EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
            if (search.window != nullptr) {
                return search.window;
            }
            if (Ended(10)) {
                return nullptr;
            }
        }
        return nullptr;
    }

private:
    struct Search {
        DWORD process;
        const std::function<bool(HWND)>* matches;
        HWND window;
    };
    static BOOL CALLBACK Match(HWND window, LPARAM parameter) {
        auto* search = reinterpret_cast<Search*>(parameter);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == search->process && ::IsWindowVisible(window) && (*search->matches)(window)) {
            search->window = window;
            return FALSE;
        }
        return TRUE;
    }

    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

TEST(SingleInstance, ASecondCopyEndsAtOnceAndTheNameIsFreeAfterTheFirst) {
    Program first;
    ASSERT_TRUE(first.started());
    HWND window = first.Window();
    ASSERT_NE(window, nullptr);

    Program second;
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(second.Ended(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_FALSE(first.Ended(0));

    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(first.Ended(10000));

    Program third;
    HWND again = third.Window();
    ASSERT_NE(again, nullptr);
    ::PostMessageW(again, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(third.Ended(10000));
}

TEST(ProgramStart, ArgumentsNotItsOwnAreIgnored) {
    // A file dropped on the program, or a shortcut's argument, still opens the dialog, and the
    // simulator's options among them still count.
    Program program("\"C:\\firmware\\dropped.hex\" --simulate=qmx-s,tzn /x --virtual-time --bogus");
    ASSERT_TRUE(program.started());
    HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_DEVICES, CB_GETCOUNT, 0, 0), 2);
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(program.Ended(10000));
    EXPECT_EQ(program.ExitCode(), 0u);
}

// The text of another process's control (sent, so that the control answers itself).
std::wstring ControlText(HWND control) {
    wchar_t text[256] = {};
    ::SendMessageW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

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

TEST(ProgramStart, ReportLogHoldsEveryReportOfAnUpdateChosenInTheFileDialog) {
    test::TempFile image(test::QmxCImage(2));
    test::TempFile log("", ".log");
    Program program("--simulate --virtual-time --report-log \"" + log.path().string() + "\"");
    HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), 0);
    HWND chooser = program.Find([window](HWND candidate) {
        return candidate != window && ::GetWindow(candidate, GW_OWNER) == window &&
               FirstEditChild(candidate) != nullptr;
    });
    ASSERT_NE(chooser, nullptr);
    const std::wstring path = image.path().wstring();
    ::SendMessageW(FirstEditChild(chooser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    ::PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    std::wstring status;
    for (int i = 0; i < 1000 && status.rfind(L"FW update successfully", 0) != 0; ++i) {
        ::Sleep(10);
        status = ControlText(::GetDlgItem(window, IDC_PATH_STATUS));
    }
    ASSERT_EQ(status.rfind(L"FW update successfully", 0), 0u)
        << std::string(status.begin(), status.end());
    // Escape, again until the worker's last steps are over and the dialog lets itself close.
    for (int i = 0; i < 20 && !program.Ended(0); ++i) {
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        program.Ended(1000);
    }
    ASSERT_TRUE(program.Ended(0));

    // The device opened for the selection, its version read, the switch, the erase, each record
    // once (the start record last) and the start of the new firmware.
    const std::string reports = test::ReadFile(log.path());
    EXPECT_EQ(reports.rfind("0 DEVICE 3A7D:1F02 IN 64 OUT 64\n0 OUT 03 7E 5A 02 04 00", 0), 0u)
        << reports;
    for (const char* command : {" OUT 03 7E 5A 0F 00", " OUT 03 7E 5A 01 01", " OUT 03 7E 5A 01 04",
                                " OUT 03 7E 5A 01 02 00 20 02 C0 DE"}) {
        EXPECT_NE(reports.find(command), std::string::npos) << command;
    }
    std::size_t writes = 0;
    for (std::size_t at = reports.find(" OUT 03 7E 5A 01 02"); at != std::string::npos;
         at = reports.find(" OUT 03 7E 5A 01 02", at + 1)) {
        ++writes;
    }
    EXPECT_EQ(writes, 4u);
}

}  // namespace
}  // namespace torvane::win
