#include "ui/message_form.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

#include "platform/resource_strings.h"
#include "ui/app_hooks.h"
#include "ui/metrics.h"

namespace ui {
namespace {

using platform::ResString;

struct ButtonKind {
  const char* name;  // the button's object name
  ResString caption;
  int modal_result;
};

constexpr ButtonKind kButtons[kMessageButtonKinds] = {
    {"Yes", ResString::MsgButtonYes, mrYes},
    {"No", ResString::MsgButtonNo, mrNo},
    {"OK", ResString::MsgButtonOK, mrOk},
    {"Cancel", ResString::MsgButtonCancel, mrCancel},
    {"Abort", ResString::MsgButtonAbort, mrAbort},
    {"Retry", ResString::MsgButtonRetry, mrRetry},
    {"Ignore", ResString::MsgButtonIgnore, mrIgnore},
    {"All", ResString::MsgButtonAll, mrAll},
    {"NoToAll", ResString::MsgButtonNoToAll, mrNoToAll},
    {"YesToAll", ResString::MsgButtonYesToAll, mrYesToAll},
    {"Help", ResString::MsgButtonHelp, mrNone},
};

// Shared by every dialog for the whole run: a caption is measured once, with the font
// of the first dialog that shows it.
std::array<int, kMessageButtonKinds>& ButtonWidths() {
  static std::array<int, kMessageButtonKinds> widths{};
  return widths;
}

HelpHandler& TheHelpHandler() {
  static HelpHandler handler = nullptr;
  return handler;
}

QString Res(ResString id) {
  return QString::fromStdString(platform::LoadResString(id));
}

// The text a caption shows: "&" marks the next character as the accelerator and is not
// drawn; "&&" draws one "&".
QString WithoutAccelerator(const QString& caption) {
  QString shown;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&')) {
      if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) shown += caption[++i];
      continue;
    }
    shown += caption[i];
  }
  return shown;
}

// Windows writes a line break as CR LF; the text engine breaks lines at LF only.
QString WithLineFeeds(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

constexpr int kTextFlags = Qt::TextWordWrap | Qt::TextExpandTabs;

// The message, drawn with the same flags it was measured with, so the wrapping on the
// screen is the wrapping the dialog was sized for. "&" is drawn as it stands.
class MessageLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int align = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    painter.drawText(rect(), kTextFlags | align | Qt::AlignTop, WithLineFeeds(text()));
  }
};

QStyle::StandardPixmap IconOf(TMessageKind kind) {
  switch (kind) {
    case mkWarning:
      return QStyle::SP_MessageBoxWarning;
    case mkError:
      return QStyle::SP_MessageBoxCritical;
    case mkInformation:
      return QStyle::SP_MessageBoxInformation;
    default:
      return QStyle::SP_MessageBoxQuestion;
  }
}

QString TitleOf(TMessageKind kind) {
  switch (kind) {
    case mkWarning:
      return Res(ResString::MsgWarning);
    case mkError:
      return Res(ResString::MsgError);
    case mkInformation:
      return Res(ResString::MsgInformation);
    case mkConfirmation:
      return Res(ResString::MsgConfirm);
    default:
      return ApplicationTitle();
  }
}

QRect ScreenRect() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 640, 480);
}

}  // namespace

TMessageForm::TMessageForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {}

TMessageForm::~TMessageForm() = default;

void TMessageForm::HelpClick() {
  if (HelpHandler handler = TheHelpHandler()) handler(FHelpFile, FHelpContext);
}

void TMessageForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    // Esc presses the cancel button; without one it does nothing (it does not close).
    if (FCancelButton && FCancelButton->isEnabled()) FCancelButton->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TMessageForm::reject() {
  done(mrCancel);
}

