// The database component's login prompt with the real dialog: what the component fills in is
// what the user sees, and what the user types is what the component connects with.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "../ui/qt_app.h"
#include "daodb/mx_dao_database.h"
#include "dialogs/db_login.h"

namespace dialogs {
namespace {

void WhenLoginShows(std::function<void(TDbLogin*)> act) {
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

TEST(DatabaseLogin, TheComponentConnectsWithWhatWasTypedInTheDialog) {
  platform::Hooks saved = platform::InstallHooks({});
  std::vector<std::string> messages;
  platform::Hooks with_messages;
  with_messages.show_message = [&](const std::string& text) { messages.push_back(text); };
  platform::InstallHooks(with_messages);
  InstallLoginHook();

  std::filesystem::path dir = std::filesystem::temp_directory_path() / "datovrat-login-test";
  std::filesystem::create_directories(dir);
  std::string file = (dir / "účty.mdb").string();
  std::filesystem::remove(file);

  daodb::TMxDaoDatabase db;
  db.BeginLoading();
  db.EndLoading();
  db.CreateAccessDatabase(file);
  db.SetDatabase(file);
  db.SetLoginPrompt(true);
  db.SetPassword("stale");

  QString shown_user, shown_password, shown_database;
  WhenLoginShows([&](TDbLogin* d) {
    shown_user = d->Username->text();
    shown_password = d->Password->text();
    shown_database = d->DatabaseName->text();
    d->Username->setText("Admin");
    QTest::keyClick(d->Username, Qt::Key_Return);
  });
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(shown_user, "Admin");
  EXPECT_EQ(shown_password, "");
  EXPECT_EQ(shown_database, QString::fromStdString(file));
  EXPECT_EQ(db.Password(), "");
  db.Close();

  // Esc declines: the component says why and stays disconnected.
  WhenLoginShows([&](TDbLogin* d) { QTest::keyClick(d->Username, Qt::Key_Escape); });
  db.Open();
  EXPECT_FALSE(db.Connected());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            "If You not enter Username and Password You may not gain access to your data!");
  EXPECT_EQ(db.UserName(), "");

  platform::InstallHooks(saved);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dialogs
