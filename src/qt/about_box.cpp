#include "qt/about_box.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "qt/dialog_units.h"

namespace torvane::qt {

// The Windows template: 218 x 62 dialog units, the logo at (6, 5), the text at (87, 7) and the
// default button at (165, 36).
AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于 Torvane"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());

    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    const QPixmap picture(QStringLiteral(":/logo.bmp"));
    logo->setPixmap(picture);
    logo->setGeometry(QRect(units.ToPixels(6, 5, 0, 0).topLeft(), picture.size()));

    auto* text = new QLabel(QStringLiteral("Torvane，Version 1.0 "), this);
    text->setObjectName(QStringLiteral("text"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setGeometry(units.ToPixels(87, 7, 123, 24));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setGeometry(units.ToPixels(165, 36, 42, 19));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(units.ToPixels(0, 0, 218, 62).size());
}

}  // namespace torvane::qt
