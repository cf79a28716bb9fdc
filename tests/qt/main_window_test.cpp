#include "qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>

#include "cli/replay_check_command.h"
#include "platform/clock.h"
#include "qt/about_box.h"
#include "support/hex_text.h"
#include "support/temp_file.h"
#include "system/device_system.h"

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

// Opens window's context menu at `at` and saves one picture of the window with the menu where it
// opened: on the offscreen platform the menu is a window of its own. False when no menu came up.
bool SaveWithContextMenu(QWidget& window, QPoint at, const QString& path) {
    bool saved = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        timer.stop();
        const QRect placed(window.mapFromGlobal(menu->pos()), menu->size());
        const QRect all = window.rect().united(placed);
        QImage picture(all.size(), QImage::Format_RGB32);
        picture.fill(window.palette().window().color());
        QPainter painter(&picture);
        painter.drawPixmap(-all.topLeft(), window.grab());
        painter.drawPixmap(placed.topLeft() - all.topLeft(), menu->grab());
        painter.end();
        saved = picture.save(path);
        menu->close();
    });
    timer.start(10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, window.mapToGlobal(at));
    QApplication::sendEvent(&window, &event);
    return saved;
}

// The window over a simulated family on virtual time (or in real time), shown on the offscreen
// platform; the worker's calls reach it while the test waits in Qt's event loop.
class MainWindowTest : public ::testing::Test {
protected:
    // The devices as --simulate names them, set up as the program sets them up: the reports
    // kept in memory for the window's menu, or written to reportLog.
    void Open(const std::string& devices, bool realTime = false,
              const std::string& reportLog = {}) {
        window.reset();
        std::string error;
        system = DeviceSystem::Create(devices, !realTime, error);
        ASSERT_TRUE(system) << error;
        if (reportLog.empty()) {
            system->KeepReportsInMemory();
        } else {
            ASSERT_TRUE(system->LogReportsTo(reportLog, error)) << error;
        }
        reports = std::make_unique<SessionReports>(system->log(), system->memory(), reportLog);
        window = std::make_unique<MainWindow>(system->interfaces(), system->hid(), system->clock(),
                                              system->locks());
        window->SetFileChooser([this] {
            ++chooserCalls;
            return chooser ? chooser() : file;
        });
        window->SetLogFileChooser([this] {
            ++logChooserCalls;
            return logFile;
        });
        window->SetAccessHint(hint);
        window->SetSessionReports(*reports);
        window->OnInitDialog();
        window->show();
    }
    template <typename Widget>
    Widget* Child(const char* name) {
        return window->findChild<Widget*>(QString::fromLatin1(name));
    }
    QString Status() { return Child<QLineEdit>("pathStatus")->text(); }
    const sim::SimulatedFamily& family() { return *system->family(); }

    std::unique_ptr<DeviceSystem> system;
    std::unique_ptr<SessionReports> reports;
    std::unique_ptr<MainWindow> window;
    std::optional<std::string> file;
    // Instead of file, when set: the file dialog as the test plays it.
    MainWindow::FileChooser chooser;
    int chooserCalls = 0;
    std::optional<std::string> logFile;
    int logChooserCalls = 0;
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
    EXPECT_EQ(family().devices()[0]->eraseCount(), 0);

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
    EXPECT_EQ(family().devices()[0]->eraseCount(), 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->grab().save(TORVANE_SCREENSHOT_DIR "/linux-window.png"));
    // The worker returns once the window has handled its last notification.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->engine().CanClose(); }));
    window->reject();
    EXPECT_FALSE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Clocks, MainWindowUpdateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "RealTime" : "VirtualTime"; });

