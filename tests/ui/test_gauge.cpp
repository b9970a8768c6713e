#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QTest>
#include <string>
#include <vector>

#include "qt_app.h"
#include "ui/gauge.h"

namespace ui {
namespace {

// Counts how often the control is painted.
class CountingGauge : public Tgradgauge {
 public:
  using Tgradgauge::Tgradgauge;
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    Tgradgauge::paintEvent(event);
  }
};

// A gauge on the screen, painted once and settled, with its paint count at zero.
void ShowSettled(CountingGauge& gauge) {
  gauge.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&gauge));
  QCoreApplication::processEvents();
  gauge.paints = 0;
}

QImage Grab(QWidget& widget) {
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb Rgb(int r, int g, int b) {
  return qRgb(r, g, b);
}

TEST(Gauge, StartsWithTheConstructorsValues) {
  Tgradgauge gauge;
  EXPECT_EQ(gauge.size(), QSize(200, 40));
  EXPECT_EQ(gauge.Min(), 1);
  EXPECT_EQ(gauge.Max(), 100);
  EXPECT_EQ(gauge.Progress(), 1);
  EXPECT_EQ(gauge.Color1(), RGBToColor(255, 255, 255));
  EXPECT_EQ(gauge.Color2(), RGBToColor(255, 255, 0));
  EXPECT_EQ(gauge.Backcolor(), clBtnFace);
  EXPECT_EQ(gauge.BorderColor(), RGBToColor(128, 128, 128));
  EXPECT_EQ(gauge.BorderStyle(), ggLowered);
  EXPECT_FALSE(gauge.Autocaption());
  EXPECT_TRUE(gauge.Caption().isEmpty());
  EXPECT_EQ(gauge.GradientBitmap().size(), QSize(200, 35));
  // The strip keeps its first size; painting stretches it.
  gauge.resize(400, 80);
  EXPECT_EQ(gauge.GradientBitmap().size(), QSize(200, 35));
}

TEST(Gauge, RangeRulesAndWhenTheyPaint) {
  enum Op { kMin, kMax, kProgress };
  struct Step {
    Op op;
    int value;
    int min, max, progress;
    bool paints_at_once;
  };
  const std::vector<Step> steps = {
      {kProgress, 150, 1, 100, 100, true},   // above Max stores Max
      {kProgress, 101, 1, 100, 100, false},  // a further increment changes nothing
      {kMax, 1, 1, 100, 100, false},         // not above Min: ignored
      {kMax, 0, 1, 100, 100, false},
      {kMax, 50, 1, 50, 50, false},  // Progress follows, painted later
      {kMin, 50, 1, 50, 50, false},  // not below Max: ignored
      {kMin, 60, 1, 50, 50, false},
      {kMin, 20, 20, 50, 50, false},
      {kProgress, 5, 20, 50, 20, true},  // below Min stores Min
      {kMin, 30, 30, 50, 30, false},     // Progress follows, painted later
      {kProgress, 30, 30, 50, 30, false},
      {kMin, 0, 0, 50, 30, false},
      {kMax, 8, 0, 8, 8, false},
      {kProgress, -5, 0, 8, 0, true},
  };
  CountingGauge gauge;
  ShowSettled(gauge);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    const int before = gauge.paints;
    if (s.op == kMin) gauge.SetMin(s.value);
    if (s.op == kMax) gauge.SetMax(s.value);
    if (s.op == kProgress) gauge.SetProgress(s.value);
    EXPECT_EQ(gauge.Min(), s.min);
    EXPECT_EQ(gauge.Max(), s.max);
    EXPECT_EQ(gauge.Progress(), s.progress);
    EXPECT_EQ(gauge.paints - before, s.paints_at_once ? 1 : 0);
    QCoreApplication::processEvents();
  }
}

TEST(Gauge, ProgressAndCaptionPaintAtOnceOtherChangesLater) {
  CountingGauge gauge;
  ShowSettled(gauge);
  gauge.SetProgress(50);
  EXPECT_EQ(gauge.paints, 1);  // before any event processing
  gauge.SetCaption("a.dbf");
  EXPECT_EQ(gauge.paints, 2);
  gauge.SetCaption("a.dbf");
  gauge.SetCaption(QString("a.dbf"));
  EXPECT_EQ(gauge.paints, 2);
  gauge.SetCaption("A.dbf");  // the comparison heeds case
  EXPECT_EQ(gauge.paints, 3);

  gauge.SetBackcolor(clRed);
  gauge.SetBorderStyle(ggSolid);
  gauge.SetColor1(clBlue);
  EXPECT_EQ(gauge.paints, 3);
  QCoreApplication::processEvents();
  EXPECT_GT(gauge.paints, 3);
}

