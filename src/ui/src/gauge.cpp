#include "ui/gauge.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "ui/metrics.h"

namespace ui {

Tgradgauge::Tgradgauge(QWidget* owner)
    : QWidget(owner),
      FBackcolor(clBtnFace),
      FBorderColor(clGray),
      FColor1(clWhite),
      FColor2(RGBToColor(255, 255, 0)),
      FBorderStyle(ggLowered),
      FProgress(1),
      FMax(100),
      FMin(1),
      FAutocaption(false) {
  // Every paint covers the whole control; nothing behind it needs drawing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(200, 40);
  // The strip keeps this first size for good; painting stretches it to whatever size
  // the control has then.
  FGradientBitmap = QImage(width(), height() - 5, QImage::Format_RGB32);
  BuildGradient();
}

Tgradgauge::~Tgradgauge() = default;

void Tgradgauge::BuildGradient() {
  const QColor a = ColorToRGB(FColor1, palette());
  const QColor b = ColorToRGB(FColor2, palette());
  const int d_red = b.red() - a.red();
  const int d_green = b.green() - a.green();
  const int d_blue = b.blue() - a.blue();
  const int w = FGradientBitmap.width();
  const int h = FGradientBitmap.height();
  if (w <= 0 || h <= 0) return;
  // 256 bands from top to bottom; with fewer rows than bands, a row shows the last band
  // that reaches it.
  for (int i = 0; i < 256; ++i) {
    const int top = MulDiv(i, h, 256);
    const int bottom = MulDiv(i + 1, h, 256);
    const QRgb color =
        qRgb((a.red() + MulDiv(i, d_red, 255)) & 0xFF, (a.green() + MulDiv(i, d_green, 255)) & 0xFF,
             (a.blue() + MulDiv(i, d_blue, 255)) & 0xFF);
    for (int y = std::max(top, 0); y < std::min(bottom, h); ++y) {
      auto* line = reinterpret_cast<QRgb*>(FGradientBitmap.scanLine(y));
      std::fill(line, line + w, color);
    }
  }
}

void Tgradgauge::SetBackcolor(TColor value) {
  if (value == FBackcolor) return;
  FBackcolor = value;
  Invalidate();
}

void Tgradgauge::SetBorderColor(TColor value) {
  if (value == FBorderColor) return;
  FBorderColor = value;
  Invalidate();
}

void Tgradgauge::SetBorderStyle(TggBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  Invalidate();
}

void Tgradgauge::SetColor1(TColor value) {
  if (value == FColor1) return;
  FColor1 = value;
  BuildGradient();
  Invalidate();
}

void Tgradgauge::SetColor2(TColor value) {
  if (value == FColor2) return;
  FColor2 = value;
  BuildGradient();
  Invalidate();
}

void Tgradgauge::SetMin(std::int32_t value) {
  if (value == FMin || value >= FMax) return;
  FMin = value;
  if (FProgress < FMin) FProgress = FMin;
  Invalidate();
}

void Tgradgauge::SetMax(std::int32_t value) {
  if (value == FMax || value <= FMin) return;
  FMax = value;
  if (FProgress > FMax) FProgress = FMax;
  if (FAutocaption) {
    FForceRefresh = true;
    SetProgress(FProgress);
  }
  Invalidate();
}

void Tgradgauge::SetProgress(std::int32_t value) {
  if (value > FMax) value = FMax;
  if (value < FMin) value = FMin;
  if (value == FProgress && !FForceRefresh) return;
  FProgress = value;
  if (FAutocaption) FCaption = QStringLiteral("%1/%2").arg(FProgress).arg(FMax);
  FForceRefresh = false;
  Paint();
}

void Tgradgauge::SetAutocaption(bool value) {
  if (value == FAutocaption) return;
  FAutocaption = value;
  if (value) {
    FForceRefresh = true;
    SetProgress(FProgress);
  }
  Invalidate();
}

void Tgradgauge::SetCaption(const QString& value) {
  if (value == FCaption) return;
  FCaption = value;
  Paint();
}

void Tgradgauge::SetHint(const QString& hint) {
  FHint = hint;
  setToolTip(FShowhint ? FHint : QString());
}

void Tgradgauge::SetShowhint(bool show) {
  FShowhint = show;
  setToolTip(FShowhint ? FHint : QString());
}

void Tgradgauge::SetAlign(TAlign align) {
  if (align == FAlign) return;
  FAlign = align;
  if (QWidget* parent = parentWidget()) {
    parent->removeEventFilter(this);
    if (FAlign != alNone) parent->installEventFilter(this);
  }
  FollowParent();
}

void Tgradgauge::FollowParent() {
  QWidget* parent = parentWidget();
  if (!parent || FAlign == alNone) return;
  const int pw = parent->width();
  const int ph = parent->height();
  switch (FAlign) {
    case alTop:
      setGeometry(0, 0, pw, height());
      break;
    case alBottom:
      setGeometry(0, ph - height(), pw, height());
      break;
    case alLeft:
      setGeometry(0, 0, width(), ph);
      break;
    case alRight:
      setGeometry(pw - width(), 0, width(), ph);
      break;
    case alClient:
      setGeometry(0, 0, pw, ph);
      break;
    case alNone:
      break;
  }
}

bool Tgradgauge::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) FollowParent();
  return QWidget::eventFilter(watched, event);
}