// After a failed update the status line keeps its text and its tooltip holds the cause. The
// context menu's entry after About saves the session's report log (a file that cannot be written
// is said in a message box), which replay-check reads with that cause and which replays in
// another window to the same end. With a log file the entry names it and says where it goes.
TEST_F(MainWindowTest, SavesTheSessionsLogFromItsMenuAndHoldsTheCauseInTheStatusTooltip) {
    Open("qmx-c:fail=echo@6");
    test::TempFile image(test::QmxCImage(10));
    file = image.path().string();
    Child<QPushButton>("update")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->engine().CanClose() && Status() == "Write FW error!"; }, 30000))
        << Status().toStdString();
    const std::string cause = window->engine().lastOutcome->cause;
    EXPECT_FALSE(cause.empty());
    EXPECT_EQ(Child<QLineEdit>("pathStatus")->toolTip().toStdString(), cause);

    auto* about = Child<QAction>("about");
    auto* save = Child<QAction>("saveLog");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(window->actions(), (QList<QAction*>{about, save}));
    EXPECT_EQ(save->text(), QString::fromUtf8("Save report log\u2026"));
    EXPECT_TRUE(
        SaveWithContextMenu(*window, QPoint(40, 20), TORVANE_SCREENSHOT_DIR "/linux-menu.png"));

    test::TempFile saved("", ".log");
    logFile = (saved.path().parent_path() / "no such folder" / "torvane.log").string();
    QString said;
    EXPECT_TRUE(WhileModal<QMessageBox>([&] { save->trigger(); },
                                        [&](QMessageBox& box) {
                                            said = box.text();
                                            box.button(QMessageBox::Ok)->click();
                                        }));
    EXPECT_TRUE(said.startsWith("cannot write " + QString::fromStdString(*logFile)))
        << said.toStdString();
    logFile = saved.path().string();
    save->trigger();
    EXPECT_EQ(logChooserCalls, 2);
    std::ostringstream out, err;
    ASSERT_EQ(cli::RunReplayCheck(*logFile, out, err, false), 0) << err.str();
    EXPECT_NE(out.str().find("\ncause: " + cause + "\n"), std::string::npos) << out.str();

    std::string error;
    const std::unique_ptr<DeviceSystem> replay =
        DeviceSystem::Create("replay:" + *logFile, true, error);
    ASSERT_TRUE(replay) << error;
    MainWindow replayed(replay->interfaces(), replay->hid(), replay->clock(), replay->locks());
    replayed.SetFileChooser([&] { return file; });
    replayed.OnInitDialog();
    replayed.findChild<QPushButton*>("update")->click();
    auto* replayedStatus = replayed.findChild<QLineEdit*>("pathStatus");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return replayed.engine().CanClose() && replayedStatus->text() == "Write FW error!"; },
        30000))
        << replayedStatus->text().toStdString();
    EXPECT_EQ(replayed.engine().lastOutcome->cause, cause);
    EXPECT_EQ(replay->family()->ReplayProblems(), std::vector<std::string>{});

    test::TempFile logged("", ".log");
    Open("qmx-c", false, logged.path().string());
    save = Child<QAction>("saveLog");
    EXPECT_EQ(save->text().toStdString(), "Report log: " + logged.path().string());
    EXPECT_TRUE(WhileModal<QMessageBox>([&] { save->trigger(); },
                                        [&](QMessageBox& box) {
                                            said = box.text();
                                            box.button(QMessageBox::Ok)->click();
                                        }));
    EXPECT_EQ(said.toStdString(), "the report log goes to " + logged.path().string());
    EXPECT_EQ(logChooserCalls, 2);
}

// In real time (about 4 s): a device plugged in while the window waits appears in the list
// without a scan, the selection staying on its device. One plugged in while the file dialog of a
// click is open waits until the click's handler has returned: the handler goes on with the
// list and the selection it had.
TEST_F(MainWindowTest, TheListFollowsThePlugKeepingTheSelection) {
    const std::uint32_t start = SystemClock().TickCount();
    Open("qmx-s:plug=2s,qmx-c,tzn:plug=3s", true);
    std::string error;
    window->FollowArrivals(system->WatchArrivals(error));
    auto* devices = Child<QComboBox>("devices");
    ASSERT_EQ(devices->count(), 1);
    const QString qmxC = devices->currentText();
    ASSERT_TRUE(QTest::qWaitFor([&] { return devices->count() == 2; }, 5000));
    EXPECT_EQ(devices->currentIndex(), 1);
    EXPECT_EQ(devices->currentText(), qmxC);

    int listedWhileOpen = 0;
    chooser = [&]() -> std::optional<std::string> {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return ElapsedMs(start, SystemClock().TickCount()) >= 3700; }, 5000));
        listedWhileOpen = devices->count();
        return std::nullopt;
    };
    Child<QPushButton>("update")->click();
    EXPECT_EQ(listedWhileOpen, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return devices->count() == 3; }, 5000));
    EXPECT_EQ(devices->currentIndex(), 1);
    EXPECT_EQ(devices->currentText(), qmxC);
}

}  // namespace
}  // namespace torvane::qt
