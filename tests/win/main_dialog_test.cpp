#include "win/main_dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <thread>

#include "cli/replay_check_command.h"
#include "resource.h"
#include "sim/device_list_grammar.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane::win {
namespace {

// Polls until ready() holds, at most timeoutMs of real time; the window runs on its own thread.
bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = 10000) {
    for (int i = 0; i < timeoutMs / 10; ++i) {
        if (ready()) {
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

// The main dialog on its own user interface thread, over a simulated family on virtual time or,
// as the program runs it, in real time on the system's tick counter.
class MainDialogTest : public ::testing::Test {
protected:
    // The devices as --simulate names them.
    // keepLog: the session's reports kept in memory, as the program keeps them without a log
    // file.
    void Open(const std::string& devices, bool realTime = false, bool keepLog = false) {
        std::string error;
        auto configs = *sim::ParseDeviceList(devices, error);
        Clock& engineClock = realTime ? SystemClock() : static_cast<Clock&>(clock);
        family = realTime ? std::make_unique<sim::SimulatedFamily>(std::move(configs))
                          : std::make_unique<sim::SimulatedFamily>(std::move(configs), clock);
        memory = std::make_unique<ReportMemory>();
        logged = std::make_unique<ReportLog>(family->hid(), engineClock, memory->stream());
        reports = std::make_unique<SessionReports>(logged.get(), memory.get());
        dialog =
            std::make_unique<MainDialog>(::GetModuleHandleW(nullptr), family->interfaces(),
                                         keepLog ? static_cast<HidClass&>(*logged) : family->hid(),
                                         engineClock, family->locks());
        if (keepLog) {
            dialog->SetSessionReports(*reports);
        }
        dialog->SetFileChooser([this]() -> std::optional<std::string> {
            ++chooserCalls;
            if (onChoose) {
                onChoose();
            }
            return file;
        });
        ui = std::thread([this] { dialog->DoModal(); });
        ASSERT_TRUE(WaitUntil([this] { return dialog->window() != nullptr; }));
        window = dialog->window();
    }
    void TearDown() override { Close(); }
    void Close() {
        if (ui.joinable()) {
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
            ui.join();
        }
    }
    void Click(int id) { ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    std::wstring Text(int id) {
        wchar_t text[256] = {};
        ::GetDlgItemTextW(window, id, text, 256);
        return text;
    }
    sim::VirtualClock clock;
    std::unique_ptr<sim::SimulatedFamily> family;
    std::unique_ptr<ReportMemory> memory;
    std::unique_ptr<ReportLog> logged;
    std::unique_ptr<SessionReports> reports;
    std::unique_ptr<MainDialog> dialog;
    std::thread ui;
    HWND window = nullptr;
    std::optional<std::string> file;
    int chooserCalls = 0;
    std::function<void()> onChoose;
};

// The run on virtual time, and in real time (about 10 s); then a Scan.
class MainDialogUpdateTest : public MainDialogTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MainDialogUpdateTest, UpdatesThroughItsControlsAndHoldsOnWhileItRuns) {
    Open("qmx-c", GetParam());
    test::TempFile image(test::QmxCImage(20));
    file = image.path().string();
    // While the first click's run starts, a second click and Escape are waiting in the queue.
    onChoose = [this] {
        if (chooserCalls == 1) {
            Click(IDC_UPDATE);
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        }
    };
    Click(IDC_UPDATE);
    const bool done = WaitUntil(
        [&] {
            return Text(IDC_PATH_STATUS).rfind(L"FW update successfully", 0) == 0 &&
                   Text(IDC_VERSION) == L"3.2.0" &&
                   ::IsWindowEnabled(::GetDlgItem(window, IDC_SCAN));
        },
        30000);
    const std::wstring status = Text(IDC_PATH_STATUS);
    ASSERT_TRUE(done) << std::string(status.begin(), status.end());
    EXPECT_EQ(chooserCalls, 1);  // the second click came with the run under way
    EXPECT_EQ(family->devices()[0]->eraseCount(), 1);
    EXPECT_TRUE(::IsWindow(window));  // Escape during the run was refused
    // Scan lists what is left.
    family->devices()[0]->Unplug();
    Click(IDC_SCAN);
    EXPECT_TRUE(WaitUntil(
        [&] { return ::SendDlgItemMessageW(window, IDC_DEVICES, CB_GETCOUNT, 0, 0) == 0; }));
}

// Where the system gives its interface no location path, as Wine's SetupAPI gives none, the
// window refuses the update before the switch: the device stays in its application.
TEST_F(MainDialogTest, AnUpdateOfADeviceWithoutALocationPathIsRefused) {
    Open("qmx-c:fail=nolocation");
    test::TempFile image(test::QmxCImage(20));
    file = image.path().string();
    Click(IDC_UPDATE);
    const bool done = WaitUntil([&] {
        return Text(IDC_PATH_STATUS) == L"Device location unknown, update refused!" &&
               dialog->engine().CanClose();
    });
    const std::wstring status = Text(IDC_PATH_STATUS);
    ASSERT_TRUE(done) << std::string(status.begin(), status.end());
    EXPECT_EQ(family->devices()[0]->mode(), sim::FamilyDevice::Mode::Application);
    EXPECT_EQ(Text(IDC_VERSION), L"3.1.0");
}

// A failed update: the status line keeps its text and its tooltip tells the cause; the system
// menu's entry after About saves the session's log, which the check reads and which replays in
// the window to the same end.
TEST_F(MainDialogTest, TheSystemMenuSavesALogThatReplaysAndTheStatusTipTellsTheCause) {
    Open("qmx-c:fail=echo@6", false, true);
    HMENU menu = ::GetSystemMenu(window, FALSE);
    const int entries = ::GetMenuItemCount(menu);
    ASSERT_GE(entries, 2);
    EXPECT_EQ(::GetMenuItemID(menu, entries - 2), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(::GetMenuItemID(menu, entries - 1), static_cast<UINT>(IDM_SAVELOG));
    wchar_t entry[64] = {};
    ::GetMenuStringW(menu, IDM_SAVELOG, entry, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(entry), L"Save report log\u2026");

    test::TempFile image(test::QmxCImage(10));
    file = image.path().string();
    Click(IDC_UPDATE);
    const auto failed = [&] {
        return Text(IDC_PATH_STATUS) == L"Write FW error!" && dialog->engine().CanClose() &&
               ::IsWindowEnabled(::GetDlgItem(window, IDC_SCAN));
    };
    ASSERT_TRUE(WaitUntil(failed));
    const std::string cause = dialog->engine().lastOutcome->cause;
    EXPECT_FALSE(cause.empty());
    EXPECT_EQ(dialog->StatusTip(), cause);

    test::TempFile saved("", ".log");
    dialog->SetLogFileChooser(
        [&]() -> std::optional<std::string> { return saved.path().string(); });
    ::PostMessageW(window, WM_SYSCOMMAND, IDM_SAVELOG, 0);
    ASSERT_TRUE(WaitUntil([&] { return !test::ReadFile(saved.path()).empty(); }));
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunReplayCheck(saved.path().string(), out, err, false), 0) << err.str();
    EXPECT_NE(out.str().find(cause), std::string::npos) << out.str();

    Close();
    Open("replay:" + saved.path().string(), false, true);
    Click(IDC_UPDATE);
    ASSERT_TRUE(WaitUntil(failed));
    EXPECT_EQ(dialog->StatusTip(), cause);
    EXPECT_EQ(family->ReplayProblems(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Clocks, MainDialogUpdateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "RealTime" : "VirtualTime"; });

}  // namespace
}  // namespace torvane::win
