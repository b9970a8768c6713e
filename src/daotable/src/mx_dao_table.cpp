// TMxDaoTable: the component itself (properties, opening and closing), field definitions from
// DAO fields with their bookkeeping, and creating a table from the definitions.
#include "daotable/mx_dao_table.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <exception>

#include "core/datetime.h"
#include "daodb/dao_utils.h"
#include "platform/com.h"
#include "platform/hooks.h"

namespace daotable {

using ds::TFieldType;

namespace {

constexpr std::int32_t kAutoIncrField = 16;
constexpr std::int32_t kUpdatableField = 32;
constexpr std::int32_t kSystemField = 8192;
constexpr int kDbUseJet = 2;

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A property of a DAO field by name (compared without regard to case), or null.
std::shared_ptr<dao::Property> FindProperty(dao::Field& field, std::string_view name) {
  dao::Properties& props = field.Properties();
  int n = props.Count();
  for (int i = 0; i < n; ++i) {
    auto p = props.Item(i);
    if (p && SameText(p->Name(), name)) return p;
  }
  return nullptr;
}

// A leading run of digits (after blanks) as a number; false when there is none.
bool LeadingNumber(std::string_view text, int& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr != text.data() + i;
}

}  // namespace

ds::TFieldChars GUIDChars() {
  static const ds::TFieldChars chars = ds::FieldChars("-0123456789ABCDEFabcdef{}");
  return chars;
}

int OpenOptionsValue(TOOSet options) {
  return static_cast<int>(options.ToBits() & 0xFFF);
}

// "month/day/year[ hour:minute:second[ AM|PM]]" between a Jet date default's # marks, as the
// value text "<day count> <milliseconds>"; empty when it does not convert.
std::string DaoDateDefaultText(std::string_view text) {
  try {
    auto slash1 = text.find('/');
    if (slash1 == std::string_view::npos) return {};
    auto slash2 = text.find('/', slash1 + 1);
    if (slash2 == std::string_view::npos) return {};
    int month = 0, day = 0, year = 0;
    if (!LeadingNumber(text.substr(0, slash1), month)) return {};
    if (!LeadingNumber(text.substr(slash1 + 1, slash2 - slash1 - 1), day)) return {};
    std::string_view rest = text.substr(slash2 + 1);
    std::string_view time;
    auto blank = rest.find(' ');
    if (blank != std::string_view::npos) {
      time = rest.substr(blank + 1);
      rest = rest.substr(0, blank);
    }
    if (!LeadingNumber(rest, year)) return {};
    int hour = 0, minute = 0, second = 0;
    if (!time.empty()) {
      std::string t(time);
      while (!t.empty() && t.back() == ' ') t.pop_back();
      bool pm = false, am = false;
      if (t.size() >= 3) {
        std::string tail = Lower(std::string_view(t).substr(t.size() - 3));
        pm = tail == " pm";
        am = tail == " am";
        if (pm || am) t.resize(t.size() - 3);
      }
      auto c1 = t.find(':');
      std::string_view tv(t);
      if (!LeadingNumber(tv.substr(0, c1), hour)) hour = 0;
      if (c1 != std::string::npos) {
        auto c2 = t.find(':', c1 + 1);
        if (!LeadingNumber(
                tv.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1),
                minute))
          minute = 0;
        if (c2 != std::string::npos && !LeadingNumber(tv.substr(c2 + 1), second)) second = 0;
      }
      if (am && hour == 12) hour = 0;
      if (pm && hour >= 1 && hour <= 11) hour += 12;
    }
    core::DateParts parts{year, month, day, hour, minute, second, 0};
    if (!core::IsValidDateParts(parts)) return {};
    std::int32_t days = core::EncodeDay(year, month, day);
    std::int64_t ms = (static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second) * 1000;
    return std::to_string(days) + " " + std::to_string(ms);
  } catch (const std::exception&) {
    return {};
  }
}

