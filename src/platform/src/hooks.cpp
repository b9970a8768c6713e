#include "platform/hooks.h"

#include <iostream>
#include <mutex>
#include <utility>

#include "core/errors.h"

namespace platform {
namespace {

Hooks& Installed() {
  static Hooks hooks;
  return hooks;
}

std::string& Title() {
  static std::string title;
  return title;
}

}  // namespace

std::string ExceptionMessage(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

void SetApplicationTitle(std::string title) {
  Title() = std::move(title);
}
const std::string& ApplicationTitle() {
  return Title();
}

Hooks InstallHooks(Hooks hooks) {
  Hooks previous = std::move(Installed());
  Installed() = std::move(hooks);
  return previous;
}

const Hooks& CurrentHooks() {
  return Installed();
}

std::string ApplicationErrorText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
    text += '.';
  return text;
}

void HandleApplicationException(std::exception_ptr error) {
  try {
    // An abort is a deliberate, silent exit from an operation: nothing to show.
    try {
      if (error) std::rethrow_exception(error);
    } catch (const core::EAbort&) {
      return;
    } catch (...) {
    }
    if (Installed().handle_exception) {
      Installed().handle_exception(error);
      return;
    }
    std::cerr << ApplicationErrorText(ExceptionMessage(error)) << "\n";
  } catch (...) {
    // The top-level handler is the last stop: an error inside it has nowhere to go.
  }
}

void ShowMessage(const std::string& text) {
  if (Installed().show_message) {
    Installed().show_message(text);
    return;
  }
  std::cerr << text << "\n";
}

bool PromptLogin(LoginRequest& request) {
  if (Installed().login_prompt) return Installed().login_prompt(request);
  return false;
}

}  // namespace platform