TEST(Gauge, AHiddenGaugePaintsNothing) {
  CountingGauge gauge;
  ShowSettled(gauge);
  gauge.hide();
  gauge.SetProgress(60);
  gauge.SetCaption("b.dbf");
  gauge.Paint();
  QCoreApplication::processEvents();
  EXPECT_EQ(gauge.paints, 0);
  EXPECT_EQ(gauge.Progress(), 60);
}

TEST(Gauge, AutocaptionShowsProgressOverMax) {
  CountingGauge gauge;
  ShowSettled(gauge);
  gauge.SetMin(0);
  gauge.SetMax(120);
  gauge.SetProgress(37);
  gauge.paints = 0;
  gauge.SetAutocaption(true);
  EXPECT_EQ(gauge.Caption(), "37/120");
  EXPECT_EQ(gauge.paints, 1);
  gauge.SetMax(200);
  EXPECT_EQ(gauge.Caption(), "37/200");
  EXPECT_EQ(gauge.paints, 2);
  gauge.SetProgress(38);
  EXPECT_EQ(gauge.Caption(), "38/200");
  gauge.SetMax(30);  // Progress drops to the new maximum
  EXPECT_EQ(gauge.Caption(), "30/30");
  gauge.SetAutocaption(false);
  gauge.SetProgress(10);
  EXPECT_EQ(gauge.Caption(), "30/30");
}

TEST(Gauge, PercentAndFilledWidthOnTheMainWindowsBar) {
  struct Case {
    int progress, percent, fill;
  };
  // Min 0 and Max 8: 12.5 rounds to 12 and 37.5 to 38 (halves to the even neighbour).
  const Case cases[] = {{0, 0, 0},    {1, 12, 34},  {3, 38, 109},
                        {4, 50, 144}, {7, 88, 254}, {8, 100, 289}};
  QWidget window;
  window.resize(291, 97);
  Tgradgauge gauge(&window);
  gauge.setGeometry(0, 75, 291, 22);
  gauge.SetBorderStyle(ggSolid);
  gauge.SetColor1(clWhite);
  gauge.SetColor2(clWhite);
  gauge.SetBackcolor(RGBToColor(10, 20, 30));
  gauge.SetMin(0);
  gauge.SetMax(8);
  window.show();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.progress);
    gauge.SetProgress(c.progress);
    EXPECT_EQ(gauge.Percent(), c.percent);
    EXPECT_EQ(Tgradgauge::FillWidth(291, c.percent), c.fill);
    const QImage image = Grab(gauge);
    for (int y : {1, 10, 20}) {
      EXPECT_EQ(image.pixel(0, y), Rgb(128, 128, 128));
      EXPECT_EQ(image.pixel(290, y), Rgb(128, 128, 128));
      if (c.fill > 0) {
        EXPECT_EQ(image.pixel(1, y), Rgb(255, 255, 255));
        EXPECT_EQ(image.pixel(c.fill, y), Rgb(255, 255, 255));
      }
      if (c.percent < 100) {
        EXPECT_EQ(image.pixel(c.fill + 1, y), Rgb(10, 20, 30));
        EXPECT_EQ(image.pixel(289, y), Rgb(10, 20, 30));
      }
    }
  }
}

