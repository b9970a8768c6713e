// The program's own message dialog: Czech title and button captions from the string
// table, an optional system icon, a word-wrapped message and a centred row of buttons,
// all sized from the dialog font's average character size. The program asks every
// question through it instead of the desktop's message box, so the captions are ours.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;

namespace ui {

enum TMessageKind : std::uint8_t {
  mkWarning = 0,
  mkError = 1,
  mkInformation = 2,
  mkConfirmation = 3,
  mkCustom = 4,  // titled with the application title, no icon
};

// Button kinds; a set of buttons has bit i for kind i (bits 11 to 15 mean nothing).
enum TMessageButton : std::uint8_t {
  mbYes = 0,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp,
};
inline constexpr int kMessageButtonKinds = 11;

using TMessageButtons = std::uint16_t;
inline constexpr TMessageButtons ButtonSet(TMessageButton kind) {
  return static_cast<TMessageButtons>(1u << kind);
}
inline constexpr TMessageButtons mbYesNo = ButtonSet(mbYes) | ButtonSet(mbNo);       // 3
inline constexpr TMessageButtons mbYesNoYesToAll = mbYesNo | ButtonSet(mbYesToAll);  // 515

// Modal results of the program's dialogs.
enum TModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10,
};

// The sizes BuildMessageForm worked out, kept on the form so that they can be checked.
struct TMessageMetrics {
  int base_x = 0, base_y = 0;  // the font's average character size
  int horizontal_margin = 0, vertical_margin = 0;
  int horizontal_spacing = 0, vertical_spacing = 0;
  int button_width = 0, button_height = 0, button_spacing = 0;
  int text_width = 0, text_height = 0;  // the message as measured, wrapped
  int icon_text_width = 0, icon_text_height = 0;
  int button_row_width = 0;
  int client_width = 0, client_height = 0;
};

class TMessageForm : public QDialog {
  Q_OBJECT

 public:
  ~TMessageForm() override;

  int HelpContext() const { return FHelpContext; }
  void SetHelpContext(int context) { FHelpContext = context; }
  const QString& HelpFile() const { return FHelpFile; }
  void SetHelpFile(const QString& file) { FHelpFile = file; }

  const TMessageMetrics& Metrics() const { return FMetrics; }
  // The buttons with the default role (Enter) and the cancel role (Esc); null when the
  // set has no such button.
  QPushButton* DefaultButton() const { return FDefaultButton; }
  QPushButton* CancelButton() const { return FCancelButton; }

  // The Help button: shows the help topic of the form's help context and leaves the
  // dialog open.
  void HelpClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 public slots:
  // The close box and the system's close command end the dialog as Cancel does.
  void reject() override;

 private:
  explicit TMessageForm(QWidget* parent);
  friend std::unique_ptr<TMessageForm> BuildMessageForm(const QString& text, TMessageKind kind,
                                                        TMessageButtons buttons);

  int FHelpContext = 0;
  QString FHelpFile;
  TMessageMetrics FMetrics;
  QPushButton* FDefaultButton = nullptr;
  QPushButton* FCancelButton = nullptr;
};

// Builds the dialog without showing it; the caller owns it.
std::unique_ptr<TMessageForm> BuildMessageForm(const QString& text, TMessageKind kind,
                                               TMessageButtons buttons);
// Builds, positions (a negative coordinate keeps the centred one), shows modally, frees,
// and returns the modal result.
int ShowMessageFormAt(const QString& text, TMessageKind kind, TMessageButtons buttons,
                      int help_context, int x, int y, const QString& help_file = QString());
int ShowMessageForm(const QString& text, TMessageKind kind, TMessageButtons buttons,
                    int help_context);

// The caption width of each button kind, measured the first time a dialog with that
// button is built and kept for the rest of the run (0 until then).
int CachedButtonWidth(TMessageButton kind);

// What the Help button calls. No help system comes with the program, so by default it
// does nothing; a program that has one installs it here.
using HelpHandler = void (*)(const QString& help_file, int help_context);
HelpHandler SetHelpHandler(HelpHandler handler);

}  // namespace ui
