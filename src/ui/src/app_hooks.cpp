#include "ui/app_hooks.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/hooks.h"

namespace ui {
namespace {

void ShowBox(QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, ApplicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace

QString ApplicationTitle() {
  const std::string& title = platform::ApplicationTitle();
  if (!title.empty()) return QString::fromStdString(title);
  return QCoreApplication::applicationName();
}

void ShowApplicationException(std::exception_ptr error) {
  ShowBox(
      QMessageBox::Critical,
      QString::fromStdString(platform::ApplicationErrorText(platform::ExceptionMessage(error))));
}

void ShowPlainMessage(const QString& text) {
  ShowBox(QMessageBox::NoIcon, text);
}

void InstallQtHooks() {
  platform::Hooks hooks = platform::CurrentHooks();
  hooks.handle_exception = [](std::exception_ptr error) { ShowApplicationException(error); };
  hooks.show_message = [](const std::string& text) {
    ShowPlainMessage(QString::fromStdString(text));
  };
  platform::InstallHooks(std::move(hooks));
}

}  // namespace ui
