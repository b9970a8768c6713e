// Pictures of the message dialog and the gauge, written into the build tree
// (<build>/images/ui/) so that a person can look at them.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <set>

#include "qt_app.h"
#include "ui/gauge.h"
#include "ui/message_form.h"

namespace ui {
namespace {

QString ImageDir() {
  const QString dir = QStringLiteral(DATOVRAT_BUILD_DIR "/images/ui");
  QDir().mkpath(dir);
  return dir;
}

// A picture worth looking at has more than a couple of colours in it.
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
  for (const auto& c : cases) {
    auto form = BuildMessageForm(c.text, mkConfirmation, c.buttons);
    form->show();
    Save(form->grab().toImage(), c.file);
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
  for (int percent : {0, 50, 100}) {
    gauge.SetProgress(percent);
    Save(gauge.grab().toImage(), QStringLiteral("gauge_%1.png").arg(percent));
  }
  // The same with the control's own gradient colours, to show the bands.
  gauge.SetColor1(clWhite);
  gauge.SetColor2(clYellow);
  gauge.SetBorderStyle(ggLowered);
  gauge.resize(291, 40);
  gauge.SetProgress(50);
  Save(gauge.grab().toImage(), "gauge_gradient_50.png");
}

}  // namespace
}  // namespace ui
