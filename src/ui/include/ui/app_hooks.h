// The Qt side of the hooks through which engine components reach the user: the
// application's top-level error handler and the plain message box. (The login prompt
// is the login dialog's, in the dialogs layer.)
#pragma once

#include <QString>
#include <exception>

class QWidget;

namespace ui {

// The application title: what the program entry set, else the executable's name.
QString ApplicationTitle();

// The top-level error handler: a message box with the error's text (a full stop added
// by ApplicationErrorText's rule), the application title as caption, the stop icon and
// an OK button. Modal; returns when the user closed it.
void ShowApplicationException(std::exception_ptr error);
// The plain message box: the text, the application title, no icon, OK.
void ShowPlainMessage(const QString& text);

// Makes the two functions above the installed hooks, keeping the login prompt that is
// installed.
void InstallQtHooks();

}  // namespace ui