// ---------------------------------------------------------------------------------------------
// Index definitions

TMxDaoIndexDefs::TMxDaoIndexDefs(TMxDaoTable* table) : ds::TIndexDefs(table), FTable(table) {}

// ---------------------------------------------------------------------------------------------
// Construction

TMxDaoTable::TMxDaoTable(ds::TComponent* owner) : ds::TDataSet(owner), FParams(this) {
  // Parameters follow the statement: a changed SQL text re-collects its :names, keeping the
  // values of the ones that stay.
  FSQL.OnChange = [this](ds::TStringList*) {
    ds::TParams old(this);
    old.Assign(FParams);
    FParams.Clear();
    FParams.ParseSQL(FSQL.Text(), true);
    FParams.AssignValues(old);
  };
  platform::HResult hr = platform::CoInitialize();
  if (hr != platform::kSOk && hr != platform::kSFalse)
    ds::DatabaseError("Unable to init OLE objects!");
  FComInitialized = true;
  FFieldObjects.resize(2);
  FIndexDefs = std::make_unique<TMxDaoIndexDefs>(this);
  FMasterLink = std::make_unique<ds::TMasterDataLink>(this);
  FMasterLink->OnMasterChange = [this](ds::TComponent*) { MasterChanged(); };
  FMasterLink->OnMasterDisable = [this](ds::TComponent*) { MasterDisabledChanged(); };
  FIdentifierChars = "_";
  for (int c = 32; c <= 255; ++c)
    if (std::isalnum(c)) FIdentifierChars += static_cast<char>(c);
}

TMxDaoTable::~TMxDaoTable() {
  Destroying();
  if (FCursorOpen) {
    try {
      Close();
    } catch (...) {
      platform::HandleApplicationException(std::current_exception());
    }
    FCursorOpen = false;
  }
  DisposeBuffer(FOldValuesBuffer);
  DisposeBuffer(FSpareBuffer);
  FMasterLink->OnMasterChange = nullptr;
  FMasterLink->OnMasterDisable = nullptr;
  FMasterLink->SetDataSource(nullptr);
  FFieldObjects.clear();
  if (FDatabase != nullptr) FDatabase->RemoveFreeNotification(this);
  if (FEncrypter != nullptr) FEncrypter->RemoveFreeNotification(this);
  FRecordset.reset();
  FBaseRecordset.reset();
  if (FComInitialized) platform::CoUninitialize();
}

void TMxDaoTable::Loaded() {
  try {
    ds::TDataSet::Loaded();
  } catch (...) {
    platform::HandleApplicationException(std::current_exception());
  }
}

void TMxDaoTable::Notification(ds::TComponent* component, ds::TOperation operation) {
  if (operation == ds::opRemove) {
    if (component != nullptr && component == FDatabase) FDatabase = nullptr;
    if (component != nullptr && component == FEncrypter) {
      if (FCursorOpen) Close();
      FEncrypterActive = false;
      FEncrypterIntf = nullptr;
      FEncrypter = nullptr;
    }
  }
  ds::TDataSet::Notification(component, operation);
}

void TMxDaoTable::InternalHandleException() {
  platform::HandleApplicationException(std::current_exception());
}

// ---------------------------------------------------------------------------------------------
// Properties

void TMxDaoTable::SetKeepAutoNumbers(bool value) {
  CheckInactiveSetter("TMxDaoTable.SetKeepAutoNumbers: Cannot change it while table is Active!");
  FKeepAutoNumbers = value;
}

void TMxDaoTable::CheckInactiveSetter(const char* message) const {
  if (Active()) ds::DatabaseError(message);
}

// Closes and opens the whole table (a change that alters the field objects' handlers or the
// buffers' content), ending on the first record.
void TMxDaoTable::ReopenTable() {
  if (ComponentState().Contains(ds::csLoading) || !FCursorOpen) return;
  Close();
  Open();
  First();
}

