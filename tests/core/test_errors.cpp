#include <gtest/gtest.h>

#include <source_location>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/internal_error.h"
#include "core/scope_exit.h"

namespace core {
namespace {

TEST(InternalError, NamesTheSourceLineThatRaisedIt) {
  std::uint32_t line = 0;
  try {
    line = std::source_location::current().line() + 1;
    ThrowInternal("the free list loops");
    FAIL() << "nothing raised";
  } catch (const EInternalError& e) {
    // The place is relative to the project's root, whatever directory the tree was built in.
    EXPECT_EQ(e.File(), "tests/core/test_errors.cpp");
    EXPECT_EQ(e.Line(), line);
    EXPECT_EQ(e.Check(), "the free list loops");
    EXPECT_EQ(std::string(e.what()), "tests/core/test_errors.cpp:" + std::to_string(line) +
                                         ": internal check failed (a damaged file or a bug): "
                                         "the free list loops");
  }
}

TEST(InternalError, IsCaughtAsOursButNotAsAFileOrComponentError) {
  // Handlers that catch std::runtime_error or core::Exception see it; the ones that turn file
  // and component errors into "disk error" or a component message must not mistake it.
  auto raise = [] { ThrowInternal("x"); };
  EXPECT_THROW(raise(), std::runtime_error);
  EXPECT_THROW(raise(), Exception);
  try {
    raise();
  } catch (const EFileError&) {
    ADD_FAILURE() << "taken for a file error";
  } catch (const EDatabaseError&) {
    ADD_FAILURE() << "taken for a component error";
  } catch (const EInternalError&) {
  }
}

// What each guard leaves in the log when the scope it guards ends one way or the other.
struct GuardCase {
  const char* name;
  bool fails;
  std::vector<std::string> scope_exit;
  std::vector<std::string> on_failure;
};

TEST(ScopeGuards, RunOnTheWaysOutTheySayAndAfterTheBody) {
  const GuardCase cases[] = {
      {"left normally", false, {"body", "cleanup"}, {"body"}},
      {"left by an error", true, {"body", "cleanup", "caught"}, {"body", "cleanup", "caught"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log;
    auto body = [&] {
      log.push_back("body");
      if (c.fails) throw EDatabaseError("stop");
    };
    try {
      ScopeExit guard([&] { log.push_back("cleanup"); });
      body();
    } catch (const EDatabaseError&) {
      log.push_back("caught");
    }
    EXPECT_EQ(log, c.scope_exit);
    log.clear();
    try {
      OnFailure guard([&] { log.push_back("cleanup"); });
      body();
    } catch (const EDatabaseError&) {
      log.push_back("caught");
    }
    EXPECT_EQ(log, c.on_failure);
  }
}

TEST(ScopeGuards, OnFailureInsideUnwindingTellsItsOwnScopeFromTheErrorInFlight) {
  // A destructor that runs while an error unwinds past it does its own guarded work; that
  // work succeeding must not count as a failure just because an exception is in flight.
  std::vector<std::string> log;
  struct Closer {
    std::vector<std::string>& log;
    bool fails;
    ~Closer() {
      try {
        OnFailure undo([&] { log.push_back(fails ? "undone after failure" : "undone wrongly"); });
        if (fails) throw EDatabaseError("close failed");
        log.push_back("closed");
      } catch (const EDatabaseError&) {
      }
    }
  };
  for (bool fails : {false, true}) {
    try {
      Closer closer{log, fails};
      throw EDatabaseError("outer");
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "outer");
    }
  }
  EXPECT_EQ(log, (std::vector<std::string>{"closed", "undone after failure"}));
}

}  // namespace
}  // namespace core
