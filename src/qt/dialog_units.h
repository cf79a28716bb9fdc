// Dialog units, as the Windows dialog templates give positions and sizes: a quarter of the
// font's average character width across, an eighth of its height down.
#pragma once

#include <QFont>
#include <QRect>

namespace torvane::qt {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // The rectangle (x, y, width, height) in dialog units, in pixels.
    QRect ToPixels(int x, int y, int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

}  // namespace torvane::qt