void TMxDaoTable::SetCacheBlobs(bool value) {
  FCacheBlobs = value;
  ReopenTable();
}
void TMxDaoTable::SetCacheMemos(bool value) {
  FCacheMemos = value;
  ReopenTable();
}
void TMxDaoTable::SetCacheLookups(bool value) {
  FCacheLookups = value;
  ReopenTable();
}
void TMxDaoTable::SetShowGUID(bool value) {
  FShowGUID = value;
  ReopenTable();
}

void TMxDaoTable::SetEncrypter(ds::TComponent* encrypter) {
  if (FEncrypter != nullptr && FEncrypter != encrypter) FEncrypter->RemoveFreeNotification(this);
  FEncrypter = encrypter;
  if (encrypter != nullptr) encrypter->FreeNotification(this);
  ReopenTable();
}

void TMxDaoTable::F_Set_Database(daodb::TMxDaoDatabase* database) {
  CheckInactiveSetter("TMxDaoTable.F_Set_Database: Cannot set Database while Table is Active!");
  if (FDatabase != nullptr && FDatabase != database) FDatabase->RemoveFreeNotification(this);
  FDatabase = database;
  if (database != nullptr) database->FreeNotification(this);
}

void TMxDaoTable::F_Set_TableName(const std::string& name) {
  CheckInactiveSetter("TMxDaoTable.F_Set_TableName: Cannot set TableName while Table is active!");
  FTableName = name;
  if (name.empty()) return;
  FIndexName.clear();
  FSQL.Clear();
  FQueryDefName.clear();
  FQueryDefSQLText.Clear();
  FQueryDefParameters.Clear();
  FSortedBy.Clear();
  FFieldDisplayNames.Clear();
  FieldDefs().Clear();
  FIndexDefs->Clear();
}

void TMxDaoTable::SetSortedBy(const ds::TStringList& lines) {
  FSortedBy.SetText(lines.Text());
  FIndexName.clear();
  if (FCursorOpen) ReopenRecordset();
}

void TMxDaoTable::F_Set_QueryDefName(const std::string& name) {
  if (FCursorOpen)
    ds::DatabaseError(
        "TMxDaoTable.F_Set_QueryDefName: Cannot set QueryDefName while Table is Active!");
  if (FDatabase != nullptr && FDatabase->Connected()) {
    FQueryDefSQLText.Clear();
    if (!name.empty()) {
      try {
        FQueryDefSQLText.SetText(FDatabase->GetQueryDefSQL(name));
      } catch (...) {
      }
    }
  }
  FQueryDefName = name;
  if (name.empty()) return;
  FIndexName.clear();
  FTableName.clear();
  FSQL.Clear();
  FQueryDefParameters.Clear();
  FMasterFields.Clear();
  FFieldDisplayNames.Clear();
  FieldDefs().Clear();
  FIndexDefs->Clear();
  if (FTableType == 1 || FTableType == 16) FTableType = 2;
}

void TMxDaoTable::SetQueryDefParameters(const ds::TStringList& lines) {
  FQueryDefParameters.SetText(lines.Text());
}

void TMxDaoTable::SetSQL(const ds::TStringList& lines) {
  std::string text = lines.Text();
  FSQL.SetText(text);
  if (text.empty()) return;
  FQueryDefParameters.Clear();
  FQueryDefSQLText.Clear();
  FQueryDefName.clear();
  FIndexName.clear();
  FTableName.clear();
  FFieldDisplayNames.Clear();
  FieldDefs().Clear();
  FIndexDefs->Clear();
}

void TMxDaoTable::F_Set_TableType(int type) {
  CheckInactiveSetter("TMxDaoTable.F_Set_TableType: Cannot set TableType while Table is active!");
  FTableType = type;
  if (type == 1) {
    FSortedBy.Clear();
  } else {
    FIndexName.clear();
    FIndexDefs->Clear();
    if (type == 8) FSortedBy.Clear();
  }
}

