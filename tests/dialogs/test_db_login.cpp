#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>

#include "../ui/qt_app.h"
#include "dialogs/db_login.h"
#include "ui/metrics.h"

namespace dialogs {
namespace {

// Runs `act` on the modal dialog once the event loop shows it.
void WhenModalShows(std::function<void(TDbLogin*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* dialog = qobject_cast<TDbLogin*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(dialog);
    }
  });
  timer->start();
}

TEST(DbLogin, ControlsCaptionsAndDesignGeometry) {
  TDbLogin dialog;
  EXPECT_EQ(dialog.objectName(), "DbLogin");
  EXPECT_EQ(dialog.windowTitle(), "Database Login");
  // The layout grows with the font's average character, and wider still when a caption
  // would not fit its label.
  const ui::BaseUnits units = ui::AverageCharSize(dialog.font());
  const ui::DesignScale& scale = dialog.DesignScale();
  EXPECT_DOUBLE_EQ(scale.y, units.y / 13.0);
  EXPECT_GE(scale.x, units.x / 6.0);
  EXPECT_EQ(dialog.size(), scale.Map(QRect(0, 0, 375, 180)).size());
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // not resizable

  struct Control {
    QWidget* widget;
    const char* name;
    QRect design;
    QString text;
  };
  const Control controls[] = {
      {dialog.GroupBox1, "GroupBox1", {8, 1, 361, 169}, ""},
      {dialog.Label1, "Label1", {13, 13, 100, 13}, "Database ................:"},
      {dialog.DatabaseName, "DatabaseName", {120, 13, 229, 17}, ""},
      {dialog.Bevel1, "Bevel1", {2, 34, 357, 2}, ""},
      {dialog.Label2, "Label2", {13, 48, 98, 13}, "&User Name .............:"},
      {dialog.Username, "Username", {118, 44, 232, 21}, ""},
      {dialog.Label3, "Label3", {13, 77, 97, 13}, "&Password ...............:"},
      {dialog.Password, "Password", {118, 73, 232, 21}, ""},
      {dialog.Bevel2, "Bevel2", {2, 103, 357, 2}, ""},
      {dialog.Label4, "Label4", {13, 116, 98, 13}, "&Database Password:"},
      {dialog.DbPassword, "DbPassword", {118, 112, 232, 21}, ""},
      {dialog.Button1, "Button1", {197, 138, 75, 25}, "Ok"},
      {dialog.Button2, "Button2", {276, 138, 75, 25}, "Cancel"},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.widget->objectName(), c.name);
    EXPECT_EQ(c.widget->geometry(), scale.Map(c.design));
    if (c.widget != dialog.GroupBox1) {
      EXPECT_EQ(c.widget->parentWidget(), dialog.GroupBox1);
    }
    if (auto* label = qobject_cast<QLabel*>(c.widget)) {
      EXPECT_EQ(label->text(), c.text);
      QString shown = c.text;
      shown.remove('&');
      EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(shown), label->width());
    }
    if (auto* button = qobject_cast<QPushButton*>(c.widget)) {
      EXPECT_EQ(button->text(), c.text);
    }
  }
  EXPECT_EQ(dialog.Label2->buddy(), dialog.Username);
  EXPECT_EQ(dialog.Label3->buddy(), dialog.Password);
  EXPECT_EQ(dialog.Label4->buddy(), dialog.DbPassword);
  EXPECT_TRUE(dialog.Button1->isDefault());
  EXPECT_FALSE(dialog.Button2->isDefault());
  EXPECT_EQ(dialog.Username->echoMode(), QLineEdit::Normal);

  // Both passwords show one "*" per character.
  for (QLineEdit* edit : {dialog.Password, dialog.DbPassword}) {
    edit->setText("tajné");
    EXPECT_EQ(edit->displayText(), "*****");
  }
}

