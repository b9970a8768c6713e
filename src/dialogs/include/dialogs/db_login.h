// TDbLogin: the dialog in which the database component asks for the user name, the
// password and the database password before it opens a database with its login prompt
// on. The dialog only collects the three texts and says whether the user confirmed; the
// component fills it, reads it and frees it (through platform::PromptLogin).
#pragma once

#include <QDialog>

#include "platform/hooks.h"
#include "ui/metrics.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dialogs {

class TDbLogin : public QDialog {
  Q_OBJECT

 public:
  explicit TDbLogin(QWidget* parent = nullptr);
  ~TDbLogin() override;

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLabel* DatabaseName;  // the database path, shown
  QFrame* Bevel1;
  QLabel* Label2;
  QLineEdit* Username;
  QLabel* Label3;
  QLineEdit* Password;
  QFrame* Bevel2;
  QLabel* Label4;
  QLineEdit* DbPassword;
  QPushButton* Button1;  // "Ok", the default button
  QPushButton* Button2;  // "Cancel", the cancel button

  void Button1Click();  // ends the dialog with 1
  void Button2Click();  // ends the dialog with 2

  // How much the design layout was enlarged for the dialog's font.
  const ui::DesignScale& DesignScale() const { return FScale; }

 public slots:
  // Esc and the close box end the dialog as Cancel does.
  void reject() override;

 private:
  ui::DesignScale FScale;
};

// The login prompt behind platform::PromptLogin: fills a fresh dialog from the request
// (the user name as given, both passwords empty), shows it modally over the active
// window, and on Ok copies the three texts back and answers true.
bool ShowLoginPrompt(platform::LoginRequest& request);
// Makes ShowLoginPrompt the installed login prompt, keeping the other hooks.
void InstallLoginHook();

}  // namespace dialogs
