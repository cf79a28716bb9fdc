#include "win/main_dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

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
    void Open(const std::string& devices, bool realTime = false) {
        std::string error;
        auto configs = *sim::ParseDeviceList(devices, error);
        Clock& engineClock = realTime ? SystemClock() : static_cast<Clock&>(clock);
        family = realTime ? std::make_unique<sim::SimulatedFamily>(std::move(configs))
                          : std::make_unique<sim::SimulatedFamily>(std::move(configs), clock);
        dialog = std::make_unique<MainDialog>(::GetModuleHandleW(nullptr), family->interfaces(),
                                              family->hid(), engineClock, family->locks());
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
    void TearDown() override {
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

INSTANTIATE_TEST_SUITE_P(Clocks, MainDialogUpdateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "RealTime" : "VirtualTime"; });

}  // namespace
}  // namespace torvane::win
