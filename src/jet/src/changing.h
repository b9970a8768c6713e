// Database::Changing, shared by the files that define operations which change pages.
#pragma once

#include <type_traits>

#include "jet/database.h"

namespace jet {

template <typename Operation>
decltype(auto) Database::Changing(Operation&& operation) {
  if (change_depth_ == 0 && !ReadOnly()) BeforeFirstChange();
  struct Depth {
    int& depth;
    ~Depth() { --depth; }
  } depth{++change_depth_};
  auto after = [&] {
    if (change_depth_ == 1 && !Failed() && pager_->JournalBytes() > options_.commit_journal_bytes)
      Commit();
  };
  try {
    if constexpr (std::is_void_v<decltype(operation())>) {
      operation();
      after();
    } else {
      decltype(auto) result = operation();
      after();
      return result;
    }
  } catch (const JetError& e) {
    // Refusals are raised before anything changes; the 2 GiB limit can strike midway.
    if (e.Code() == ErrorCode::kDatabaseFull) pager_->MarkFailed();
    throw;
  } catch (const core::EFileError&) {
    // A failed write, or damage found in the middle of a change: pages in memory may hold
    // half of it, so nothing more may reach the file.
    if (!ReadOnly()) pager_->MarkFailed();
    throw;
  }
}

}  // namespace jet
