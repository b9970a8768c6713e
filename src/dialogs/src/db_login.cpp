#include "dialogs/db_login.h"

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "ui/metrics.h"

namespace dialogs {
namespace {

// The design layout, in pixels for the design font; scaled to the font in use.
constexpr QSize kClientSize(375, 180);

// The captions of the labels and their design widths: the layout widens until each fits.
struct LabelDesign {
  const char* caption;
  int width;
};
constexpr LabelDesign kLabels[] = {
    {"Database ................:", 100},
    {"&User Name .............:", 98},
    {"&Password ...............:", 97},
    {"&Database Password:", 98},
};

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, bool password) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  if (password) {
    edit->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever the desktop's style would show.
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  }
  return edit;
}

// A horizontal line along the top edge of its design rectangle.
QFrame* MakeBevel(QWidget* parent, const char* name) {
  auto* bevel = new QFrame(parent);
  bevel->setObjectName(QString::fromLatin1(name));
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  return bevel;
}

}  // namespace

TDbLogin::TDbLogin(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("DbLogin"));
  setWindowTitle(QStringLiteral("Database Login"));
  FScale = ui::DesignScale::ForFont(font());
  for (const auto& label : kLabels)
    FScale.FitText(font(), QString::fromUtf8(label.caption), label.width);
  const ui::DesignScale scale = FScale;
  auto place = [scale](QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(scale.Map(QRect(left, top, width, height)));
  };
  setFixedSize(scale.Map(QRect(QPoint(0, 0), kClientSize)).size());

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  place(GroupBox1, 8, 1, 361, 169);

  Label1 = MakeLabel(GroupBox1, "Label1", kLabels[0].caption);
  place(Label1, 13, 13, 100, 13);
  DatabaseName = MakeLabel(GroupBox1, "DatabaseName", "");
  DatabaseName->setTextFormat(Qt::PlainText);
  place(DatabaseName, 120, 13, 229, 17);
  Bevel1 = MakeBevel(GroupBox1, "Bevel1");
  place(Bevel1, 2, 34, 357, 2);

  Label2 = MakeLabel(GroupBox1, "Label2", kLabels[1].caption);
  place(Label2, 13, 48, 98, 13);
  Username = MakeEdit(GroupBox1, "Username", false);
  place(Username, 118, 44, 232, 21);
  Label2->setBuddy(Username);

  Label3 = MakeLabel(GroupBox1, "Label3", kLabels[2].caption);
  place(Label3, 13, 77, 97, 13);
  Password = MakeEdit(GroupBox1, "Password", true);
  place(Password, 118, 73, 232, 21);
  Label3->setBuddy(Password);

  Bevel2 = MakeBevel(GroupBox1, "Bevel2");
  place(Bevel2, 2, 103, 357, 2);

  Label4 = MakeLabel(GroupBox1, "Label4", kLabels[3].caption);
  place(Label4, 13, 116, 98, 13);
  DbPassword = MakeEdit(GroupBox1, "DbPassword", true);
  place(DbPassword, 118, 112, 232, 21);
  Label4->setBuddy(DbPassword);

  Button1 = new QPushButton(QStringLiteral("Ok"), GroupBox1);
  Button1->setObjectName(QStringLiteral("Button1"));
  place(Button1, 197, 138, 75, 25);
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("Cancel"), GroupBox1);
  Button2->setObjectName(QStringLiteral("Button2"));
  place(Button2, 276, 138, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

  setTabOrder(Username, Password);
  setTabOrder(Password, DbPassword);
  setTabOrder(DbPassword, Button1);
  setTabOrder(Button1, Button2);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect s = screen->geometry();
    move(s.x() + s.width() / 2 - width() / 2, s.y() + s.height() / 2 - height() / 2);
  }
}

TDbLogin::~TDbLogin() = default;

void TDbLogin::Button1Click() {
  done(1);
}

void TDbLogin::Button2Click() {
  done(2);
}

void TDbLogin::reject() {
  done(2);
}

bool ShowLoginPrompt(platform::LoginRequest& request) {
  TDbLogin dialog(QApplication::activeWindow());
  dialog.Username->setText(QString::fromStdString(request.user_name));
  dialog.Password->clear();
  dialog.DbPassword->clear();
  dialog.DatabaseName->setText(QString::fromStdString(request.database_name));
  dialog.Username->setFocus();
  if (dialog.exec() != 1) return false;
  request.user_name = dialog.Username->text().toStdString();
  request.password = dialog.Password->text().toStdString();
  request.database_password = dialog.DbPassword->text().toStdString();
  return true;
}

void InstallLoginHook() {
  platform::Hooks hooks = platform::CurrentHooks();
  hooks.login_prompt = [](platform::LoginRequest& request) { return ShowLoginPrompt(request); };
  platform::InstallHooks(std::move(hooks));
}

}  // namespace dialogs