void TMxDaoTable::F_Set_LockType(int type) {
  CheckInactiveSetter("TMxDaoTable.F_Set_LockType: Cannot set LockType while Table is active!");
  FLockType = type;
}

void TMxDaoTable::SetOpenOptions(TOOSet options) {
  FOpenOptions = options;
  if (FCursorOpen) ReopenRecordset();
}

void TMxDaoTable::F_Set_IndexName(const std::string& name) {
  static const char* kMessage =
      "TMxDaoTable.F_Set_IndexName: Indexes can be set only on Standard Tables!";
  if (Active()) {
    if (FTableType == 1) {
      FSortedBy.Clear();
      if (FRecordset) FRecordset->SetIndex(name);
      CheckBrowseMode();
      ClearBuffers();
      ResetCursorState();
      ActivateBuffers();
      FIndexName = name;
      First();
      return;
    }
    if (!name.empty()) ds::DatabaseError(kMessage);
  } else if (FTableType == 1) {
    if (!name.empty()) FSortedBy.Clear();
  } else if (!name.empty()) {
    ds::DatabaseError(kMessage);
  }
  FIndexName = name;
}

void TMxDaoTable::F_Set_ReadOnly(bool value) {
  CheckInactiveSetter("TMxDaoTable.F_Set_ReadOnly: Cannot set ReadOnly while table is Active!");
  if (FDatabase != nullptr && FDatabase->Connected() && FDatabase->ReadOnly()) value = true;
  FReadOnly = value;
}

bool TMxDaoTable::LockEdits() const {
  if (!Active() || FDatabase == nullptr || !FRecordset) return false;
  if (FDatabase->DatabaseType() == "ODBC" || FDatabase->ReadOnly() || FReadOnly) return false;
  if (FOpenTableType == 1 || FOpenTableType == 2) {
    try {
      return FRecordset->LockEdits();
    } catch (const std::exception&) {
      return false;
    }
  }
  return false;
}

std::string TMxDaoTable::TableDateCreated() const {
  if (!FCursorOpen || !FRecordset) return {};
  try {
    if (FOpenTableType == 1) return FRecordset->DateCreated().ToString();
    if (!FQueryDefName.empty() && FDatabase && FDatabase->DaoDatabase())
      return FDatabase->DaoDatabase()->QueryDefs().Item(FQueryDefName)->DateCreated().ToString();
  } catch (const std::exception&) {
  }
  return {};
}

