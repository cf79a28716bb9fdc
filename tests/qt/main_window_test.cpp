#include "qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "qt/about_box.h"
#include "sim/device_list_grammar.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane::qt {
namespace {

// Runs action, which opens a modal dialog of type Box; inspect gets the dialog once it shows and
// must close it. False when no such dialog came up.
template <typename Box>
bool WhileModal(const std::function<void()>& action, const std::function<void(Box&)>& inspect) {
    bool seen = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = dynamic_cast<Box*>(QApplication::activeModalWidget())) {
            timer.stop();
            seen = true;
            inspect(*box);
        }
    });
    timer.start(10);
    action();
    return seen;
}

// The window over a simulated family on virtual time (or in real time), shown on the offscreen
// platform; the worker's calls reach it while the test waits in Qt's event loop.
class MainWindowTest : public ::testing::Test {
protected:
    // The devices as --simulate names them.
    void Open(const std::string& devices, bool realTime = false) {
        std::string error;
        auto configs = *sim::ParseDeviceList(devices, error);
        family = realTime ? std::make_unique<sim::SimulatedFamily>(std::move(configs))
                          : std::make_unique<sim::SimulatedFamily>(std::move(configs), clock);
        window = std::make_unique<MainWindow>(family->interfaces(), family->hid(),
                                              realTime ? SystemClock() : clock, family->locks());
        window->SetFileChooser([this] {
            ++chooserCalls;
            return file;
        });
        window->SetAccessHint(hint);
        window->OnInitDialog();
        window->show();
    }
    template <typename Widget>
    Widget* Child(const char* name) {
        return window->findChild<Widget*>(QString::fromLatin1(name));
    }
    QString Status() { return Child<QLineEdit>("pathStatus")->text(); }

    sim::VirtualClock clock;
    std::unique_ptr<sim::SimulatedFamily> family;
    std::unique_ptr<MainWindow> window;
    std::optional<std::string> file;
    int chooserCalls = 0;
    MainWindow::AccessHint hint;
};

// An empty status line shows the access hint, worked out once per scan; a text of the engine's
// own is shown as it is. The gate's refusal comes in a message box with the program's name;
// nothing starts. (The engine's other refusals are its own tests'.) The context menu opens the
// About box.
TEST_F(MainWindowTest, ShowsTheAccessHintRefusesInAMessageBoxAndOpensTheAboutBox) {
    int asked = 0;
    hint = [&]() -> std::optional<std::string> {
        ++asked;
        return "access denied";
    };
    Open("qmx-c:version=2.1.0");
    EXPECT_EQ(Status(), "access denied");
    EXPECT_EQ(Child<QLabel>("version")->text(), "2.1.0");
    Child<QPushButton>("scan")->click();
    EXPECT_EQ(asked, 2);
    file = "/tmp/image.hex";
    QString box;
    EXPECT_TRUE(WhileModal<QMessageBox>([&] { Child<QPushButton>("update")->click(); },
                                        [&](QMessageBox& shown) {
                                            box = shown.windowTitle() + ": " + shown.text();
                                            shown.button(QMessageBox::Ok)->click();
                                        }));
    EXPECT_EQ(box, "Torvane: This version don't support update");
    EXPECT_EQ(Status(), "/tmp/image.hex");
    EXPECT_EQ(family->devices()[0]->eraseCount(), 0);

    EXPECT_EQ(window->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_TRUE(WhileModal<AboutBox>([&] { window->findChild<QAction*>("about")->trigger(); },
                                     [](AboutBox& about) { about.reject(); }));
}

// The run on virtual time, and in real time (about 10 s).
class MainWindowUpdateTest : public MainWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MainWindowUpdateTest, UpdatesThroughItsButtonsAndTheFileDialogAndHoldsOnWhileItRuns) {
    Open("qmx-c", GetParam());
    test::TempFile image(test::QmxCImage(20));
    file = image.path().string();

    auto* scan = Child<QPushButton>("scan");
    Child<QPushButton>("update")->click();
    // The worker waits for this thread: the run is under way and the window stays.
    EXPECT_FALSE(scan->isEnabled());
    window->reject();
    EXPECT_TRUE(window->isVisible());

    const bool done = QTest::qWaitFor(
        [&] {
            return Status().startsWith("FW update successfully") &&
                   Child<QLabel>("version")->text() == "3.2.0" && scan->isEnabled();
        },
        30000);
    ASSERT_TRUE(done) << Status().toStdString();
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_EQ(family->devices()[0]->eraseCount(), 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->grab().save(TORVANE_SCREENSHOT_DIR "/linux-window.png"));
    // The worker returns once the window has handled its last notification.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->engine().CanClose(); }));
    window->reject();
    EXPECT_FALSE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Clocks, MainWindowUpdateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "RealTime" : "VirtualTime"; });

}  // namespace
}  // namespace torvane::qt
