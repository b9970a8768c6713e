#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/hooks.h"

namespace platform {
namespace {

TEST(ApplicationErrorText, AddsAFullStopAfterCharactersAboveIt) {
  struct Case {
    std::string message, shown;
  };
  const std::vector<Case> cases = {
      {"Table not found", "Table not found."},
      {"Done.", "Done."},
      {"Really?", "Really?."},    // '?' comes after '.'
      {"Number 5", "Number 5."},  // so do the digits
      {"Stop!", "Stop!"},         // '!' comes before it
      {"Tab-", "Tab-"},           // and so does '-'
      {"quoted'", "quoted'"},
      {"Line\r\n", "Line\r\n"},
      {"Cesta ž", "Cesta ž."},  // the last byte of a UTF-8 character is above '.'
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplicationErrorText(c.message), c.shown) << c.message;
}

// Restores the hooks a test replaced.
class HooksTest : public ::testing::Test {
 protected:
  void TearDown() override { InstallHooks(saved_); }
  Hooks saved_ = InstallHooks({});
};

TEST_F(HooksTest, CallsReachTheInstalledHooks) {
  std::vector<std::string> seen;
  Hooks hooks;
  hooks.handle_exception = [&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const core::EDatabaseError& error) {
      seen.push_back(std::string("error: ") + error.what());
    }
  };
  hooks.show_message = [&](const std::string& text) { seen.push_back("message: " + text); };
  hooks.login_prompt = [&](LoginRequest& request) {
    seen.push_back("login: " + request.database_name + " as " + request.user_name);
    request.password = "secret";
    return true;
  };
  InstallHooks(hooks);

  try {
    core::DatabaseError("Bad field");
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  ShowMessage("Hello");
  LoginRequest request{"/tmp/a.mdb", "Admin", "", ""};
  EXPECT_TRUE(PromptLogin(request));
  EXPECT_EQ(request.password, "secret");
  EXPECT_EQ(seen, (std::vector<std::string>{"error: Bad field", "message: Hello",
                                            "login: /tmp/a.mdb as Admin"}));

  // The set installed before comes back, and the defaults decline and never throw.
  Hooks mine = InstallHooks({});
  EXPECT_TRUE(static_cast<bool>(mine.login_prompt));
  LoginRequest declined{"x.mdb", "Admin", "", ""};
  EXPECT_FALSE(PromptLogin(declined));
  EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(std::runtime_error("x"))));
}

TEST_F(HooksTest, AnErrorInsideTheHandlerGoesNoFurther) {
  Hooks hooks;
  hooks.handle_exception = [](std::exception_ptr) { throw std::runtime_error("handler broke"); };
  InstallHooks(hooks);
  EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(std::runtime_error("x"))));
}

TEST_F(HooksTest, AnAbortReachesNoHandler) {
  int shown = 0;
  Hooks hooks;
  hooks.handle_exception = [&](std::exception_ptr) { ++shown; };
  InstallHooks(hooks);
  HandleApplicationException(std::make_exception_ptr(core::EAbort()));
  EXPECT_EQ(shown, 0);
  HandleApplicationException(std::make_exception_ptr(core::EDatabaseError("x")));
  EXPECT_EQ(shown, 1);
}

TEST(ApplicationTitle, IsKeptForTheWindowLayer) {
  std::string old = ApplicationTitle();
  SetApplicationTitle("Datovrat");
  EXPECT_EQ(ApplicationTitle(), "Datovrat");
  SetApplicationTitle(old);
}

}  // namespace
}  // namespace platform
