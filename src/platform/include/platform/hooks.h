// Hooks through which the engine-side components reach the user.
//
// The original components showed message boxes and dialogs themselves. Ours call these
// hooks instead: the window program installs Qt implementations, the command line a
// terminal one, tests recording ones. With nothing installed, the defaults write to
// standard error and decline every prompt, so no component ever blocks waiting for a
// user who is not there.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace platform {

// What the login prompt is filled with and gives back.
struct LoginRequest {
  std::string database_name;  // shown to the user
  std::string user_name;      // pre-filled (empty unless the user name is saved)
  std::string password;
  std::string database_password;
};

struct Hooks {
  // The application's top-level error handler: shows the error to the user.
  std::function<void(std::exception_ptr error)> handle_exception;
  // A plain message box with an OK button.
  std::function<void(const std::string& text)> show_message;
  // The database login prompt; true when the user confirmed, with the fields filled in.
  std::function<bool(LoginRequest& request)> login_prompt;
};

// Replaces the installed hooks (members left empty fall back to the defaults) and returns
// the previous set, so a test can restore it.
Hooks InstallHooks(Hooks hooks);
const Hooks& CurrentHooks();

// Hands an error to the application's top-level handler. Call it from a catch block with
// std::current_exception(); never throws.
void HandleApplicationException(std::exception_ptr error);
void ShowMessage(const std::string& text);
bool PromptLogin(LoginRequest& request);

// The message of an error as the top-level handler reports it ("Unknown error" for
// something that is not a std::exception).
std::string ExceptionMessage(std::exception_ptr error);

// The application's title: the caption of the top-level handler's message box and of
// plain message boxes. The program entry sets it; until then it is empty and the window
// layer falls back to the executable's name, as the original did.
void SetApplicationTitle(std::string title);
const std::string& ApplicationTitle();

// The text the top-level handler shows for an error: its message, with a full stop
// appended when the last character's code is above that of ".".
std::string ApplicationErrorText(const std::string& message);

}  // namespace platform
