// The application object of the window program: a QApplication whose event delivery is
// the top-level error handler. An error that leaves an event handler (a button's click,
// a timer, a paint) goes to platform::HandleApplicationException, which shows it, and
// the event loop goes on; the window stays open and usable.
#pragma once

#include <QApplication>
#include <QString>

namespace ui {

// No Q_OBJECT: it adds no signals or slots of its own.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // The title of message boxes about errors and of custom-kind message dialogs.
  static void SetTitle(const QString& title);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace ui
