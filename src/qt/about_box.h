// The About box: the logo, the program's name and version, and 确定.
#pragma once

#include <QDialog>

namespace torvane::qt {

class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* parent);
};

}  // namespace torvane::qt
