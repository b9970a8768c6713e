// Tgradgauge: a progress bar whose filled part is a vertical colour gradient, with a
// one-line caption over it.
//
// Changing Progress or Caption repaints at once (synchronously), not at the next turn of
// the event loop: the copy run keeps the loop waiting for several records at a time, and
// the bar must move with every record all the same. Every paint is composed off-screen
// and copied in one piece, so the bar never flickers; the gradient itself is worked out
// only when a gradient colour changes and is merely stretched when painted.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "ui/colors.h"

namespace ui {

enum TggBorderStyle : std::uint8_t { ggSolid = 0, ggRaised = 1, ggLowered = 2 };

// Where a control keeps itself within its parent when the parent is resized.
enum TAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

class Tgradgauge;

// The gauge's published properties as a window's design stores them, all of them (none
// has a default that would let it be left out). Defaults are the constructor's values.
struct TgradgaugeProperties {
  TColor Backcolor = clBtnFace;
  TColor BorderColor = clGray;
  TggBorderStyle BorderStyle = ggLowered;
  TColor Color1 = clWhite;
  TColor Color2 = clYellow;
  std::int32_t Min = 1;
  std::int32_t Max = 100;
  std::int32_t Progress = 1;
  QString Caption;
  bool Autocaption = false;
  bool Visible = true;
  QString Hint;
  bool Showhint = false;
  TAlign Align = alNone;
};

class Tgradgauge : public QWidget {
  Q_OBJECT

 public:
  explicit Tgradgauge(QWidget* owner = nullptr);
  ~Tgradgauge() override;

  TColor Backcolor() const { return FBackcolor; }
  void SetBackcolor(TColor value);
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor value);
  TggBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TggBorderStyle value);
  TColor Color1() const { return FColor1; }
  void SetColor1(TColor value);
  TColor Color2() const { return FColor2; }
  void SetColor2(TColor value);
  // The range keeps Min < Max: a value that would break that is ignored.
  std::int32_t Min() const { return FMin; }
  void SetMin(std::int32_t value);
  std::int32_t Max() const { return FMax; }
  void SetMax(std::int32_t value);
  // Kept within Min..Max; paints at once.
  std::int32_t Progress() const { return FProgress; }
  void SetProgress(std::int32_t value);
  // With Autocaption on, the caption is "<progress>/<max>".
  bool Autocaption() const { return FAutocaption; }
  void SetAutocaption(bool value);
  // Drawn on one line, "&" as itself, ending in an ellipsis when it does not fit; paints
  // at once.
  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& value);

  QString Hint() const { return FHint; }
  void SetHint(const QString& hint);
  bool Showhint() const { return FShowhint; }
  void SetShowhint(bool show);
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign align);

  std::function<void()> Onclick;
  std::function<void()> Ondblclick;
  std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> Onmousedown;
  std::function<void(Qt::KeyboardModifiers, int x, int y)> Onmousemove;
  std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> Onmouseup;

  // Applies stored properties in their published order, the way a window's design is
  // loaded: Min goes in before Max, so a stored Min is checked against the constructor's
  // Max.
  void LoadProperties(const TgradgaugeProperties& stored);

  // Paints the whole control now (nothing when it is hidden).
  void Paint();
  // What one paint composes off-screen: the control's size, white where nothing draws.
  QImage ComposeImage() const;
  // The cached gradient strip, top colour Color1, bottom colour Color2.
  const QImage& GradientBitmap() const { return FGradientBitmap; }

  // The fill of the bar: percent of the range, and the filled width in pixels for a bar
  // `width` pixels wide.
  int Percent() const;
  static int FillWidth(int width, int percent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void BuildGradient();
  void Invalidate() { update(); }
  void FollowParent();

  QImage FGradientBitmap;
  TColor FBackcolor;
  TColor FBorderColor;
  TColor FColor1;
  TColor FColor2;
  TggBorderStyle FBorderStyle;
  std::int32_t FProgress;
  std::int32_t FMax;
  std::int32_t FMin;
  bool FAutocaption;
  QString FCaption;
  bool FForceRefresh = false;
  QString FHint;
  bool FShowhint = false;
  TAlign FAlign = alNone;
  bool FPressed = false;
};

}  // namespace ui
