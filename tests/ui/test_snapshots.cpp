// Pictures of the message dialog and the gauge, written into the build tree
// (<build>/images/ui/) so that a person can look at them.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <set>

#include "qt_app.h"
#include "ui/colors.h"
#include "ui/gauge.h"
#include "ui/message_form.h"

namespace ui {
namespace {

QString ImageDir() {
  const QString dir = QStringLiteral(DATOVRAT_BUILD_DIR "/images/ui");
  QDir().mkpath(dir);
  return dir;
}

// A picture worth looking at has more than a couple of colours in it (the tests also probe
// pixels where something specific must have been drawn).
int ColourCount(const QImage& image) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  return static_cast<int>(colours.size());
}

void Save(const QImage& image, const QString& name) {
  const QString path = ImageDir() + "/" + name;
  ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
  const QImage back(path);
  EXPECT_EQ(back.size(), image.size());
  EXPECT_GT(ColourCount(back), 4) << path.toStdString();
}

TEST(Snapshots, MessageDialogs) {
  struct Case {
    TMessageButtons buttons;
    QString text;
    const char* file;
  };
  const Case cases[] = {
      {mbYesNo, "Chcete přerušit operaci?", "message_yes_no.png"},
      {mbYesNoYesToAll,
       "Pole 'CENA' záznamu 17 nelze uložit: Data type conversion error.\r\nPokračovat?",
       "message_yes_no_yes_to_all.png"},
  };
  // Whether some pixel of the rectangle passes the test.
  auto any = [](const QImage& image, QRect r, auto test) {
    r = r.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (test(image.pixelColor(x, y))) return true;
    return false;
  };
  for (const auto& c : cases) {
    auto form = BuildMessageForm(c.text, mkConfirmation, c.buttons);
    form->show();
    const QImage image = form->grab().toImage();
    Save(image, c.file);
    SCOPED_TRACE(c.file);
    // The confirmation icon (blue) in the top left corner, dark text to the right of it.
    EXPECT_TRUE(
        any(image, QRect(0, 0, 60, 60), [](const QColor& p) { return p.blue() > p.red() + 60; }));
    EXPECT_TRUE(any(image, QRect(60, 0, image.width() - 60, 60),
                    [](const QColor& p) { return p.lightness() < 80; }));
    // Every button drew its caption inside its own rectangle.
    const auto buttons = form->findChildren<QPushButton*>();
    EXPECT_EQ(buttons.size(), c.buttons == mbYesNo ? 2 : 3);
    for (QPushButton* button : buttons) {
      const QRect r(button->mapTo(form.get(), QPoint(0, 0)), button->size());
      EXPECT_TRUE(any(image, r.adjusted(4, 4, -4, -4), [](const QColor& p) {
        return p.lightness() < 80;
      })) << button->text().toStdString();
    }
    form->done(mrNo);
  }
}

TEST(Snapshots, GaugeAtZeroHalfAndFull) {
  QWidget window;
  window.resize(291, 97);
  Tgradgauge gauge(&window);
  TgradgaugeProperties design;  // the main window's gauge
  design.Backcolor = clBtnFace;
  design.BorderColor = clGray;
  design.BorderStyle = ggSolid;
  design.Color1 = clWhite;
  design.Color2 = clWhite;
  design.Min = 0;
  design.Max = 100;
  design.Progress = 0;
  design.Align = alBottom;
  gauge.resize(291, 22);
  gauge.LoadProperties(design);
  window.show();
  gauge.SetCaption("/home/uživatel/data/archiv/2024/účetnictví/faktury_přijaté_a_vydané.dbf");
  // Probes on the row just inside the border, above the caption: the filled part is the
  // gradient's white, the rest the control's face colour, the border the design's grey.
  const QRgb face = ColorToRGB(clBtnFace, gauge.palette()).rgb();
  const QRgb white = QColor(Qt::white).rgb();
  for (int percent : {0, 50, 100}) {
    gauge.SetProgress(percent);
    const QImage image = gauge.grab().toImage();
    Save(image, QStringLiteral("gauge_%1.png").arg(percent));
    SCOPED_TRACE(percent);
    const int w = image.width();
    EXPECT_EQ(image.pixel(0, 0), QColor(0x80, 0x80, 0x80).rgb());
    EXPECT_EQ(image.pixel(w / 4, 2), percent >= 50 ? white : face);
    EXPECT_EQ(image.pixel(w * 3 / 4, 2), percent == 100 ? white : face);
  }
  // The same with the control's own gradient colours, to show the bands.
  gauge.SetColor1(clWhite);
  gauge.SetColor2(clYellow);
  gauge.SetBorderStyle(ggLowered);
  gauge.resize(291, 40);
  gauge.SetProgress(50);
  const QImage gradient = gauge.grab().toImage();
  Save(gradient, "gauge_gradient_50.png");
  // The bands run from white at the top to yellow at the bottom; the face colour beyond.
  const QColor top = gradient.pixelColor(gradient.width() / 4, 3);
  const QColor bottom = gradient.pixelColor(gradient.width() / 4, gradient.height() - 5);
  EXPECT_GT(top.blue(), 200);
  EXPECT_GT(bottom.red(), 200);
  EXPECT_GT(bottom.green(), 200);
  EXPECT_LT(bottom.blue(), 60);
  EXPECT_EQ(gradient.pixel(gradient.width() * 3 / 4, 3), face);
}

}  // namespace
}  // namespace ui
