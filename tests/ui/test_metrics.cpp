#include <gtest/gtest.h>

#include <QFontMetrics>

#include "qt_app.h"
#include "ui/colors.h"
#include "ui/metrics.h"

namespace ui {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  struct Case {
    int a, b, c, result;
  };
  const Case cases[] = {
      {1, 1, 2, 1},    {3, 1, 2, 2},
      {5, 1, 2, 3},  // not to the even neighbour
      {-1, 1, 2, -1},  {-5, 1, 2, -3},
      {5, -1, 2, -3},  {5, 1, -2, -3},
      {8, 7, 4, 14},   {10, 13, 8, 16},
      {14, 13, 8, 23},  // 16.25 and 22.75
      {50, 7, 4, 88},  {1, 1, 3, 0},
      {2, 1, 3, 1},    {1000000, 1000000, 1000000, 1000000},  // the product is not cut to 32 bits
      {3, 4, 0, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.result) << c.a << "*" << c.b << "/" << c.c;
}

TEST(DesignScale, MapsEdgesSoNeighboursStayTogether) {
  const DesignScale scale{1.5, 2.0};
  EXPECT_EQ(scale.Map(QRect(0, 0, 375, 180)), QRect(0, 0, 563, 360));  // 562.5 rounds up
  // 197 + 75 = 272 is where the next button's design rectangle would start.
  const QRect a = scale.Map(QRect(197, 138, 75, 25));
  const QRect b = scale.Map(QRect(272, 138, 75, 25));
  EXPECT_EQ(a.x() + a.width(), b.x());
  EXPECT_EQ(a, QRect(296, 276, 112, 50));

  QFont font = QApplication::font();
  DesignScale fitted = DesignScale::ForFont(font);
  const BaseUnits units = AverageCharSize(font);
  EXPECT_DOUBLE_EQ(fitted.x, units.x / 6.0);
  EXPECT_DOUBLE_EQ(fitted.y, units.y / 13.0);
  const double before = fitted.x;
  fitted.FitText(font, "&Short", 1000);
  EXPECT_DOUBLE_EQ(fitted.x, before);
  fitted.FitText(font, "A caption far too long for ten pixels", 10);
  EXPECT_GE(fitted.Map(QRect(0, 0, 10, 10)).width(),
            QFontMetrics(font).horizontalAdvance("A caption far too long for ten pixels"));
}

TEST(Colors, ExplicitColoursAreBgrAndSystemColoursComeFromThePalette) {
  EXPECT_EQ(ColorToRGB(RGBToColor(1, 2, 3)), QColor(1, 2, 3));
  EXPECT_EQ(RGBToColor(1, 2, 3), 0x030201u);
  EXPECT_EQ(ColorToRGB(clRed), QColor(255, 0, 0));
  EXPECT_EQ(ColorToRGB(clNavy), QColor(0, 0, 128));
  EXPECT_EQ(ColorToRGB(clYellow), QColor(255, 255, 0));

  QPalette palette;
  palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 1, 1));
  palette.setColor(QPalette::Active, QPalette::Text, QColor(2, 2, 2));
  palette.setColor(QPalette::Active, QPalette::Highlight, QColor(3, 3, 3));
  palette.setColor(QPalette::Active, QPalette::Base, QColor(4, 4, 4));
  palette.setColor(QPalette::Active, QPalette::ButtonText, QColor(5, 5, 5));
  EXPECT_EQ(ColorToRGB(clBtnFace, palette), QColor(1, 1, 1));
  EXPECT_EQ(ColorToRGB(clWindowText, palette), QColor(2, 2, 2));
  EXPECT_EQ(ColorToRGB(clHighlight, palette), QColor(3, 3, 3));
  EXPECT_EQ(ColorToRGB(clWindow, palette), QColor(4, 4, 4));
  EXPECT_EQ(ColorToRGB(clBtnText, palette), QColor(5, 5, 5));
  EXPECT_TRUE(IsSystemColor(clBtnFace));
  EXPECT_FALSE(IsSystemColor(clWhite));
}

}  // namespace
}  // namespace ui
