#include "ui/metrics.h"

#include <QFontMetrics>
#include <cstdint>

namespace ui {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(a) * b;
  std::int64_t divisor = c;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Round half away from zero: add half the divisor to the magnitude, then truncate.
  std::int64_t magnitude = (product < 0 ? -product : product) + divisor / 2;
  std::int64_t quotient = magnitude / divisor;
  return static_cast<int>(product < 0 ? -quotient : quotient);
}

BaseUnits AverageCharSize(const QFont& font) {
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  QFontMetrics metrics(font);
  return {metrics.horizontalAdvance(kLetters) / 52, metrics.height()};
}

QRect ScaleDesignRect(const QRect& design, BaseUnits units) {
  return QRect(MulDiv(design.left(), units.x, kDesignBaseUnits.x),
               MulDiv(design.top(), units.y, kDesignBaseUnits.y),
               MulDiv(design.width(), units.x, kDesignBaseUnits.x),
               MulDiv(design.height(), units.y, kDesignBaseUnits.y));
}

}  // namespace ui