std::unique_ptr<TMessageForm> BuildMessageForm(const QString& text, TMessageKind kind,
                                               TMessageButtons buttons) {
  std::unique_ptr<TMessageForm> form(new TMessageForm(nullptr));
  form->setLayoutDirection(QGuiApplication::layoutDirection());
  // The desktop's font for message boxes; the application font when it names none.
  form->setFont(QApplication::font("QMessageBox"));
  const QFont font = form->font();
  const QFontMetrics metrics(font);

  TMessageMetrics& m = form->FMetrics;
  const BaseUnits units = AverageCharSize(font);
  m.base_x = units.x;
  m.base_y = units.y;
  m.horizontal_margin = MulDiv(8, units.x, 4);
  m.vertical_margin = MulDiv(8, units.y, 8);
  m.horizontal_spacing = MulDiv(10, units.x, 4);
  m.vertical_spacing = MulDiv(10, units.y, 8);
  m.button_width = MulDiv(50, units.x, 4);
  m.button_height = MulDiv(14, units.y, 8);
  m.button_spacing = MulDiv(4, units.x, 4);

  int button_count = 0;
  for (int b = 0; b < kMessageButtonKinds; ++b) {
    if (!(buttons & ButtonSet(static_cast<TMessageButton>(b)))) continue;
    ++button_count;
    int& cached = ButtonWidths()[static_cast<std::size_t>(b)];
    if (cached == 0)
      cached = metrics.horizontalAdvance(WithoutAccelerator(Res(kButtons[b].caption))) + 8;
    m.button_width = std::max(m.button_width, cached);
  }

  const QRect screen = ScreenRect();
  const QString shown = WithLineFeeds(text);
  const QRect measured = metrics.boundingRect(QRect(0, 0, screen.width() / 2, 0),
                                              kTextFlags | Qt::AlignLeft | Qt::AlignTop, shown);
  m.text_width = shown.isEmpty() ? 0 : measured.width();
  m.text_height = shown.isEmpty() ? 0 : measured.height();

  const bool has_icon = kind != mkCustom;
  m.icon_text_width = m.text_width + (has_icon ? 32 + m.horizontal_spacing : 0);
  m.icon_text_height = has_icon ? std::max(m.text_height, 32) : m.text_height;
  m.button_row_width =
      button_count == 0 ? 0 : button_count * m.button_width + (button_count - 1) * m.button_spacing;
  m.client_width = std::max(m.icon_text_width, m.button_row_width) + 2 * m.horizontal_margin;
  m.client_height =
      m.icon_text_height + m.button_height + m.vertical_spacing + 2 * m.vertical_margin;

  form->setFixedSize(m.client_width, m.client_height);
  form->move(screen.x() + screen.width() / 2 - m.client_width / 2,
             screen.y() + screen.height() / 2 - m.client_height / 2);
  form->setWindowTitle(TitleOf(kind));

  if (has_icon) {
    auto* image = new QLabel(form.get());
    image->setObjectName(QStringLiteral("Image"));
    image->setPixmap(form->style()->standardIcon(IconOf(kind), nullptr, form.get()).pixmap(32, 32));
    image->setGeometry(m.horizontal_margin, m.vertical_margin, 32, 32);
  }

  auto* message = new MessageLabel(form.get());
  message->setObjectName(QStringLiteral("Message"));
  message->setTextFormat(Qt::PlainText);
  message->setWordWrap(true);
  message->setText(text);
  int message_left = m.icon_text_width - m.text_width + m.horizontal_margin;
  if (form->layoutDirection() == Qt::RightToLeft)
    message_left = m.client_width - message_left - m.text_width;
  message->setGeometry(message_left, m.vertical_margin, m.text_width, m.text_height);

  const TMessageButton default_kind = (buttons & ButtonSet(mbOK))    ? mbOK
                                      : (buttons & ButtonSet(mbYes)) ? mbYes
                                                                     : mbRetry;
  const TMessageButton cancel_kind = (buttons & ButtonSet(mbCancel)) ? mbCancel
                                     : (buttons & ButtonSet(mbNo))   ? mbNo
                                                                     : mbOK;
  int x = (m.client_width - m.button_row_width) / 2;
  const int y = m.icon_text_height + m.vertical_margin + m.vertical_spacing;
  TMessageForm* raw = form.get();
  for (int b = 0; b < kMessageButtonKinds; ++b) {
    const auto kind_b = static_cast<TMessageButton>(b);
    if (!(buttons & ButtonSet(kind_b))) continue;
    auto* button = new QPushButton(Res(kButtons[b].caption), raw);
    button->setObjectName(QString::fromLatin1(kButtons[b].name));
    button->setGeometry(x, y, m.button_width, m.button_height);
    // Only the default button answers Enter from elsewhere; a focused button answers it
    // for itself, as push buttons do on every desktop.
    button->setAutoDefault(true);
    if (kind_b == default_kind) {
      button->setDefault(true);
      raw->FDefaultButton = button;
    }
    if (kind_b == cancel_kind) raw->FCancelButton = button;
    const int result = kButtons[b].modal_result;
    if (kind_b == mbHelp) {
      QObject::connect(button, &QPushButton::clicked, raw, [raw] { raw->HelpClick(); });
    } else {
      QObject::connect(button, &QPushButton::clicked, raw, [raw, result] { raw->done(result); });
    }
    x += m.button_width + m.button_spacing;
  }
  if (raw->FDefaultButton) raw->FDefaultButton->setFocus();
  return form;
}

int ShowMessageFormAt(const QString& text, TMessageKind kind, TMessageButtons buttons,
                      int help_context, int x, int y, const QString& help_file) {
  std::unique_ptr<TMessageForm> form = BuildMessageForm(text, kind, buttons);
  form->SetHelpContext(help_context);
  form->SetHelpFile(help_file);
  // The built form is centred on the screen; a given coordinate replaces its own.
  QPoint position = form->pos();
  if (x >= 0) position.setX(x);
  if (y >= 0) position.setY(y);
  form->move(position);
  return form->exec();
}

int ShowMessageForm(const QString& text, TMessageKind kind, TMessageButtons buttons,
                    int help_context) {
  return ShowMessageFormAt(text, kind, buttons, help_context, -1, -1);
}

int CachedButtonWidth(TMessageButton kind) {
  return kind < kMessageButtonKinds ? ButtonWidths()[kind] : 0;
}

HelpHandler SetHelpHandler(HelpHandler handler) {
  HelpHandler previous = TheHelpHandler();
  TheHelpHandler() = handler;
  return previous;
}

}  // namespace ui
