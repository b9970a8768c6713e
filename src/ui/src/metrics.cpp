#include "ui/metrics.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
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

DesignScale DesignScale::ForFont(const QFont& font) {
  const BaseUnits units = AverageCharSize(font);
  return {static_cast<double>(units.x) / kDesignBaseUnits.x,
          static_cast<double>(units.y) / kDesignBaseUnits.y};
}

void DesignScale::FitText(const QFont& font, const QString& text, int design_width) {
  if (design_width <= 0) return;
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  // One pixel to spare: a text exactly as wide as its box loses its last column to
  // antialiasing on some fonts.
  const double needed =
      static_cast<double>(QFontMetrics(font).horizontalAdvance(shown) + 1) / design_width;
  x = std::max(x, needed);
}

QRect DesignScale::Map(const QRect& design) const {
  const int left = static_cast<int>(std::lround(design.x() * x));
  const int top = static_cast<int>(std::lround(design.y() * y));
  const int right = static_cast<int>(std::lround((design.x() + design.width()) * x));
  const int bottom = static_cast<int>(std::lround((design.y() + design.height()) * y));
  return QRect(left, top, right - left, bottom - top);
}

}  // namespace ui
