#include "qt/main_window.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QThread>

#include <cstdint>
#include <type_traits>

#include "qt/about_box.h"
#include "qt/dialog_units.h"

namespace torvane::qt {
namespace {

constexpr char kProgramName[] = "Torvane";
// How long the watcher waits for word at a time, so that it sees the window go.
constexpr std::uint32_t kWatchMs = 200;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* NewLabel(const char* text, Qt::Alignment alignment, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setAlignment(alignment);
    label->setWordWrap(true);
    return label;
}

}  // namespace

// The Windows template, 275 x 93 dialog units; the widgets are made in its order, the tab order.
MainWindow::MainWindow(DeviceInterfaces& interfaces, HidClass& hid, Clock& clock,
                       DeviceLocks& locks)
    : engine_(*this, interfaces, hid, clock, locks),
      chooser_([this] { return OpenFileDialog(); }),
      logChooser_([this] { return SaveFileDialog(); }) {
    setWindowTitle(QString::fromLatin1(kProgramName));
    setWindowIcon(QIcon(QStringLiteral(":/torvane.ico")));
    // A caption and a close box, no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const DialogUnits units(font());

    update_ = new QPushButton(QStringLiteral("Update"), this);
    update_->setObjectName(QStringLiteral("update"));
    update_->setDefault(true);
    update_->setGeometry(units.ToPixels(216, 33, 50, 14));
    scan_ = new QPushButton(QStringLiteral("Scan"), this);
    scan_->setObjectName(QStringLiteral("scan"));
    scan_->setGeometry(units.ToPixels(215, 10, 50, 14));
    NewLabel("Devices:", Qt::AlignCenter, this)->setGeometry(units.ToPixels(92, 8, 34, 15));

    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    const QPixmap picture(QStringLiteral(":/logo.bmp"));
    logo->setPixmap(picture);
    logo->setGeometry(QRect(units.ToPixels(14, 8, 0, 0).topLeft(), picture.size()));

    // A drop-down with an edit field, unsorted: entry i is row i of the device table. Typed text
    // is never used and never becomes an entry.
    devices_ = new QComboBox(this);
    devices_->setObjectName(QStringLiteral("devices"));
    devices_->setEditable(true);
    devices_->setInsertPolicy(QComboBox::NoInsert);
    const QRect combo = units.ToPixels(126, 11, 80, 0);
    devices_->setGeometry(combo.x(), combo.y(), combo.width(), devices_->sizeHint().height());

    NewLabel("FW Version:", Qt::AlignLeft | Qt::AlignVCenter, this)
        ->setGeometry(units.ToPixels(95, 33, 39, 13));
    version_ = NewLabel("0", Qt::AlignLeft | Qt::AlignVCenter, this);
    version_->setObjectName(QStringLiteral("version"));
    version_->setGeometry(units.ToPixels(138, 33, 69, 14));
    pathStatus_ = new QLineEdit(this);
    pathStatus_->setObjectName(QStringLiteral("pathStatus"));
    pathStatus_->setGeometry(units.ToPixels(69, 65, 196, 20));
    NewLabel("Path and Status", Qt::AlignLeft | Qt::AlignVCenter, this)
        ->setGeometry(units.ToPixels(14, 66, 50, 18));
    setFixedSize(units.ToPixels(0, 0, 275, 93).size());

    // Linux has no system menu to extend: the About entry is the window's context menu.
    auto* about = new QAction(QStringLiteral("关于 Torvane(&A)..."), this);
    about->setObjectName(QStringLiteral("about"));
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(about, &QAction::triggered, this, [this] { ShowAbout(); });

    connect(devices_, &QComboBox::activated, this,
            [this] { InHandler([this] { engine_.OnCbnSelchangeDevices(); }); });
    connect(scan_, &QPushButton::clicked, this,
            [this] { InHandler([this] { engine_.OnBnClickedScan(); }); });
    connect(update_, &QPushButton::clicked, this, [this] {
        InHandler([this] { engine_.OnBnClickedUpdate(); });
        ShowCause();
    });
}

template <typename Handler>
void MainWindow::InHandler(Handler handler) {
    ++handlerDepth_;
    handler();
    if (--handlerDepth_ == 0 && changeWaits_) {
        changeWaits_ = false;
        OnDevicesChanged();
    }
}

void MainWindow::OnInitDialog() {
    engine_.OnInitDialog();
}

void MainWindow::ShowAbout() {
    AboutBox(this).exec();
}

void MainWindow::SetSessionReports(SessionReports& reports) {
    reports_ = &reports;
    engine_.sessionReports = &reports;
    auto* save = new QAction(Text(reports.EntryText()), this);
    save->setObjectName(QStringLiteral("saveLog"));
    addAction(save);
    connect(save, &QAction::triggered, this, [this] { SaveReportLog(); });
}

void MainWindow::SaveReportLog() {
    // Memory only, no device: the file is written here, even while an update runs.
    if (const std::optional<std::string> message = reports_->SaveAsChosen(logChooser_)) {
        ShowMessage(*message);
    }
}

void MainWindow::ShowCause() {
    if (reports_ != nullptr) {
        pathStatus_->setToolTip(Text(reports_->LastCause()));
    }
}

void MainWindow::FollowArrivals(std::unique_ptr<DeviceArrivals> arrivals) {
    // Never alone: the worker and this thread move a simulated family's virtual clock, so on
    // virtual time a plug is seen once their work has brought the clock to it.
    watcher_ = std::jthread([this, arrivals = std::move(arrivals)](std::stop_token stop) {
        while (!stop.stop_requested()) {
            if (arrivals->Wait(kWatchMs, false)) {
                QMetaObject::invokeMethod(
                    this, [this] { OnDevicesChanged(); }, Qt::QueuedConnection);
            }
        }
    });
}

void MainWindow::OnDevicesChanged() {
    if (handlerDepth_ > 0) {
        changeWaits_ = true;
        return;
    }
    InHandler([this] { engine_.OnDevicesChanged(); });
}

void MainWindow::done(int result) {
    if (engine_.CanClose()) {
        QDialog::done(result);
    }
}

template <typename Call>
auto MainWindow::OnUiThread(Call call) {
    if (QThread::currentThread() == thread()) {
        return call();
    }
    if constexpr (std::is_void_v<decltype(call())>) {
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
    } else {
        decltype(call()) result{};
        QMetaObject::invokeMethod(
            this, [&] { result = call(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

QWidget* MainWindow::Widget(Control control) {
    switch (control) {
        case Control::DeviceList:
            return devices_;
        case Control::Scan:
            return scan_;
        case Control::Update:
            return update_;
    }
    return nullptr;
}

void MainWindow::ResetDevices() {
    OnUiThread([this] {
        scanHint_.reset();
        devices_->clear();
    });
}

void MainWindow::AddDevice(const std::string& text) {
    OnUiThread([&] { devices_->addItem(Text(text)); });
}

int MainWindow::DeviceCount() {
    return OnUiThread([this] { return devices_->count(); });
}

int MainWindow::Selection() {
    return OnUiThread([this] { return devices_->currentIndex(); });
}

void MainWindow::Select(int index) {
    OnUiThread([&] { devices_->setCurrentIndex(index); });
}

std::string MainWindow::DeviceText(int index) {
    return OnUiThread([&] { return devices_->itemText(index).toStdString(); });
}

void MainWindow::ShowTexts(const std::string& pathStatusText, const std::string& versionText) {
    OnUiThread([&] {
        // An empty line says what keeps the family's devices from being used, if anything.
        std::string line = pathStatusText;
        if (line.empty() && hint_) {
            if (!scanHint_) {
                scanHint_ = hint_();
            }
            line = scanHint_->value_or(std::string());
        }
        pathStatus_->setText(Text(line));
        version_->setText(Text(versionText));
    });
}

void MainWindow::Enable(Control control, bool enabled) {
    OnUiThread([&] { Widget(control)->setEnabled(enabled); });
}

void MainWindow::Focus(Control control) {
    OnUiThread([&] { Widget(control)->setFocus(); });
}

std::optional<std::string> MainWindow::ChooseFirmwareFile() {
    return OnUiThread([this] { return chooser_(); });
}

std::optional<std::string> MainWindow::OpenFileDialog() {
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                      QStringLiteral("Firmware file(*.hex)"));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(path).toStdString();
}

std::optional<std::string> MainWindow::SaveFileDialog() {
    const QString path =
        QFileDialog::getSaveFileName(this, QString(), QStringLiteral("torvane-report.log"));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(path).toStdString();
}

void MainWindow::SendUpdateNotify(UpdateNotice notice) {
    OnUiThread([&] {
        engine_.OnUpdateNotify(notice);
        ShowCause();
    });
}

void MainWindow::ShowMessage(const std::string& text, const std::string& caption) {
    OnUiThread([&] {
        QMessageBox box(QMessageBox::NoIcon,
                        caption.empty() ? QString::fromLatin1(kProgramName) : Text(caption),
                        Text(text), QMessageBox::Ok, this);
        box.exec();
    });
}

}  // namespace torvane::qt
