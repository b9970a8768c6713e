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

// A rectangle of a design layout, scaled from the design font to a font with `units`.
QRect ScaleDesignRect(const QRect& design, BaseUnits units);

}  // namespace ui
