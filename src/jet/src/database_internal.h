// What the engine's own modules (and its tests) reach under an open database: its page
// cache. The layers above never get it: they read and write through Database, Table and
// IndexCursor.
#pragma once

#include "jet/database.h"
#include "jet/pager.h"

namespace jet {

inline Pager& PageCacheOf(Database& db) {
  return db.PageCache();
}

}  // namespace jet