void Tgradgauge::LoadProperties(const TgradgaugeProperties& stored) {
  SetBackcolor(stored.Backcolor);
  SetBorderColor(stored.BorderColor);
  SetBorderStyle(stored.BorderStyle);
  SetColor1(stored.Color1);
  SetColor2(stored.Color2);
  SetMin(stored.Min);
  SetMax(stored.Max);
  SetProgress(stored.Progress);
  SetCaption(stored.Caption);
  SetAutocaption(stored.Autocaption);
  // A child follows its parent onto the screen; a control without one is not made a
  // window of its own here.
  if (!stored.Visible)
    hide();
  else if (parentWidget())
    show();
  SetHint(stored.Hint);
  SetShowhint(stored.Showhint);
  SetAlign(stored.Align);
}

int Tgradgauge::Percent() const {
  const double share = static_cast<double>(FProgress - FMin) / static_cast<double>(FMax - FMin);
  // To the nearest integer, halves to the even neighbour: 12.5 is 12, 37.5 is 38.
  return static_cast<int>(std::nearbyint(share * 100.0));
}

int Tgradgauge::FillWidth(int width, int percent) {
  return (width - 2) * percent / 100;
}

void Tgradgauge::Paint() {
  if (!isVisible()) return;
  repaint();
}

namespace {

// One-pixel lines that leave out their end point, as the line drawing the layout was
// designed with does. Only horizontal and vertical lines occur.
class LinePen {
 public:
  LinePen(QPainter& painter, QPoint start) : painter_(painter), at_(start) {}
  void LineTo(QPoint to, const QColor& color) {
    if (to.x() == at_.x()) {
      const int step = to.y() > at_.y() ? 1 : -1;
      for (int y = at_.y(); y != to.y(); y += step) painter_.fillRect(at_.x(), y, 1, 1, color);
    } else {
      const int step = to.x() > at_.x() ? 1 : -1;
      for (int x = at_.x(); x != to.x(); x += step) painter_.fillRect(x, at_.y(), 1, 1, color);
    }
    at_ = to;
  }

 private:
  QPainter& painter_;
  QPoint at_;
};

}  // namespace

QImage Tgradgauge::ComposeImage() const {
  const int w = width();
  const int h = height();
  QImage surface(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
  surface.fill(Qt::white);
  QPainter painter(&surface);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);

  const QColor border = ColorToRGB(FBorderColor, palette());
  const QColor white(255, 255, 255);
  switch (FBorderStyle) {
    case ggSolid:
      painter.fillRect(0, 0, w, 1, border);
      painter.fillRect(0, h - 1, w, 1, border);
      painter.fillRect(0, 0, 1, h, border);
      painter.fillRect(w - 1, 0, 1, h, border);
      break;
    case ggRaised:
    case ggLowered: {
      const QColor& first = FBorderStyle == ggRaised ? white : border;
      const QColor& second = FBorderStyle == ggRaised ? border : white;
      LinePen pen(painter, QPoint(1, h));
      pen.LineTo(QPoint(1, 1), first);
      pen.LineTo(QPoint(w - 1, 1), first);
      pen.LineTo(QPoint(w - 1, h - 1), second);
      pen.LineTo(QPoint(0, h - 1), second);
      break;
    }
  }

  const int percent = Percent();
  const int fill = FillWidth(w, percent);
  if (fill > 0 && h > 2) painter.drawImage(QRect(1, 1, fill, h - 2), FGradientBitmap);
  if (percent < 100 && w - 2 - fill > 0 && h > 2)
    painter.fillRect(QRect(fill + 1, 1, w - 2 - fill, h - 2), ColorToRGB(FBackcolor, palette()));

  if (!FCaption.isEmpty() && w > 3) {
    painter.setFont(font());
    painter.setPen(Qt::black);
    const QRect box(3, 0, w - 3, h);
    const QString shown =
        QFontMetrics(font()).elidedText(FCaption, Qt::ElideRight, box.width(), Qt::TextSingleLine);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  }
  return surface;
}

void Tgradgauge::paintEvent(QPaintEvent*) {
  const QImage surface = ComposeImage();
  QPainter painter(this);
  painter.drawImage(0, 0, surface);
}

void Tgradgauge::mousePressEvent(QMouseEvent* event) {
  FPressed = true;
  const QPoint p = event->position().toPoint();
  if (Onmousedown) Onmousedown(event->button(), event->modifiers(), p.x(), p.y());
}

void Tgradgauge::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (Onmousemove) Onmousemove(event->modifiers(), p.x(), p.y());
}

void Tgradgauge::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const bool click = FPressed && rect().contains(p) && event->button() == Qt::LeftButton;
  FPressed = false;
  // The click comes before the mouse-up, as the original controls reported them.
  if (click && Onclick) Onclick();
  if (Onmouseup) Onmouseup(event->button(), event->modifiers(), p.x(), p.y());
}

void Tgradgauge::mouseDoubleClickEvent(QMouseEvent* event) {
  if (Ondblclick && event->button() == Qt::LeftButton) Ondblclick();
}

}  // namespace ui