TEST(Gauge, BorderStylesByPixel) {
  // Empty bar (percent 0): the interior is the background; only the edges tell the styles
  // apart. The lines drawn at column 1 and row 1 lie under the interior and do not show.
  const QRgb border = Rgb(0, 0, 200), back = Rgb(0, 150, 0), white = Rgb(255, 255, 255);
  struct Case {
    TggBorderStyle style;
    QRgb top, left, right, bottom, top_right, bottom_left;
  };
  const Case cases[] = {
      {ggSolid, border, border, border, border, border, border},
      {ggRaised, white, white, border, border, white, white},
      {ggLowered, white, white, white, white, white, white},
  };
  QWidget window;
  Tgradgauge gauge(&window);
  gauge.setGeometry(0, 0, 20, 10);
  gauge.SetBorderColor(RGBToColor(0, 0, 200));
  gauge.SetBackcolor(RGBToColor(0, 150, 0));
  gauge.SetProgress(gauge.Min());
  window.show();
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    gauge.SetBorderStyle(c.style);
    const QImage image = Grab(gauge);
    for (int x = 1; x <= 18; ++x) {
      EXPECT_EQ(image.pixel(x, 0), c.top) << x;
      EXPECT_EQ(image.pixel(x, 9), c.bottom) << x;
      for (int y = 1; y <= 8; ++y) EXPECT_EQ(image.pixel(x, y), back) << x << "," << y;
    }
    for (int y = 1; y <= 8; ++y) {
      EXPECT_EQ(image.pixel(0, y), c.left) << y;
      EXPECT_EQ(image.pixel(19, y), c.right) << y;
    }
    EXPECT_EQ(image.pixel(19, 0), c.top_right);
    EXPECT_EQ(image.pixel(0, 9), c.bottom_left);
    EXPECT_EQ(image.pixel(19, 9), c.bottom);
  }
}

TEST(Gauge, TheGradientRunsInBandsFromTopToBottom) {
  Tgradgauge gauge;
  // Black to white: band i is grey i. 35 rows take bands 3 (row 0) to 252 (row 34); the
  // band boundaries round i * 35 / 256 half away from zero.
  gauge.SetColor1(clBlack);
  gauge.SetColor2(clWhite);
  const QImage& strip = gauge.GradientBitmap();
  EXPECT_EQ(strip.pixel(0, 0), Rgb(3, 3, 3));
  EXPECT_EQ(strip.pixel(0, 1), Rgb(10, 10, 10));
  EXPECT_EQ(strip.pixel(0, 17), Rgb(127, 127, 127));  // band 128 starts at 17.5, so row 18
  EXPECT_EQ(strip.pixel(0, 34), Rgb(252, 252, 252));
  for (int y = 0; y < strip.height(); ++y) {
    for (int x = 1; x < strip.width(); ++x) ASSERT_EQ(strip.pixel(x, y), strip.pixel(0, y));
    if (y > 0) {
      EXPECT_GT(qRed(strip.pixel(0, y)), qRed(strip.pixel(0, y - 1)));
    }
  }

  // The constructor's white to yellow: only blue falls, and a falling channel rounds too.
  gauge.SetColor1(clWhite);
  gauge.SetColor2(clYellow);
  EXPECT_EQ(gauge.GradientBitmap().pixel(5, 0), Rgb(255, 255, 252));
  EXPECT_EQ(gauge.GradientBitmap().pixel(5, 34), Rgb(255, 255, 3));

  // A system colour is looked up when the strip is built.
  gauge.SetColor1(clBtnFace);
  gauge.SetColor2(clBtnFace);
  EXPECT_EQ(QColor(gauge.GradientBitmap().pixel(0, 20)), gauge.palette().color(QPalette::Button));

  // Painted full, the strip is stretched over the interior: rows stay uniform and run
  // from the first band to the last.
  QWidget window;
  Tgradgauge shown(&window);
  shown.setGeometry(0, 0, 200, 40);
  shown.SetColor1(clBlack);
  shown.SetColor2(clWhite);
  shown.SetBorderStyle(ggSolid);
  shown.SetProgress(shown.Max());
  window.show();
  const QImage image = Grab(shown);
  EXPECT_EQ(image.pixel(1, 1), Rgb(3, 3, 3));
  EXPECT_EQ(image.pixel(1, 38), Rgb(252, 252, 252));
  for (int y = 1; y <= 38; ++y) {
    for (int x = 2; x <= 198; ++x) ASSERT_EQ(image.pixel(x, y), image.pixel(1, y)) << x << "," << y;
    if (y > 1) {
      EXPECT_GE(qRed(image.pixel(1, y)), qRed(image.pixel(1, y - 1)));
    }
  }
}

// The rightmost column holding caption ink (dark pixels) on a white bar.
int InkRight(const QImage& image) {
  int right = -1;
  for (int y = 1; y < image.height() - 1; ++y)
    for (int x = 1; x < image.width() - 1; ++x)
      if (qGray(image.pixel(x, y)) < 128) right = std::max(right, x);
  return right;
}