std::string TMxDaoTable::TableLastUpdated() const {
  if (!FCursorOpen || !FRecordset) return {};
  try {
    if (FOpenTableType == 1) return FRecordset->LastUpdated().ToString();
    if (!FQueryDefName.empty() && FDatabase && FDatabase->DaoDatabase())
      return FDatabase->DaoDatabase()->QueryDefs().Item(FQueryDefName)->LastUpdated().ToString();
  } catch (const std::exception&) {
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Opening and closing the recordset

void TMxDaoTable::OpenDaoRecordset() {
  if (FDatabase == nullptr)
    ds::DatabaseError("TMxDaoTable.OpenDaoRecordset: Missing Database Property");
  if (FTableName.empty() && FSQL.Count() == 0 && FQueryDefName.empty())
    ds::DatabaseError(
        "TMxDaoTable.OpenDaoRecordset: Missing TableName or QueryDefName, or SQL is empty!");
  if (FDatabaseAutoActivate) {
    if (!FDatabase->Connected()) FDatabase->Open();
  } else if (!FDatabase->Connected()) {
    ds::DatabaseError("TMxDaoTable.OpenDaoRecordset: Database is NOT connected");
  }
  if (FTableType == 16 && FDatabase->DatabaseType() != "ODBC")
    ds::DatabaseError("TMxDaoTable.OpenDaoRecordset: DynamicTables are for ODBC connections only!");
  FOpenTableType = FTableType;
  FOpenLockType = FLockType;
  if (FDatabase->ReadOnly() || FTableType == 8 || FTableType == 4) FReadOnly = true;
  FRecordsetOptions = OpenOptionsValue(FOpenOptions);
  if (FBaseRecordset) {
    try {
      FBaseRecordset->Close();
    } catch (...) {
    }
    FBaseRecordset.reset();
  }
  const std::shared_ptr<dao::Database>& db = FDatabase->DaoDatabase();
  if (!db) ds::DatabaseError("TMxDaoTable.OpenDaoRecordset: Database is NOT connected");
  std::string source = FTableName;
  if (FSQL.Count() > 0) {
    // Parameters are written into the statement as literals, the master's values first.
    if (MasterSource() != nullptr) CopyMasterValuesToParams();
    source = SubstitutedSQL();
  }
  if (!FQueryDefName.empty()) {
    auto query = db->QueryDefs().Item(FQueryDefName);
    AssignQueryDefParameters(*query);
    FQueryDefSQLText.Clear();
    FQueryDefSQLText.SetText(FDatabase->GetQueryDefSQL(FQueryDefName));
    query->SetMaxRecords(FQueryDefODBCMaxRecords);
    if (FDatabase->QueryTimeout() != 60) query->SetODBCTimeout(FDatabase->QueryTimeout());
    FRecordset = query->OpenRecordset(FTableType, FRecordsetOptions, FLockType);
  } else {
    FQueryDefSQLText.Clear();
    FRecordset = db->OpenRecordset(source, FTableType, FRecordsetOptions, FLockType);
  }
  FDatabase->Idle();
  if (!FRecordset->Updatable()) FReadOnly = true;
  if (FKeepAutoNumbers && !FReadOnly) FRecordset->SetAutoNumberValues(true);
  FBookmarkable = FRecordset->Bookmarkable();
  ClearBookmarkLists();
  FDatabase->RefreshDefinitions();
  if (!FIndexName.empty()) {
    try {
      FRecordset->SetIndex(FIndexName);
    } catch (...) {
    }
  }
  BuildFieldBookkeeping();
  ApplySortAndFilter();
  ApplyMasterRestriction();
  dao::Fields& fields = FRecordset->Fields();
  int n = fields.Count();
  FFieldObjects.assign(static_cast<std::size_t>(n), nullptr);
  for (int i = 0; i < n; ++i) FFieldObjects[static_cast<std::size_t>(i)] = fields.Item(i);
  ResetCursorState();
  FDatabase->Idle();
}

void TMxDaoTable::CloseDaoRecordset() {
  for (auto& f : FFieldObjects) f.reset();
  if (FRecordset) {
    try {
      FRecordset->Close();
    } catch (...) {
    }
  }
}

void TMxDaoTable::ReopenRecordset() {
  CheckBrowseMode();
  ClearBuffers();
  CloseDaoRecordset();
  OpenDaoRecordset();
  ActivateBuffers();
  First();
}

// FieldUpdatable and FieldDefaults, from the recordset's fields.
void TMxDaoTable::BuildFieldBookkeeping() {
  dao::Fields& fields = FRecordset->Fields();
  int n = fields.Count();
  FFieldUpdatable.assign(static_cast<std::size_t>(n), 1);
  FFieldDefaults.assign(static_cast<std::size_t>(n), std::string());
  if (FReadOnly || !FUseDaoProperties) return;
  FFieldUpdatable.clear();
  FFieldDefaults.clear();
  bool jet = FDatabase->EngineType() == kDbUseJet;
  for (int i = 0; i < n; ++i) {
    auto field = fields.Item(i);
    int type = field->Type();
    std::int32_t attributes = field->Attributes();
    // 2: only while appending (an AutoNumber whose values are kept).
    std::uint8_t updatable =
        (attributes & kUpdatableField) != 0 && (attributes & (kAutoIncrField | kSystemField)) == 0
            ? 1
            : 0;
    if (!updatable && (attributes & kAutoIncrField) != 0 && FRecordset->AutoNumberValues())
      updatable = 2;
    FFieldUpdatable.push_back(updatable);
    std::string text;
    try {
      if (jet) text = field->DefaultValue();
      if ((type == dao::dbText || type == dao::dbMemo) && text.size() >= 2 && text.front() == '"' &&
          text.back() == '"')
        text = text.substr(1, text.size() - 2);
      if (type == dao::dbDate) {
        if (text.size() >= 2 && text.front() == '#' && text.back() == '#')
          text = DaoDateDefaultText(std::string_view(text).substr(1, text.size() - 2));
        else
          text.clear();
      }
      if (SameText(text, "Null")) text.clear();
    } catch (const std::exception&) {
      text.clear();
    }
    FFieldDefaults.push_back(std::move(text));
  }
}

void TMxDaoTable::InternalInitFieldDefs() {
  ds::TFieldDefs& defs = FieldDefs();
  defs.Clear();
  FFieldDisplayNames.Clear();
  bool opened_here = false;
  if (!FOpeningRecordset && !FCursorOpen) {
    OpenDaoRecordset();
    opened_here = true;
  }
  auto finish = [&] {
    if (opened_here) CloseDaoRecordset();
  };
  try {
    bool jet = FDatabase->EngineType() == kDbUseJet;
    int n = static_cast<int>(FFieldObjects.size());
    for (int i = 0; i < n; ++i) {
      dao::Field& field = *FFieldObjects[static_cast<std::size_t>(i)];
      int code = field.Type();
      std::string name = field.Name();
      std::int32_t dao_size = field.Size();
      int size = 0;
      switch (code) {
        case 9:
        case 10:
        case 11:
        case 12:
        case 15:
        case 17:
        case 18:
          size = dao_size;
          break;
        default:
          break;
      }
      if (code == dao::dbDate) {
        auto format = FindProperty(field, "Format");
        if (format == nullptr) {
          code = 23;
        } else {
          std::string f = format->Value().ToString();
          if (SameText(f, "Long Time") || SameText(f, "Medium Time") || SameText(f, "Short Time"))
            code = 22;
          else if (SameText(f, "General Date"))
            code = 23;
        }
      }
      if (code == dao::dbText && size == 0) size = 255;
      if (code == dao::dbLong && (field.Attributes() & kAutoIncrField) != 0)
        code = daodb::AutoIncrementMarker;
      auto idx = static_cast<std::size_t>(i);
      if (jet && idx < FFieldDefaults.size()) {
        if (code == daodb::AutoIncrementMarker) {
          FFieldDefaults[idx].clear();
        } else if (code == dao::dbLong || code == dao::dbGUID) {
          std::string def = Lower(field.DefaultValue());
          if (code == dao::dbLong && def.find("genuniqueid") != std::string::npos)
            FFieldDefaults[idx].clear();
          if (code == dao::dbGUID && def.find("genguid") != std::string::npos)
            FFieldDefaults[idx].clear();
        }
      }
      TFieldType type = daodb::DaoTypeToFieldType(code);
      bool required = false;
      if (!FReadOnly && FUseDaoProperties) required = field.Required();
      ds::TFieldDef& def = defs.Add(name, type, size, required);
      if (type == ds::ftBlob && idx < FFieldDefaults.size()) FFieldDefaults[idx].clear();
      std::string display = name;
      if (FUseCaptions) {
        auto caption = FindProperty(field, "Caption");
        if (caption != nullptr) display = caption->Value().ToString();
      }
      FFieldDisplayNames.Add(display);
      if (code == dao::dbGUID) def.SetPrecision(kGuidMarker);
    }
    ReadIndexDefs();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TMxDaoTable::AdjustFieldObjects() {
  FFieldNames.Clear();
  ds::TFieldDefs& defs = FieldDefs();
  int n = defs.Count();
  FDefFields.assign(static_cast<std::size_t>(n), nullptr);
  FPostKinds.assign(static_cast<std::size_t>(n), PostKind::Text);
  for (int i = 0; i < n; ++i) {
    const ds::TFieldDef& def = defs[i];
    ds::TField* f = FindField(def.Name());
    if (f == nullptr) continue;
    auto idx = static_cast<std::size_t>(i);
    FDefFields[idx] = f;
    if (idx < FFieldUpdatable.size() && FFieldUpdatable[idx] == 0) f->SetReadOnly(true);
    if (!f->DefaultExpression().empty() && idx < FFieldDefaults.size()) {
      std::string e = f->DefaultExpression();
      if (!e.empty() && e.front() == '\'') e.erase(0, 1);
      if (!e.empty() && e.back() == '\'') e.pop_back();
      FFieldDefaults[idx] = e;
    }
    FFieldNames.Add(def.Name());
    TFieldType type = f->DataType();
    if (type == ds::ftDateTime) f->SetDisplayWidth(20);
    if (type == ds::ftMemo && FCacheMemos) {
      f->SetDisplayWidth(30);
      f->OnGetText = [this](ds::TField* field, std::string& text, bool) {
        if (!FCacheMemos || GetActiveRecordBuffer() == nullptr) return;
        const TDaoValues& values = *RecInfo(GetActiveRecordBuffer()).Values;
        const std::string& t = values[static_cast<std::size_t>(field->FieldNo() - 1)].Text;
        text = t.substr(0, t.find('\r'));
      };
    }
    if (type == ds::ftBytes && def.Precision() == kGuidMarker) {
      f->SetValidChars(GUIDChars());
      if (FShowGUID) {
        f->SetDisplayWidth(38);
        f->OnGetText = [this](ds::TField* field, std::string& text, bool) {
          if (!FShowGUID || GetActiveRecordBuffer() == nullptr) return;
          const TDaoValues& values = *RecInfo(GetActiveRecordBuffer()).Values;
          std::string t = values[static_cast<std::size_t>(field->FieldNo() - 1)].Text;
          if (t.rfind("{guid ", 0) == 0) {
            t.erase(0, 6);
            if (t.size() >= 2 && t.compare(t.size() - 2, 2, "}}") == 0) t.pop_back();
          }
          text = t;
        };
        f->OnSetText = [this](ds::TField* field, const std::string& text) {
          if (!FShowGUID || text.size() != 38) return;
          std::uint8_t bytes[16];
          if (!dao::ParseGuidValueText(text, bytes))
            throw core::EConvertError("'" + text + "' is not a valid GUID value");
          field->SetAsString(std::string(reinterpret_cast<const char*>(bytes), 16));
        };
      }
    }
    if (type == ds::ftBytes && f->ValidChars() != GUIDChars()) FPostKinds[idx] = PostKind::Bytes;
    if (type == ds::ftDate || type == ds::ftTime || type == ds::ftDateTime)
      FPostKinds[idx] = PostKind::Date;
    if (f->IsBlob()) FPostKinds[idx] = type == ds::ftMemo ? PostKind::Memo : PostKind::Blob;
  }
}

void TMxDaoTable::ApplyDisplayLabels() {
  ds::TFieldDefs& defs = FieldDefs();
  for (int i = 0; i < defs.Count() && i < FFieldDisplayNames.Count(); ++i) {
    ds::TField* f = FindField(defs[i].Name());
    if (f != nullptr) f->SetDisplayLabel(FFieldDisplayNames[i]);
  }
}

void TMxDaoTable::LookUpEncrypter() {
  FEncrypterActive = false;
  FEncrypterIntf = nullptr;
  if (FEncrypter == nullptr) return;
  FEncrypterIntf = dynamic_cast<TMxDaoStringEncrypter*>(FEncrypter);
  FEncrypterActive = FEncrypterIntf != nullptr;
}

std::string TMxDaoTable::Encrypt(const std::string& text) const {
  FEncrypterIntf->SetDecodedString(text);
  return FEncrypterIntf->EncodedString();
}

std::string TMxDaoTable::Decrypt(const std::string& text) const {
  FEncrypterIntf->SetEncodedString(text);
  return FEncrypterIntf->DecodedString();
}

void TMxDaoTable::InternalOpen() {
  OpenDaoRecordset();
  bool fields_made = false;
  try {
    if (Name().empty()) {
      auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
      // Two tables opened within one millisecond would get the same name, which the owner and
      // ActiveTables both refuse; a suffix keeps them apart.
      std::string base = "MxDaoTable_" + std::to_string(ticks);
      std::string name = base;
      for (int k = 1; (Owner() != nullptr && Owner()->FindComponent(name) != nullptr) ||
                      FDatabase->ActiveTables().IndexOf(name) >= 0;
           ++k)
        name = base + "_" + std::to_string(k);
      SetName(name);
    }
    FOpeningRecordset = true;
    try {
      InternalInitFieldDefs();
    } catch (...) {
      FOpeningRecordset = false;
      throw;
    }
    FOpeningRecordset = false;
    if (DefaultFields()) CreateDaoFields();
    fields_made = true;
    if (FCacheLookups)
      for (ds::TField* f : Fields())
        if (f->Lookup()) f->SetLookupCache(true);
    BindFields(true);
    if (FUseCaptions) ApplyDisplayLabels();
    SetBookmarkSize(FBookmarkable ? 4 : 0);
    FRecordSize = kDaoRecInfoSize + CalcFieldsSize();
    AdjustFieldObjects();
    for (auto& scratch : FScratch) scratch = AllocRecordBuffer();
    LookUpEncrypter();
  } catch (...) {
    // Leave nothing half open: the framework only closes what reports itself open.
    for (auto& scratch : FScratch) FreeRecordBuffer(scratch);
    if (fields_made) {
      BindFields(false);
      if (DefaultFields()) DestroyFields();
    }
    CloseDaoRecordset();
    FRecordset.reset();
    throw;
  }
  FCursorOpen = true;
  InternalFirst();
  FDatabase->ActiveTables().AddObject(Name(), static_cast<daodb::TMxDaoActiveTable*>(this));
  if (FDatabase->TrackTransactions() && FDatabase->TransactionLevel() > 0)
    FDatabase->RecordTransactionItem(Name(), 1);
  FDatabase->Idle();
}

void TMxDaoTable::InternalClose() {
  if (!FCursorOpen) return;
  FCursorOpen = false;
  ++FCloseCount;
  FRecordsetOptions = 0;
  FSortText.clear();
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FDefFields.clear();
  CloseDaoRecordset();
  if (FBaseRecordset) {
    try {
      FBaseRecordset->Close();
    } catch (...) {
    }
    FBaseRecordset.reset();
  }
  if (FClosingByDatabase) {
    FClosingByDatabase = false;
  } else if (FDatabase != nullptr) {
    int i = FDatabase->ActiveTables().IndexOf(Name());
    if (i >= 0) FDatabase->ActiveTables().Delete(i);
  }
  FreeOldValues();
  DisposeBuffer(FOldValuesBuffer);
  DisposeBuffer(FSpareBuffer);
  for (auto& scratch : FScratch) FreeRecordBuffer(scratch);
}

// ---------------------------------------------------------------------------------------------
// Creating a table

void TMxDaoTable::CreateTable() {
  if (FCursorOpen) ds::DatabaseError("Cannot create new Table while Table is Active!");
  if (FTableName.empty()) ds::DatabaseError("Cannot create new Table - TableName is missing!");
  daodb::TMxDaoTableManager manager(FDatabase);
  manager.TableName = FTableName;
  manager.FieldDefs().Assign(FieldDefs());
  manager.IndexDefs().Assign(*FIndexDefs);
  manager.BuildTable();
}

}  // namespace daotable
