// TMxDaoTable navigation: the DAO cursor next to the table's own position counters, record
// counts and numbers with their fallbacks, and DAO bookmarks kept as four-byte integers.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "daotable/mx_dao_table.h"

namespace daotable {

namespace {

constexpr int kForwardOnly = 8;
constexpr int kTableType = 1;

bool IsEmptySet(dao::Recordset& rs) {
  return rs.Bof() && rs.Eof();
}

core::Variant FourByteBookmark(std::int32_t value) {
  auto u = static_cast<std::uint32_t>(value);
  return core::Variant::FromBytes({static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                                   static_cast<std::uint8_t>(u >> 16),
                                   static_cast<std::uint8_t>(u >> 24)});
}

std::int32_t FirstFourBytes(const core::Variant& bookmark) {
  if (bookmark.Type() != core::VarType::ByteArray) return 0;
  const auto& b = bookmark.Bytes();
  if (b.size() < 4) return 0;
  std::uint32_t u = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                    (static_cast<std::uint32_t>(b[2]) << 16) |
                    (static_cast<std::uint32_t>(b[3]) << 24);
  return static_cast<std::int32_t>(u);
}

// Runs a DAO step whose failure the table shrugs off.
template <typename F>
void Quietly(F&& step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

// Puts the dataset in a passing state and back however the block is left.
class StateGuard {
 public:
  StateGuard(TMxDaoTable& table, ds::TDataSetState state,
             ds::TDataSetState (TMxDaoTable::*set)(ds::TDataSetState),
             void (TMxDaoTable::*restore)(ds::TDataSetState))
      : table_(table), restore_(restore), previous_((table.*set)(state)) {}
  ~StateGuard() { (table_.*restore_)(previous_); }

 private:
  TMxDaoTable& table_;
  void (TMxDaoTable::*restore_)(ds::TDataSetState);
  ds::TDataSetState previous_;
};

}  // namespace

void TMxDaoTable::ResetCursorState() {
  FRecordCountStale = true;
  FCachedRecordCount = -1;
  FCursorPosition = -1;
  FScanPosition = -1;
  FKnownRecordCount = -1;
  ClearBookmarkLists();
}

void TMxDaoTable::ClearBookmarkLists() {
  FBookmarkIndexList.clear();
  FBookmarkValueList.clear();
}

void TMxDaoTable::RegisterBookmark(std::int32_t record_index, std::int32_t bookmark) const {
  auto it = std::find(FBookmarkIndexList.begin(), FBookmarkIndexList.end(), record_index);
  if (it != FBookmarkIndexList.end()) {
    FBookmarkValueList[static_cast<std::size_t>(it - FBookmarkIndexList.begin())] = bookmark;
  } else {
    FBookmarkIndexList.push_back(record_index);
    FBookmarkValueList.push_back(bookmark);
  }
}

bool TMxDaoTable::RecordFilterInForce() const {
  return Filtered() && static_cast<bool>(OnFilterRecord());
}

bool TMxDaoTable::AcceptRecord(ds::TRecordBuffer buffer) {
  GetCalcFields(buffer);
  return RecordFilterAccepts(buffer);
}

// ---------------------------------------------------------------------------------------------
// Moving

void TMxDaoTable::InternalFirst() {
  FCursorPosition = -1;
  FScanPosition = -1;
  if (!FRecordset) return;
  dao::Recordset& rs = *FRecordset;
  if (IsEmptySet(rs) || FOpenTableType == kForwardOnly) return;
  Quietly([&] {
    rs.MoveFirst();
    rs.MovePrevious();
  });
}

// Counts a table-type recordset through a copy, which the engine counts afresh. The copy is
// a dynaset: it holds the rows' places, where a snapshot would hold every value of the table
// only to count it.
void TMxDaoTable::VerifyCountWithSnapshot() {
  dao::Recordset& rs = *FRecordset;
  bool mismatch = false;
  Quietly([&] {
    auto copy = rs.OpenRecordset(2);
    Quietly([&] { copy->MoveLast(); });
    FCursorPosition = copy->RecordCount();
    Quietly([&] { copy->Close(); });
    FKnownRecordCount = FCursorPosition;
    mismatch = rs.RecordCount() != FCursorPosition;
  });
  if (mismatch && FWarnOnBadDatabase) {
    std::string name = FDatabase != nullptr ? FDatabase->Database() : std::string();
    ds::DatabaseError("Database " + name + " needs to be repaired and compacted!");
  }
}

void TMxDaoTable::InternalLast() {
  if (!FRecordset) return;
  dao::Recordset& rs = *FRecordset;
  if (IsEmptySet(rs)) {
    FCursorPosition = -1;
    return;
  }
  if (FOpenTableType == kForwardOnly) {
    Quietly([&] {
      if (rs.Eof()) {
        FCursorPosition = FScanPosition;
        return;
      }
      for (;;) {
        if (rs.Eof()) {
          --FScanPosition;
          FCursorPosition = FScanPosition;
          return;
        }
        rs.MoveNext();
        ++FScanPosition;
        FCursorPosition = FScanPosition;
      }
    });
    return;
  }
  std::int32_t old = FCursorPosition;
  Quietly([&] {
    rs.MoveLast();
    rs.MoveNext();
    FCursorPosition = rs.RecordCount();
  });
  if (FOpenTableType == kTableType &&
      (FKnownRecordCount < FCursorPosition || FCursorPosition < old))
    VerifyCountWithSnapshot();
}

ds::TGetResult TMxDaoTable::GetRecord(ds::TRecordBuffer buffer, ds::TGetMode mode, bool) {
  if (!FRecordset) return ds::grError;
  dao::Recordset& rs = *FRecordset;
  if (State() == ds::dsInsert) {
    if (!IsEmptySet(rs)) CheckBrowseMode();
    return ds::grError;
  }
  if (State() == ds::dsEdit) {
    if (rs.EditMode() == dao::dbEditInProgress) CheckBrowseMode();
    return ds::grError;
  }
  bool forward_only = FOpenTableType == kForwardOnly;
  for (;;) {
    ds::TGetResult result = ds::grOK;
    switch (mode) {
      case ds::gmCurrent:
        result = rs.Eof() ? ds::grEOF : (rs.Bof() ? ds::grBOF : ds::grOK);
        break;
      case ds::gmNext:
        if (!(forward_only && FCursorPosition == -1) && !rs.Eof()) rs.MoveNext();
        if (rs.Eof()) {
          result = ds::grEOF;
        } else {
          ++FCursorPosition;
          ++FScanPosition;
        }
        break;
      case ds::gmPrior:
        if (forward_only) {
          result = ds::grBOF;
          break;
        }
        if (!rs.Bof()) rs.MovePrevious();
        if (rs.Bof()) {
          result = ds::grBOF;
        } else {
          --FCursorPosition;
          --FScanPosition;
        }
        break;
    }
    if (result == ds::grEOF)
      FKnownRecordCount = FCursorPosition + 1;
    else if (FKnownRecordCount < FCursorPosition)
      FKnownRecordCount = FCursorPosition;
    bool accepted = true;
    if (result == ds::grOK) {
      if (!ReadRecord(rs, true, buffer)) return ds::grError;
      accepted = AcceptRecord(buffer);
      if (mode == ds::gmCurrent && !accepted) result = ds::grError;
    }
    if (result != ds::grOK || accepted) return result;
  }
}

void TMxDaoTable::InternalSetToRecord(ds::TRecordBuffer buffer) {
  if (!FRecordset || buffer == nullptr) return;
  dao::Recordset& rs = *FRecordset;
  if (IsEmptySet(rs)) return;
  TDaoRecInfo& info = RecInfo(buffer);
  if (info.BookmarkFlag != static_cast<std::uint8_t>(ds::bfCurrent) &&
      info.BookmarkFlag != static_cast<std::uint8_t>(ds::bfInserted))
    return;
  std::int32_t old = FCursorPosition;
  FCursorPosition = info.RecordIndex;
  if (FOpenTableType == kForwardOnly || State() == ds::dsSetKey) return;
  if (!FBookmarkable) {
    std::int32_t distance = FCursorPosition - old;
    if (distance == 0) return;
    try {
      if (RecordFilterInForce()) {
        rs.MoveFirst();
        rs.Move(FCursorPosition);
      } else {
        rs.Move(distance);
      }
    } catch (const std::exception&) {
      rs.MoveFirst();
      rs.Move(FCursorPosition);
    }
    return;
  }
  if (State() == ds::dsEdit || State() == ds::dsInsert) return;
  try {
    GotoDaoBookmark(info.DaoBookmark);
  } catch (const std::exception& e) {
    std::string description = e.what();
    if (FDatabase != nullptr && FDatabase->Connected()) {
      daodb::TDaoErrRec error;
      FDatabase->GetLastDaoError(error);
      if (!error.Description.empty()) description = error.Description;
    }
    InternalFirst();
    Resync({ds::rmCenter});
    ds::DatabaseError(description);
  }
}

// ---------------------------------------------------------------------------------------------
// Bookmarks of the DAO cursor

std::int32_t TMxDaoTable::CurrentDaoBookmark(dao::Recordset& recordset) {
  if (recordset.Bof() || recordset.Eof() || !FBookmarkable) return 0;
  try {
    return FirstFourBytes(recordset.Bookmark());
  } catch (const std::exception&) {
    InternalFirst();
    return 0;
  }
}

std::int32_t TMxDaoTable::LastModifiedDaoBookmark(dao::Recordset& recordset) {
  if (IsEmptySet(recordset) || !FBookmarkable) return 0;
  core::Variant last = recordset.LastModified();
  if (last.IsNullOrEmpty() || (last.Type() == core::VarType::ByteArray && last.Bytes().empty()))
    return CurrentDaoBookmark(recordset);
  return FirstFourBytes(last);
}

void TMxDaoTable::GotoDaoBookmark(std::int32_t value) {
  try {
    FRecordset->SetBookmark(FourByteBookmark(value));
  } catch (const core::EOleException& e) {
    if (e.ErrorCode() == 3167) First();
    throw;
  }
}

std::int32_t TMxDaoTable::PositionOfBookmark(dao::Recordset& recordset, std::int32_t value) {
  if (!FUseGetRecNo) return -1;
  double p = std::max(0.0, static_cast<double>(recordset.PercentPosition()) - 2.0);
  int n = GetRecordCount();
  auto r = static_cast<std::int32_t>(std::nearbyint(n * p / 100.0));
  recordset.MoveFirst();
  recordset.Move(r);
  while (!recordset.Eof() && CurrentDaoBookmark(recordset) != value) {
    recordset.MoveNext();
    ++r;
  }
  if (recordset.Eof()) {
    r = 0;
    recordset.MoveFirst();
    // Bounded by the end: a bookmark that is gone must not keep the scan going.
    while (!recordset.Eof() && CurrentDaoBookmark(recordset) != value) {
      recordset.MoveNext();
      ++r;
    }
  }
  if (recordset.Bof()) {
    r = n;
    recordset.MoveLast();
    while (!recordset.Bof() && CurrentDaoBookmark(recordset) != value) {
      recordset.MovePrevious();
      --r;
    }
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// Counts and numbers

int TMxDaoTable::GetRecordCount() const {
  return const_cast<TMxDaoTable*>(this)->CountRecords();
}

int TMxDaoTable::CountRecords() {
  if (!FCursorOpen || !FRecordset) return -1;
  if (FOpenTableType == kForwardOnly) return -1;
  if (FUseRecordCount && !FRecordCountStale) {
    FKnownRecordCount = FCachedRecordCount;
    return FKnownRecordCount;
  }
  FRecordCountStale = false;
  dao::Recordset& rs = *FRecordset;
  if (IsEmptySet(rs)) {
    FCachedRecordCount = 0;
    FKnownRecordCount = 0;
    FCursorPosition = -1;
    return 0;
  }
  int count = 0;
  if (RecordFilterInForce()) {
    std::int32_t saved = FCursorPosition;
    ds::TRecordBuffer scratch = AllocRecordBuffer();
    try {
      StateGuard guard(*this, ds::dsBrowse, &TMxDaoTable::SetTempState, &TMxDaoTable::RestoreState);
      InternalFirst();
      while (GetRecord(scratch, ds::gmNext, false) == ds::grOK) ++count;
    } catch (...) {
      FCursorPosition = saved;
      FreeRecordBuffer(scratch);
      CursorPosChanged();
      throw;
    }
    FCursorPosition = saved;
    FreeRecordBuffer(scratch);
    // The DAO cursor is at the end now; the framework puts it back on its next step.
    CursorPosChanged();
  } else {
    if (FOpenTableType == kTableType) {
      Quietly([&] { count = rs.RecordCount(); });
      if (FKnownRecordCount < count) {
        std::int32_t saved = FCursorPosition;
        VerifyCountWithSnapshot();
        count = FCursorPosition;
        FCursorPosition = saved;
      }
    } else {
      Quietly([&] {
        rs.MoveFirst();
        rs.MoveLast();
        count = rs.RecordCount();
      });
    }
    Quietly([&] {
      if (FBookmarkable) {
        ds::TRecordBuffer active = GetActiveRecordBuffer();
        if (active != nullptr && RecInfo(active).DaoBookmark != 0)
          GotoDaoBookmark(RecInfo(active).DaoBookmark);
      } else {
        rs.MoveFirst();
        if (FCursorPosition == -1)
          rs.MovePrevious();
        else if (FCursorPosition < count)
          rs.Move(FCursorPosition);
      }
    });
  }
  FCachedRecordCount = count;
  FKnownRecordCount = count;
  return count;
}

int TMxDaoTable::GetRecNo() const {
  return const_cast<TMxDaoTable*>(this)->ComputeRecNo();
}

int TMxDaoTable::ComputeRecNo() {
  if (!FCursorOpen || !FRecordset) return -1;
  UpdateCursorPos();
  ds::TRecordBuffer active = GetActiveRecordBuffer();
  if (active != nullptr) InternalSetToRecord(active);
  if (!FUseGetRecNo) return -1;
  if (FCursorPosition < -1) FPositionStale = true;
  if (FOpenTableType == kForwardOnly) return FCursorPosition + 1;
  dao::Recordset& rs = *FRecordset;
  if (rs.Bof()) return -1;
  bool positioned_type = FOpenTableType == 2 || FOpenTableType == 4 || FOpenTableType == 16;
  if (RecordFilterInForce()) {
    if (active == nullptr) return -1;
    std::int32_t wanted = RecInfo(active).DaoBookmark;
    ds::TRecordBuffer scratch = AllocRecordBuffer();
    int n = 0;
    try {
      StateGuard guard(*this, ds::dsBrowse, &TMxDaoTable::SetTempState, &TMxDaoTable::RestoreState);
      InternalFirst();
      std::int32_t last = 0;
      while (GetRecord(scratch, ds::gmNext, false) == ds::grOK) {
        last = RecInfo(scratch).DaoBookmark;
        if (last == wanted) break;
        ++n;
      }
      if (last != wanted) InternalSetToRecord(active);
    } catch (...) {
      FreeRecordBuffer(scratch);
      throw;
    }
    FreeRecordBuffer(scratch);
    return n + 1;
  }
  if (FPositionStale && active != nullptr) {
    FCursorPosition = -1;
    if (positioned_type) {
      FCursorPosition = rs.AbsolutePosition();
    } else {
      Quietly([&] {
        rs.MoveNext();
        if (rs.Eof()) FCursorPosition = rs.RecordCount() - 1;
      });
      Quietly([&] { rs.MovePrevious(); });
      if (FCursorPosition == -1) {
        if (FBookmarkable) {
          FCursorPosition = PositionOfBookmark(rs, LastModifiedDaoBookmark(rs));
        } else {
          while (!rs.Bof()) {
            rs.MovePrevious();
            ++FCursorPosition;
          }
        }
      }
      RecInfo(active).RecordIndex = FCursorPosition;
      if (FBookmarkable) {
        GotoDaoBookmark(RecInfo(active).DaoBookmark);
      } else {
        rs.MoveFirst();
        rs.Move(FCursorPosition);
      }
    }
    FPositionStale = false;
  } else if (positioned_type) {
    FCursorPosition = rs.AbsolutePosition();
  }
  return FCursorPosition + 1;
}

void TMxDaoTable::SetRecNo(int value) {
  CheckBrowseMode();
  CursorPosChanged();
  DoBeforeScroll();
  if (RecordFilterInForce()) {
    std::int32_t saved = FCursorPosition;
    ds::TRecordBuffer scratch = AllocRecordBuffer();
    try {
      StateGuard guard(*this, ds::dsBrowse, &TMxDaoTable::SetTempState, &TMxDaoTable::RestoreState);
      InternalFirst();
      for (int i = 0; i < value; ++i) {
        if (GetRecord(scratch, ds::gmNext, false) != ds::grOK) {
          FCursorPosition = saved;
          break;
        }
      }
    } catch (...) {
      FreeRecordBuffer(scratch);
      throw;
    }
    FreeRecordBuffer(scratch);
  } else if (FRecordset) {
    FCursorPosition = value - 1;
    FRecordset->MoveFirst();
    FRecordset->Move(FCursorPosition);
  }
  Resync({ds::rmExact, ds::rmCenter});
  DoAfterScroll();
}

// ---------------------------------------------------------------------------------------------
// Bookmarks of the framework

ds::TBookmarkFlag TMxDaoTable::GetBookmarkFlag(ds::TRecordBuffer buffer) const {
  return static_cast<ds::TBookmarkFlag>(RecInfo(buffer).BookmarkFlag);
}

void TMxDaoTable::SetBookmarkFlag(ds::TRecordBuffer buffer, ds::TBookmarkFlag flag) {
  RecInfo(buffer).BookmarkFlag = static_cast<std::uint8_t>(flag);
}

void TMxDaoTable::GetBookmarkData(ds::TRecordBuffer buffer, void* data) const {
  if (FBookmarkable) {
    if (buffer == nullptr || data == nullptr) return;
    const TDaoRecInfo& info = RecInfo(buffer);
    std::memcpy(data, &info.DaoBookmark, 4);
    RegisterBookmark(info.RecordIndex, info.DaoBookmark);
  } else if (data != nullptr) {
    std::memset(data, 0, 4);
  }
}

void TMxDaoTable::SetBookmarkData(ds::TRecordBuffer buffer, const void* data) {
  if (buffer == nullptr || data == nullptr) return;
  std::memcpy(&RecInfo(buffer).DaoBookmark, data, 4);
}

ds::TBookmarkStr TMxDaoTable::GetBookmarkStr() const {
  if (!FBookmarkable) return {};
  ds::TBookmarkStr result(4, '\0');
  try {
    ds::TRecordBuffer active = GetActiveRecordBuffer();
    if (active != nullptr) {
      const TDaoRecInfo& info = RecInfo(active);
      std::memcpy(result.data(), &info.DaoBookmark, 4);
      RegisterBookmark(info.RecordIndex, info.DaoBookmark);
    }
  } catch (const std::exception&) {
    return ds::TBookmarkStr(4, '\0');
  }
  return result;
}

void TMxDaoTable::SetBookmarkStr(const ds::TBookmarkStr& bookmark) {
  if (IsEmpty() || !FBookmarkable || bookmark.size() < 4) return;
  InternalGotoBookmark(reinterpret_cast<const std::uint8_t*>(bookmark.data()));
  Resync({});
}

void TMxDaoTable::InternalGotoBookmark(const std::uint8_t* bookmark) {
  if (!FCursorOpen)
    ds::DatabaseError(
        "TMxDaoTable.InternalGotoBookmark: Cannot goto Bookmark - Table is not Active");
  if (bookmark == nullptr) ds::DatabaseError("Invalid Bookmark!");
  if (IsEmpty()) return;
  std::int32_t value = 0;
  std::memcpy(&value, bookmark, 4);
  if (!FBookmarkable || value == 0) ds::DatabaseError("Bookmarks are not supported!");
  auto it = std::find(FBookmarkValueList.begin(), FBookmarkValueList.end(), value);
  if (it == FBookmarkValueList.end()) ds::DatabaseError("Invalid Bookmark!");
  auto i = static_cast<std::size_t>(it - FBookmarkValueList.begin());
  try {
    FRecordset->SetBookmark(FourByteBookmark(value));
    FCursorPosition = FBookmarkIndexList[i];
  } catch (const core::EOleException& e) {
    if (e.ErrorCode() == 3167) {
      RecoverPosition();
      InternalFirst();
      throw;
    }
  }
}

bool TMxDaoTable::BookmarkValid(const ds::TBookmark& bookmark) {
  if (IsEmpty() || !FCursorOpen || !FBookmarkable || bookmark.size() < 4) return false;
  std::int32_t value = 0;
  std::memcpy(&value, bookmark.data(), 4);
  if (value != 0 && std::find(FBookmarkValueList.begin(), FBookmarkValueList.end(), value) ==
                        FBookmarkValueList.end())
    return false;
  ds::TBookmarkStr saved = GetBookmarkStr();
  try {
    CursorPosChanged();
    InternalGotoBookmark(bookmark.data());
    return true;
  } catch (const std::exception&) {
    std::int32_t back = 0;
    if (saved.size() >= 4) std::memcpy(&back, saved.data(), 4);
    if (back != 0) {
      try {
        InternalGotoBookmark(reinterpret_cast<const std::uint8_t*>(saved.data()));
      } catch (const std::exception&) {
      }
    }
    return false;
  }
}

int TMxDaoTable::CompareBookmarks(const ds::TBookmark& a, const ds::TBookmark& b) {
  bool no_a = a.size() < 4, no_b = b.size() < 4;
  if (no_a && no_b) return 0;
  if (no_a) return 1;
  if (no_b) return -1;
  std::int32_t x = 0, y = 0;
  std::memcpy(&x, a.data(), 4);
  std::memcpy(&y, b.data(), 4);
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace daotable
