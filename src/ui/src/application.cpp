#include "ui/application.h"

#include <exception>

#include "platform/hooks.h"

namespace ui {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::SetTitle(const QString& title) {
  platform::SetApplicationTitle(title.toStdString());
  QGuiApplication::setApplicationDisplayName(title);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    // An error that got past Guarded(): reported all the same, and the loop goes on.
    platform::HandleApplicationException(std::current_exception());
    return false;
  }
}

}  // namespace ui