TEST(Gauge, TheCaptionIsOneLiteralLineCutWithAnEllipsis) {
  QWidget window;
  Tgradgauge gauge(&window);
  gauge.setGeometry(0, 0, 291, 22);
  gauge.SetBorderStyle(ggSolid);
  gauge.SetBorderColor(clWhite);
  gauge.SetColor1(clWhite);
  gauge.SetColor2(clWhite);
  gauge.SetProgress(gauge.Max());
  window.show();

  gauge.SetCaption("AB");
  const int plain = InkRight(Grab(gauge));
  gauge.SetCaption("A&B");
  const int with_ampersand = InkRight(Grab(gauge));
  const int ampersand = QFontMetrics(gauge.font()).horizontalAdvance('&');
  EXPECT_GE(with_ampersand - plain, ampersand - 1);
  EXPECT_GT(plain, 3);

  QString path = "/data/";
  for (int i = 0; i < 40; ++i) path += "adresar/";
  gauge.SetCaption(path + "first.dbf");
  const QImage long_one = Grab(gauge);
  gauge.SetCaption(path + "other.dbf");
  EXPECT_EQ(Grab(gauge), long_one);  // the end is cut away
  const QString elided =
      QFontMetrics(gauge.font()).elidedText(path + "first.dbf", Qt::ElideRight, 291 - 3);
  ASSERT_TRUE(elided.endsWith(QChar(0x2026)));
  gauge.SetCaption(elided);
  EXPECT_EQ(Grab(gauge), long_one);

  // A line break does not start a second line.
  gauge.SetCaption("A\r\nB");
  const QImage broken = Grab(gauge);
  gauge.SetCaption("A");
  EXPECT_GT(InkRight(broken), InkRight(Grab(gauge)));
}

TEST(Gauge, StoredPropertiesApplyInPublishedOrder) {
  QWidget window;
  Tgradgauge gauge(&window);
  TgradgaugeProperties stored;
  stored.Min = 150;  // checked against the constructor's Max of 100: ignored
  stored.Max = 300;
  stored.Progress = 200;
  gauge.LoadProperties(stored);
  EXPECT_EQ(gauge.Min(), 1);
  EXPECT_EQ(gauge.Max(), 300);
  EXPECT_EQ(gauge.Progress(), 200);

  // The main window's design.
  Tgradgauge msg(&window);
  TgradgaugeProperties design;
  design.BorderStyle = ggSolid;
  design.Color2 = clWhite;
  design.Min = 0;
  design.Max = 100;
  design.Progress = 0;
  design.Visible = false;
  design.Align = alBottom;
  msg.resize(291, 22);
  msg.LoadProperties(design);
  EXPECT_EQ(msg.Min(), 0);
  EXPECT_EQ(msg.Max(), 100);
  EXPECT_EQ(msg.Progress(), 0);
  EXPECT_EQ(msg.BorderStyle(), ggSolid);
  EXPECT_EQ(msg.Color2(), clWhite);
  EXPECT_TRUE(msg.isHidden());
}

TEST(Gauge, AlignedToTheBottomItFollowsTheParent) {
  QWidget window;
  window.resize(291, 97);
  Tgradgauge gauge(&window);
  gauge.resize(100, 22);
  window.show();
  gauge.SetAlign(alBottom);
  EXPECT_EQ(gauge.geometry(), QRect(0, 75, 291, 22));
  window.resize(400, 120);
  EXPECT_EQ(gauge.geometry(), QRect(0, 98, 400, 22));
  gauge.SetAlign(alNone);
  window.resize(300, 100);
  EXPECT_EQ(gauge.geometry(), QRect(0, 98, 400, 22));
}

TEST(Gauge, MouseEventsReachTheHandlers) {
  QWidget window;
  Tgradgauge gauge(&window);
  window.show();
  std::vector<std::string> seen;
  gauge.Onmousedown = [&](Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    seen.push_back("down " + std::to_string(x) + "," + std::to_string(y));
  };
  gauge.Onmouseup = [&](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { seen.push_back("up"); };
  gauge.Onclick = [&] { seen.push_back("click"); };
  gauge.Ondblclick = [&] { seen.push_back("double"); };
  QTest::mouseClick(&gauge, Qt::LeftButton, Qt::NoModifier, QPoint(5, 6));
  QTest::mouseDClick(&gauge, Qt::LeftButton, Qt::NoModifier, QPoint(5, 6));
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 3),
            (std::vector<std::string>{"down 5,6", "click", "up"}));  // click before mouse-up
  EXPECT_NE(std::find(seen.begin(), seen.end(), "double"), seen.end());
}

}  // namespace
}  // namespace ui
