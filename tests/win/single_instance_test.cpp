#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"

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
        for (int i = 0; i < 1000; ++i) {
            Search search{process_.dwProcessId, nullptr};
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
        HWND window;
    };
    static BOOL CALLBACK Match(HWND window, LPARAM parameter) {
        auto* search = reinterpret_cast<Search*>(parameter);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t caption[32] = {};
        ::GetWindowTextW(window, caption, 32);
        if (process == search->process && std::wstring(caption) == L"Torvane" &&
            ::IsWindowVisible(window) && ::GetDlgItem(window, IDC_DEVICES) != nullptr) {
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

}  // namespace
}  // namespace torvane::win
