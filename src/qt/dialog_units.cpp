#include "qt/dialog_units.h"

#include <QFontMetrics>

namespace torvane::qt {
namespace {

// The dialog manager's average width: the letters' advance over 52, rounded up.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int Scale(int units, int base, int divisor) {
    return (units * base + divisor / 2) / divisor;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    baseX_ = (metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) + 51) / 52;
    baseY_ = metrics.height();
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    return {Scale(x, baseX_, 4), Scale(y, baseY_, 8), Scale(width, baseX_, 4),
            Scale(height, baseY_, 8)};
}

}  // namespace torvane::qt
