// The window program's top-level error handling.
//
// An error that leaves an event handler (a button's click, a timer) goes to
// platform::HandleApplicationException, which shows it, and the event loop goes on; the
// window stays open and usable. Qt's own code is built without exception support, so an
// error must be caught before it unwinds through Qt: handlers are connected through
// Guarded(), which catches at the handler's edge. TApplication catches whatever still
// reaches the event delivery, as a last resort.
#pragma once

#include <QApplication>
#include <QString>
#include <concepts>
#include <exception>
#include <utility>

#include "platform/hooks.h"

namespace ui {

// No Q_OBJECT: it adds no signals or slots of its own.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // The title of message boxes about errors and of custom-kind message dialogs.
  static void SetTitle(const QString& title);

  bool notify(QObject* receiver, QEvent* event) override;
};

// A handler that hands its errors to the top-level error handler instead of letting
// them into Qt's event delivery.
template <typename Handler>
auto Guarded(Handler handler) {
  // Callable with exactly the arguments the handler takes, so that Qt, which tries a
  // signal's arguments from all down to none, hands over only those.
  return [handler = std::move(handler)]<typename... Args>(
      Args && ... args) mutable requires std::invocable<Handler&, Args...> {
    try {
      handler(std::forward<Args>(args)...);
    } catch (...) {
      platform::HandleApplicationException(std::current_exception());
    }
  };
}

}  // namespace ui