TEST(DbLogin, TabGoesThroughTheEditsThenTheButtons) {
  TDbLogin dialog;
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.Username->setFocus();
  std::vector<QString> order;
  for (int i = 0; i < 6; ++i) {
    order.push_back(QApplication::focusWidget()->objectName());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(order, (std::vector<QString>{"Username", "Password", "DbPassword", "Button1", "Button2",
                                         "Username"}));
}

TEST(DbLogin, EnterConfirmsEscAndTheCloseBoxCancel) {
  struct Case {
    const char* what;
    std::function<void(TDbLogin&)> act;
    int result;
  };
  const Case cases[] = {
      {"Enter in the user name", [](TDbLogin& d) { QTest::keyClick(d.Username, Qt::Key_Return); },
       1},
      {"Enter in a password", [](TDbLogin& d) { QTest::keyClick(d.DbPassword, Qt::Key_Enter); }, 1},
      {"Esc", [](TDbLogin& d) { QTest::keyClick(d.Password, Qt::Key_Escape); }, 2},
      {"Ok", [](TDbLogin& d) { d.Button1->click(); }, 1},
      {"Cancel", [](TDbLogin& d) { d.Button2->click(); }, 2},
      {"close box", [](TDbLogin& d) { d.close(); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TDbLogin dialog;
    dialog.open();
    dialog.setResult(-1);
    c.act(dialog);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), c.result);
  }
}

TEST(DbLogin, ThePromptFillsTheDialogAndReturnsWhatWasTyped) {
  platform::Hooks saved = platform::InstallHooks({});
  InstallLoginHook();

  QString shown_user, shown_password, shown_db_password, shown_database, focused;
  WhenModalShows([&](TDbLogin* d) {
    shown_user = d->Username->text();
    shown_password = d->Password->text();
    shown_db_password = d->DbPassword->text();
    shown_database = d->DatabaseName->text();
    focused = d->focusWidget() ? d->focusWidget()->objectName() : QString();
    d->Username->setText("novak");
    d->Password->setText("heslo");
    d->DbPassword->setText("db");
    QTest::keyClick(d->Username, Qt::Key_Return);
  });
  platform::LoginRequest request{"/data/účetnictví.mdb", "Admin", "old", "old"};
  EXPECT_TRUE(platform::PromptLogin(request));
  EXPECT_EQ(shown_user, "Admin");
  EXPECT_EQ(shown_password, "");  // the passwords always start empty
  EXPECT_EQ(shown_db_password, "");
  EXPECT_EQ(shown_database, "/data/účetnictví.mdb");
  EXPECT_EQ(focused, "Username");
  EXPECT_EQ(request.user_name, "novak");
  EXPECT_EQ(request.password, "heslo");
  EXPECT_EQ(request.database_password, "db");

  WhenModalShows([&](TDbLogin* d) {
    shown_user = d->Username->text();
    d->Password->setText("typed");
    QTest::keyClick(d->Password, Qt::Key_Escape);
  });
  platform::LoginRequest declined{"/data/a.mdb", "", "", ""};
  EXPECT_FALSE(platform::PromptLogin(declined));
  EXPECT_EQ(shown_user, "");  // no saved user name
  EXPECT_EQ(declined.password, "");

  platform::InstallHooks(saved);
}

TEST(Snapshots, LoginDialog) {
  const QString dir = QStringLiteral(DATOVRAT_BUILD_DIR "/images/dialogs");
  QDir().mkpath(dir);
  TDbLogin dialog;
  dialog.DatabaseName->setText("/home/uživatel/data/účetnictví.mdb");
  dialog.Username->setText("Admin");
  dialog.Password->setText("heslo");
  dialog.show();
  const QImage image = dialog.grab().toImage();
  ASSERT_TRUE(image.save(dir + "/login.png", "PNG"));
  EXPECT_EQ(QImage(dir + "/login.png").size(), dialog.size());
}

}  // namespace
}  // namespace dialogs
