// Sizes measured from fonts, the way the window layers lay themselves out.
//
// Layouts were designed in pixels for a font whose average character is 6 by 13 pixels
// (8-point MS Sans Serif at 96 dots per inch). Here they are measured from the font in
// use, so a dialog grows with a larger or wider font instead of clipping its texts.
#pragma once

#include <QFont>
#include <QRect>

namespace ui {

// a * b / c from the 64-bit product, to the nearest integer with halves away from zero;
// -1 when c is 0.
int MulDiv(int a, int b, int c);

// The average character size of a font: the width of the 52 letters A..Z a..z divided
// by 52 (truncated), and the font's height.
struct BaseUnits {
  int x = 0;
  int y = 0;
};
BaseUnits AverageCharSize(const QFont& font);

// The design font's average character size.
inline constexpr BaseUnits kDesignBaseUnits{6, 13};

// How much larger than the design layout a window is drawn.
struct DesignScale {
  double x = 1.0;
  double y = 1.0;

  // The ratio of a font's average character size to the design font's.
  static DesignScale ForFont(const QFont& font);
  // Widens the horizontal scale, when needed, so that `text` (its "&" accelerator marks
  // not drawn) fits a design width in `font`: a font that is wide for its average
  // character must not clip a caption.
  void FitText(const QFont& font, const QString& text, int design_width);
  // A design rectangle on the screen. Edges are scaled, not sizes, so controls that
  // touch in the design still touch.
  QRect Map(const QRect& design) const;
};

}  // namespace ui
