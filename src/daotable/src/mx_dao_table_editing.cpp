// TMxDaoTable editing: DAO's Edit at once for an existing record, AddNew + values + Update in
// one go for a new one, only the changed value texts written, and the error events around
// DAO's Edit, Update and Delete.
#include "daodb/dao_utils.h"
#include "daotable/mx_dao_table.h"

namespace daotable {

namespace {

constexpr int kRecordDeleted = 3167;

template <typename F>
void Quietly(F&& step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

}  // namespace

// The error an event sees: the exception with DAO's own description and help context in it.
// Without a connected database the exception's own fields stand.
static core::EOleException EventError(daodb::TMxDaoDatabase* database, const core::Exception& e,
                                      int& number) {
  const auto* ole = dynamic_cast<const core::EOleException*>(&e);
  number = ole != nullptr ? ole->ErrorCode() : 0;
  std::string description = e.what();
  std::string source = ole != nullptr ? ole->Source() : std::string();
  std::string help_file = ole != nullptr ? ole->HelpFile() : std::string();
  std::int32_t help_context = ole != nullptr ? ole->HelpContext() : 0;
  if (database != nullptr && database->Connected()) {
    daodb::TDaoErrRec error;
    database->GetLastDaoError(error);
    if (error.Number != 0) {
      number = error.Number;
      description = error.Description;
      source = error.Source;
      help_file = error.HelpFile;
      help_context = error.HelpContext;
    }
  }
  return core::EOleException(description, number, source, help_file, help_context);
}

void TMxDaoTable::RaiseThroughErrorEvent(const ds::TDataSetErrorEvent& event,
                                         core::EOleException& error, ds::TDataAction& action) {
  action = ds::daFail;
  event(this, error, action);
}

// ---------------------------------------------------------------------------------------------
// Edit and cancel

void TMxDaoTable::InternalEdit() {
  MakeOldValues();
  ds::TRecordBuffer active = GetActiveRecordBuffer();
  dao::Recordset& rs = *FRecordset;
  for (;;) {
    try {
      if (rs.EditMode() != dao::dbEditInProgress) rs.Edit();
      break;
    } catch (const core::Exception& e) {
      int number = 0;
      core::EOleException error = EventError(FDatabase, e, number);
      if (rs.EditMode() != dao::dbEditInProgress) {
        Quietly([&] { rs.Move(0); });
        Resync({});
      }
      if (!OnEditError) throw;
      ds::TDataAction action = ds::daFail;
      RaiseThroughErrorEvent(OnEditError, error, action);
      if (action == ds::daRetry) continue;
      if (action == ds::daAbort) return;
      throw error;
    }
  }
  ds::TDataSet::InternalEdit();
  if (active != nullptr) ReadRecord(rs, true, active);
}

void TMxDaoTable::InternalCancel() {
  if (FRecordset) {
    Quietly([&] {
      if (FRecordset->EditMode() == dao::dbEditInProgress) FRecordset->CancelUpdate();
    });
  }
  FreeOldValues();
  if (FDatabase != nullptr) FDatabase->Idle();
  ds::TDataSet::InternalCancel();
}

// ---------------------------------------------------------------------------------------------
// Posting

void TMxDaoTable::InternalPost() {
  FPositionStale = false;
  CheckActive();
  dao::Recordset& rs = *FRecordset;
  bool edit = State() == ds::dsEdit;
  if (edit && rs.EditMode() != dao::dbEditInProgress) {
    try {
      rs.Edit();
    } catch (...) {
      if (rs.EditMode() != dao::dbEditInProgress) Quietly([&] { rs.Move(0); });
      RecoverPosition();
      throw;
    }
  }
  ds::TRecordBuffer buffer = GetActiveRecordBuffer();
  if (buffer == nullptr) ds::DatabaseError("TMxDaoTable.InternalPost: no record to post");
  bool retry = false;
  do {
    retry = false;
    TDaoValues& values = *RecInfo(buffer).Values;
    try {
      if (!edit) rs.AddNew();
      std::size_t n = std::min(values.size(), FDefFields.size());
      for (std::size_t i = 0; i < n; ++i) {
        const TDaoValue& v = values[i];
        if (!v.Changed) continue;
        ds::TField* f = FDefFields[i];
        if (f == nullptr || i >= FFieldUpdatable.size() || FFieldUpdatable[i] == 0) continue;
        dao::Field& df = *FFieldObjects[i];
        const std::string& t = v.Text;
        if (t.empty()) {
          df.SetValue(core::Variant::Null());
          continue;
        }
        if (f->DataType() == ds::ftBytes && f->ValidChars() != GUIDChars()) {
          df.SetValue(core::Variant::FromBytes(std::vector<std::uint8_t>(t.begin(), t.end())));
          continue;
        }
        switch (FPostKinds[i]) {
          case PostKind::Date: {
            core::Variant date;
            daodb::TimeStampTextToDate(t, date);
            if (!date.IsNull()) df.SetValue(date);
            break;
          }
          case PostKind::Memo:
            if (FEncrypterActive)
              df.SetValue(std::string_view(Encrypt(t)));
            else
              df.SetValue(std::string_view(t));
            break;
          case PostKind::Blob: {
            std::string bytes = FEncrypterActive ? Encrypt(t) : t;
            df.SetValue(
                core::Variant::FromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
            break;
          }
          default:
            if (FEncrypterActive && f->DataType() == ds::ftString)
              df.SetValue(std::string_view(Encrypt(t)));
            else
              df.SetValue(std::string_view(t));
            break;
        }
      }
      rs.Update();
    } catch (const core::Exception& e) {
      // A value DAO refuses at assignment is treated as a refused Update: the pending add or
      // edit must not outlive the failure unnoticed.
      int number = 0;
      core::EOleException error = EventError(FDatabase, e, number);
      auto cancel_and_refresh = [&] {
        Quietly([&] {
          if (!rs.LockEdits() && rs.EditMode() == dao::dbEditInProgress) rs.CancelUpdate();
        });
        Quietly([&] {
          if (rs.EditMode() != dao::dbEditInProgress) rs.Move(0);
        });
      };
      auto cancel_add = [&] {
        Quietly([&] {
          if (rs.EditMode() == dao::dbEditAdd) rs.CancelUpdate();
        });
      };
      if (edit) {
        if (!OnPostError) {
          cancel_and_refresh();
          throw;
        }
        ds::TDataAction action = ds::daFail;
        RaiseThroughErrorEvent(OnPostError, error, action);
        if (action == ds::daRetry) {
          retry = true;
          Quietly([&] {
            if (rs.EditMode() != dao::dbEditInProgress) rs.Move(0);
          });
          continue;
        }
        cancel_and_refresh();
        if (action == ds::daAbort) return;
        throw error;
      }
      if (!OnPostError) {
        cancel_add();
        throw;
      }
      ds::TDataAction action = ds::daFail;
      RaiseThroughErrorEvent(OnPostError, error, action);
      if (action == ds::daRetry) {
        retry = true;
        continue;
      }
      if (action == ds::daAbort) {
        cancel_add();
        return;
      }
      throw error;
    }
  } while (retry);

  if (!edit) {
    Quietly([&] {
      FRecordCountStale = true;
      ++FKnownRecordCount;
      ++FCursorPosition;
      if (!FBookmarkable) {
        InternalLast();
        RecInfo(buffer).RecordIndex = FCursorPosition - 1;
      }
    });
  }
  InternalLast();
  if (FBookmarkable) {
    std::int32_t bookmark =
        (FDatabase != nullptr && FDatabase->EngineType() == dao::dbUseJet) || edit
            ? LastModifiedDaoBookmark(rs)
            : CurrentDaoBookmark(rs);
    RecInfo(buffer).DaoBookmark = bookmark;
    GotoDaoBookmark(bookmark);
  }
  FreeOldValues();
  if (FDatabase != nullptr) FDatabase->Idle();
  FPositionStale = true;
}

void TMxDaoTable::Post() {
  ds::TDataSet::Post();
  if (FSortedBy.Count() >= 1 && FRefreshSorted && FRecordset) {
    CheckBrowseMode();
    ClearBookmarkLists();
    ClearBuffers();
    FRecordset->Requery();
    FRecordCountStale = true;
    ActivateBuffers();
    First();
  }
}

void TMxDaoTable::InternalAddRecord(ds::TRecordBuffer buffer, bool append) {
  if (append) {
    InternalLast();
    SetBookmarkFlag(buffer, ds::bfEOF);
  }
  InternalPost();
}

// ---------------------------------------------------------------------------------------------
// Deleting

void TMxDaoTable::InternalDelete() {
  ds::TRecordBuffer active = GetActiveRecordBuffer();
  if (active != nullptr) {
    std::int32_t r = RecInfo(active).RecordIndex;
    for (std::size_t i = 0; i < FBookmarkIndexList.size(); ++i) {
      if (FBookmarkIndexList[i] == r) {
        FBookmarkIndexList.erase(FBookmarkIndexList.begin() + static_cast<std::ptrdiff_t>(i));
        FBookmarkValueList.erase(FBookmarkValueList.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    for (std::int32_t& index : FBookmarkIndexList)
      if (index > r) --index;
  }
  dao::Recordset& rs = *FRecordset;
  for (;;) {
    try {
      rs.Delete();
      break;
    } catch (const core::Exception& e) {
      int number = 0;
      core::EOleException error = EventError(FDatabase, e, number);
      if (!OnDeleteError) {
        if (number == kRecordDeleted) {
          FRecordCountStale = true;
          RecoverPosition();
          return;
        }
        throw;
      }
      ds::TDataAction action = ds::daFail;
      RaiseThroughErrorEvent(OnDeleteError, error, action);
      if (action == ds::daRetry) continue;
      if (action == ds::daAbort) {
        FRecordCountStale = true;
        RecoverPosition();
        return;
      }
      if (number == kRecordDeleted) {
        FRecordCountStale = true;
        RecoverPosition();
      }
      throw error;
    }
  }
  if (FDatabase != nullptr) FDatabase->Idle();
  FRecordCountStale = true;
  if (rs.Eof())
    rs.MoveLast();
  else
    rs.MoveNext();
}

// ---------------------------------------------------------------------------------------------
// Recovering

// The records around the cursor again; when the current one is gone, the recordset is opened
// anew and the cursor put back at the same position (or on the last record).
void TMxDaoTable::ResyncOrReopen() {
  try {
    Resync({ds::rmExact, ds::rmCenter});
  } catch (const std::exception&) {
    std::int32_t p = FCursorPosition;
    CheckBrowseMode();
    ClearBuffers();
    CloseDaoRecordset();
    OpenDaoRecordset();
    ActivateBuffers();
    First();
    if (p < RecordCount())
      MoveBy(p);
    else
      Last();
  }
}

void TMxDaoTable::RecoverPosition() {
  FRecordCountStale = true;
  // Recovering can post or re-read, which can fail and ask to recover again; once is enough.
  if (FRecovering) return;
  struct Flag {
    bool& f;
    ~Flag() { f = false; }
  } flag{FRecovering};
  FRecovering = true;
  ResyncOrReopen();
}

void TMxDaoTable::InternalRefresh() {
  FRecordCountStale = true;
  if (ControlsDisabled()) return;
  ResyncOrReopen();
}

}  // namespace daotable
