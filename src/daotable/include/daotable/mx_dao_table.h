// TMxDaoTable: one DAO recordset (a table, a stored query or an SQL statement) presented as a
// record-buffered dataset, and TMxBlobStream, the stream its memo and blob fields are read and
// written through.
//
// Record buffers hold no native field data: every field value lives in the buffer as a text
// (TDaoValue), with a mark saying whether it changed since the record was read or initialised.
// Reading a field converts the text to the framework's native form, writing converts back, and
// posting hands only the changed texts to DAO, most of them as text for DAO to convert. That
// keeps the copy run's road (Append, assign every field, Post) to one DAO AddNew, one value per
// field and one Update per record.
//
// The table belongs to a TMxDaoDatabase: it asks it for the open DAO database, registers itself
// in its ActiveTables while open and is closed by it when it disconnects. This layer uses no Qt
// and touches no file except through DAO.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "core/variant.h"
#include "dao/dao.h"
#include "daodb/mx_dao_database.h"
#include "dataset/classes.h"
#include "dataset/db.h"

namespace daotable {

class TMxDaoTable;

// The value text of one field in a record buffer. An empty text is null.
struct TDaoValue {
  std::string Text;
  bool Changed = false;
};
using TDaoValues = std::vector<TDaoValue>;

// The header of every record buffer; the calculated-field area follows it.
struct TDaoRecInfo {
  std::int32_t RecordIndex;   // 0-based position as the table counts it; -1 for a new record
  std::int32_t DaoBookmark;   // the first four bytes of the DAO bookmark; 0 = none
  TDaoValues* Values;         // owned by the buffer, one entry per field definition
  std::uint8_t BookmarkFlag;  // the framework's bookmark flag (0 current .. 3 inserted)
};
inline constexpr int kDaoRecInfoSize = static_cast<int>(sizeof(TDaoRecInfo));

// A field definition built from a DAO GUID field carries this as its Precision.
inline constexpr int kGuidMarker = 47554944;
// The characters a GUID field accepts; a ftBytes field with exactly this set is a GUID field.
ds::TFieldChars GUIDChars();

// A Jet date default as written between its # marks ("12/31/1999", "1/2/2000 1:05:09 PM") as a
// value text "<day count> <milliseconds>"; empty when it does not convert.
std::string DaoDateDefaultText(std::string_view text);

// What an Encrypter component must offer for the table to pass string and blob values through
// it (the original looked up two published string properties by name).
class TMxDaoStringEncrypter {
 public:
  virtual ~TMxDaoStringEncrypter() = default;
  virtual std::string EncodedString() const = 0;
  virtual void SetEncodedString(const std::string& value) = 0;
  virtual std::string DecodedString() const = 0;
  virtual void SetDecodedString(const std::string& value) = 0;
};

enum class TExportMethod { VisibleFields, AllFields };

// OpenOptions members; member k adds 2^k to DAO's options argument.
enum class TOOption : int {
  dbDenyWrite,
  dbDenyRead,
  dbReadOnly,
  dbAppendOnly,
  dbInconsistent,
  dbConsistent,
  dbSQLPassThrough,
  dbFailOnError,
  dbForwardOnly,
  dbSeeChanges,
  dbRunAsync,
  dbExecDirect,
};
using TOOSet = ds::TSet<TOOption>;
// The DAO options value of a set (the sum of its members' values).
int OpenOptionsValue(TOOSet options);

using TMxProgressEvent = std::function<void(TMxDaoTable* table, int position, int count)>;

// The index definitions of a table-type recordset.
class TMxDaoIndexDefs : public ds::TIndexDefs {
 public:
  explicit TMxDaoIndexDefs(TMxDaoTable* table);
  TMxDaoTable* Table() const { return FTable; }
  // Appends the definition and, when the table's DAO table definition has no index of that
  // name and knows every field named, creates the index in the database (closing and
  // reopening an open table around it). Nothing happens for a table without a TableName.
  ds::TIndexDef* Add(const std::string& name, const std::string& fields, ds::TIndexOptions options);

 private:
  TMxDaoTable* FTable;
};

class TMxDaoTable : public ds::TDataSet, public daodb::TMxDaoActiveTable {
 public:
  explicit TMxDaoTable(ds::TComponent* owner = nullptr);
  ~TMxDaoTable() override;

  void Loaded() override;
  void Notification(ds::TComponent* component, ds::TOperation operation) override;

  // --- Published properties (declaration order of the original)
  bool AutoFindIndex() const { return FAutoFindIndex; }
  void SetAutoFindIndex(bool value) { FAutoFindIndex = value; }
  const std::string& ComponentVersion() const { return FComponentVersion; }
  void SetComponentVersion(const std::string&) {}
  bool CacheBlobs() const { return FCacheBlobs; }
  void SetCacheBlobs(bool value);
  bool CacheMemos() const { return FCacheMemos; }
  void SetCacheMemos(bool value);
  bool CacheLookups() const { return FCacheLookups; }
  void SetCacheLookups(bool value);
  daodb::TMxDaoDatabase* Database() const { return FDatabase; }
  void F_Set_Database(daodb::TMxDaoDatabase* database);
  void SetDatabase(daodb::TMxDaoDatabase* database) { F_Set_Database(database); }
  ds::TComponent* Encrypter() const { return FEncrypter; }
  void SetEncrypter(ds::TComponent* encrypter);
  TExportMethod ExportMethod() const { return FExportMethod; }
  void SetExportMethod(TExportMethod value) { FExportMethod = value; }
  bool RefreshSorted() const { return FRefreshSorted; }
  void SetRefreshSorted(bool value) { FRefreshSorted = value; }
  const std::string& TableName() const { return FTableName; }
  void F_Set_TableName(const std::string& name);
  void SetTableName(const std::string& name) { F_Set_TableName(name); }
  ds::TStringList& SortedBy() { return FSortedBy; }
  void SetSortedBy(const ds::TStringList& lines);
  ds::TStringList& SortedByText() { return FSortedBy; }
  void SetSortedByText(const ds::TStringList& lines) { SetSortedBy(lines); }
  const std::string& QueryDefName() const { return FQueryDefName; }
  void F_Set_QueryDefName(const std::string& name);
  void SetQueryDefName(const std::string& name) { F_Set_QueryDefName(name); }
  ds::TStringList& QueryDefParameters() { return FQueryDefParameters; }
  void SetQueryDefParameters(const ds::TStringList& lines);
  ds::TStringList& QueryDefParametersText() { return FQueryDefParameters; }
  void SetQueryDefParametersText(const ds::TStringList& lines) { SetQueryDefParameters(lines); }
  const ds::TStringList& QueryDefSQLText() const { return FQueryDefSQLText; }
  void SetQueryDefSQLText(const ds::TStringList&) {}
  int QueryDefODBCMaxRecords() const { return FQueryDefODBCMaxRecords; }
  void SetQueryDefODBCMaxRecords(int value) { FQueryDefODBCMaxRecords = value; }
  ds::TStringList& SQL() { return FSQL; }
  void SetSQL(const ds::TStringList& lines);
  bool ShowGUID() const { return FShowGUID; }
  void SetShowGUID(bool value);
  ds::TParams& Params() { return FParams; }
  void SetParams(const ds::TParams& params) { FParams.AssignValues(params); }
  // "dbQSelect", "dbQCrosstab", ... for the stored query's type; empty when unknown or unread.
  std::string QueryDefType() const;
  void SetQueryDefType(const std::string&) {}
  int TableType() const { return FTableType; }
  void F_Set_TableType(int type);
  void SetTableType(int type) { F_Set_TableType(type); }
  std::string TableDateCreated() const;
  void SetTableDateCreated(const std::string&) {}
  std::string TableLastUpdated() const;
  void SetTableLastUpdated(const std::string&) {}
  int LockType() const { return FLockType; }
  void F_Set_LockType(int type);
  void SetLockType(int type) { F_Set_LockType(type); }
  TOOSet OpenOptions() const { return FOpenOptions; }
  void SetOpenOptions(TOOSet options);
  TMxDaoIndexDefs& IndexDefs() { return *FIndexDefs; }
  // The field count of the current index (0 when there is none or it cannot be read).
  int IndexFieldCount() const;
  void SetIndexFieldCount(int) {}
  const std::string& IndexName() const { return FIndexName; }
  void F_Set_IndexName(const std::string& name);
  void SetIndexName(const std::string& name) { F_Set_IndexName(name); }
  bool ReadOnly() const { return FReadOnly; }
  void F_Set_ReadOnly(bool value);
  void SetReadOnly(bool value) override { F_Set_ReadOnly(value); }
  bool LockEdits() const;
  void SetLockEdits(bool) {}
  ds::TDataSource* MasterSource() const;
  void SetMasterSource(ds::TDataSource* source);
  ds::TStringList& MasterFields() { return FMasterFields; }
  void SetMasterFields(const ds::TStringList& lines);
  bool MasterAutoActivate() const { return FMasterAutoActivate; }
  void SetMasterAutoActivate(bool value) { FMasterAutoActivate = value; }
  bool DatabaseAutoActivate() const { return FDatabaseAutoActivate; }
  void SetDatabaseAutoActivate(bool value) { FDatabaseAutoActivate = value; }
  bool UseBrackets() const { return FUseBrackets; }
  void SetUseBrackets(bool value) { FUseBrackets = value; }
  bool UseCaptions() const { return FUseCaptions; }
  void SetUseCaptions(bool value) { FUseCaptions = value; }
  bool UseDaoProperties() const { return FUseDaoProperties; }
  void SetUseDaoProperties(bool value) { FUseDaoProperties = value; }
  bool UseGetRecNo() const { return FUseGetRecNo; }
  void SetUseGetRecNo(bool value) { FUseGetRecNo = value; }
  bool UseRecordCount() const { return FUseRecordCount; }
  void SetUseRecordCount(bool value) { FUseRecordCount = value; }
  // Whether appended records keep the AutoNumber values assigned to them (a program moving
  // records from elsewhere keeps their numbers); a record left without one still takes the
  // next number. Editing never changes an AutoNumber.
  bool KeepAutoNumbers() const { return FKeepAutoNumbers; }
  void SetKeepAutoNumbers(bool value);
  bool WarnOnBadDatabase() const { return FWarnOnBadDatabase; }
  void SetWarnOnBadDatabase(bool value) { FWarnOnBadDatabase = value; }
  bool ParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool value) { FParamCheck = value; }
  bool ProcessMessages() const { return FProcessMessages; }
  void SetProcessMessages(bool value) { FProcessMessages = value; }
  TMxProgressEvent OnExportProgress;
  TMxProgressEvent OnImportProgress;
  // The current recordset (null while closed).
  const std::shared_ptr<dao::Recordset>& Intf() const { return FRecordset; }

  // --- TMxDaoActiveTable
  void SetClosingByDatabase(bool value) override { FClosingByDatabase = value; }
  ds::TDataSet& ActiveDataSet() override { return *this; }
  bool ClosingByDatabase() const { return FClosingByDatabase; }

  // --- Operations
  // Creates table TableName in the database from FieldDefs and IndexDefs (the table stays
  // closed).
  void CreateTable();
  void Post() override;
  bool CursorOpen() const { return FCursorOpen; }
  void OpenDaoRecordset();
  void CloseDaoRecordset();
  void ReopenRecordset();
  // Brings the dataset back to a consistent position after a failed DAO step.
  void RecoverPosition();

  // --- Searching, filtering, master-detail
  // The name of an index of IndexDefs whose fields cover `fields` (";"-separated; a leading
  // "!" asks for exactly those fields); empty when none.
  std::string IndexForFields(const std::string& fields) const;
  bool Locate(const std::string& key_fields, const ds::Variant& key_values,
              ds::TLocateOptions options) override;
  ds::Variant Lookup(const std::string& key_fields, const ds::Variant& key_values,
                     const std::string& result_fields) override;
  bool FindKeyFirst(const std::string& key_fields, const ds::Variant& key_values,
                    ds::TLocateOptions options);
  bool FindKeyLast(const std::string& key_fields, const ds::Variant& key_values,
                   ds::TLocateOptions options);
  bool FindKeyNext(const std::string& key_fields, const ds::Variant& key_values,
                   ds::TLocateOptions options);
  bool FindKeyPrior(const std::string& key_fields, const ds::Variant& key_values,
                    ds::TLocateOptions options);
  bool FindRecord(bool restart, bool go_forward) override;
  // Criteria texts for DAO's Find and Filter: "(name = \"text\") AND (n IS NULL) ...". The
  // value texts may be replaced by the forms written (lower case, cleaned dates).
  std::string BuildLocateCriteria(const std::vector<std::string>& fields,
                                  std::vector<std::string>& values, ds::TLocateOptions options);
  std::string BuildKeyCriteria(const std::vector<std::string>& fields,
                               std::vector<std::string>& values);
  void SetFiltered(bool value) override;
  void SetFilterText(const std::string& text) override;
  void SetOnFilterRecord(ds::TFilterRecordEvent handler) override;
  // The sort clause of the last open ("a, b DESC "); empty while closed.
  const std::string& SortText() const { return FSortText; }
  // The DAO filter for a master condition: the condition and Filter (when Filtered) joined.
  std::string CombineWithFilter(const std::string& criteria) const;
  // The criteria that restricts the detail to the master's current values.
  std::string BuildMasterCriteria();
  void RequeryDetail();
  bool MasterDisabled() const { return FMasterDisabled; }
  const ds::TStringList& DetailFieldList() const { return FDetailFieldList; }
  const ds::TStringList& MasterFieldList() const { return FMasterFieldList; }
  ds::TDataSource* GetDataSource() const override { return MasterSource(); }
  // The SQL text with every :name of Params replaced by its value as a literal.
  std::string SubstitutedSQL() const;

  // --- Framework overrides that are public in the framework
  std::unique_ptr<ds::TStream> CreateBlobStream(ds::TField* field,
                                                ds::TBlobStreamMode mode) override;
  bool GetFieldData(ds::TField* field, void* buffer) const override;
  void SetFieldData(ds::TField* field, const void* buffer) override;
  bool GetCurrentRecord(ds::TRecordBuffer buffer) override;
  void SetRecNo(int value) override;
  bool BookmarkValid(const ds::TBookmark& bookmark) override;
  int CompareBookmarks(const ds::TBookmark& a, const ds::TBookmark& b) override;

  // --- Internal state other parts of the component family (and tests) look at
  std::int32_t CursorPosition() const { return FCursorPosition; }
  std::int32_t ScanPosition() const { return FScanPosition; }
  std::int32_t KnownRecordCount() const { return FKnownRecordCount; }
  bool RecordCountStale() const { return FRecordCountStale; }
  bool PositionStale() const { return FPositionStale; }
  bool Bookmarkable() const { return FBookmarkable; }
  int RecordsetOptions() const { return FRecordsetOptions; }
  bool EncrypterActive() const { return FEncrypterActive; }
  const std::vector<std::uint8_t>& FieldUpdatable() const { return FFieldUpdatable; }
  const std::vector<std::string>& FieldDefaults() const { return FFieldDefaults; }
  const ds::TStringList& FieldDisplayNames() const { return FFieldDisplayNames; }
  const ds::TStringList& FieldNames() const { return FFieldNames; }
  const std::vector<std::int32_t>& BookmarkIndexList() const { return FBookmarkIndexList; }
  const std::vector<std::int32_t>& BookmarkValueList() const { return FBookmarkValueList; }
  // The buffer the dataset's state addresses, or null.
  ds::TRecordBuffer GetActiveRecordBuffer() const;
  static TDaoRecInfo& RecInfo(ds::TRecordBuffer buffer) {
    return *reinterpret_cast<TDaoRecInfo*>(buffer);
  }
  // Copies the recordset's current record into the buffer; false when DAO says the record
  // was deleted (3167).
  bool ReadRecord(dao::Recordset& recordset, bool use_cached_fields, ds::TRecordBuffer buffer);
  // A text field's whole value (NUL characters included), which the framework's zero-ended
  // field buffers cannot carry; false for Null.
  bool FieldText(const ds::TField* field, std::string& text) const;
  // The whole value a text field is being set to, while SetFieldData runs for it.
  const std::string* FPendingText = nullptr;
  // The default fields, with text fields that carry whole values.
  void CreateDaoFields();
  std::int32_t CurrentDaoBookmark(dao::Recordset& recordset);
  std::int32_t LastModifiedDaoBookmark(dao::Recordset& recordset);
  void GotoDaoBookmark(std::int32_t value);
  std::int32_t PositionOfBookmark(dao::Recordset& recordset, std::int32_t value);

 protected:
  ds::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(ds::TRecordBuffer& buffer) override;
  int GetRecordSize() const override { return FRecordSize; }
  void InternalInitRecord(ds::TRecordBuffer buffer) override;
  ds::TGetResult GetRecord(ds::TRecordBuffer buffer, ds::TGetMode mode, bool check) override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return FCursorOpen; }
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(ds::TRecordBuffer buffer) override;
  void InternalGotoBookmark(const std::uint8_t* bookmark) override;
  ds::TBookmarkFlag GetBookmarkFlag(ds::TRecordBuffer buffer) const override;
  void SetBookmarkFlag(ds::TRecordBuffer buffer, ds::TBookmarkFlag flag) override;
  void GetBookmarkData(ds::TRecordBuffer buffer, void* data) const override;
  void SetBookmarkData(ds::TRecordBuffer buffer, const void* data) override;
  ds::TBookmarkStr GetBookmarkStr() const override;
  void SetBookmarkStr(const ds::TBookmarkStr& bookmark) override;
  int GetRecordCount() const override;
  int GetRecNo() const override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalPost() override;
  void InternalAddRecord(ds::TRecordBuffer buffer, bool append) override;
  void InternalDelete() override;
  void InternalRefresh() override;
  bool GetCanModify() const override { return FCursorOpen && !FReadOnly; }
  void InternalHandleException() override;
  void ClearCalcFields(ds::TRecordBuffer buffer) override;
  void UpdateIndexDefs() override;
  void DoOnNewRecord() override;

 private:
  void ResyncOrReopen();
  friend class TMxBlobStream;
  friend class TMxDaoIndexDefs;

  // Search helpers.
  void ReadIndexDefs();
  std::string KeyCriteria(const std::vector<std::string>& fields, std::vector<std::string>& values,
                          bool locate, ds::TLocateOptions options);
  void SplitKeys(const std::string& key_fields, const ds::Variant& key_values,
                 std::vector<std::string>& fields, std::vector<std::string>& values) const;
  bool FindKey(int which, const std::string& key_fields, const ds::Variant& key_values,
               ds::TLocateOptions options);
  // Takes over the position of a clone that found a record.
  void TakeOverMatch(dao::Recordset& copy, ds::TResyncMode resync);
  // Open steps: sort and filter, master restriction, query parameters.
  void ApplySortAndFilter();
  void ApplyMasterRestriction();
  void AssignQueryDefParameters(dao::QueryDef& query);
  std::string DetailStatement(const std::string& criteria) const;
  void CopyMasterValuesToParams();
  void ParseMasterFields();
  void MasterChanged();
  void MasterDisabledChanged();
  std::shared_ptr<dao::Recordset> OpenFromRecordset(dao::Recordset& from, bool with_type,
                                                    int options);

  // How posting hands a field's text to DAO, settled per field at open.
  enum class PostKind : std::uint8_t { Text, Bytes, Date, Memo, Blob };

  void CheckInactiveSetter(const char* message) const;
  void ReopenTable();
  void BuildFieldBookkeeping();
  void AdjustFieldObjects();
  void ApplyDisplayLabels();
  void LookUpEncrypter();
  void ResetCursorState();
  void ClearBookmarkLists();
  void RegisterBookmark(std::int32_t record_index, std::int32_t bookmark) const;
  bool RecordFilterInForce() const;
  bool AcceptRecord(ds::TRecordBuffer buffer);
  void VerifyCountWithSnapshot();
  int CountRecords();
  int ComputeRecNo();
  void FreeOldValues();
  void MakeOldValues();
  std::string Encrypt(const std::string& text) const;
  std::string Decrypt(const std::string& text) const;
  void RaiseThroughErrorEvent(const ds::TDataSetErrorEvent& event, core::EOleException& error,
                              ds::TDataAction& action);
  ds::TRecordBuffer NewBuffer();
  void DisposeBuffer(ds::TRecordBuffer& buffer);

  // Published properties.
  bool FAutoFindIndex = true;
  std::string FComponentVersion = "7.20";
  bool FCacheBlobs = false;
  bool FCacheMemos = false;
  bool FCacheLookups = false;
  daodb::TMxDaoDatabase* FDatabase = nullptr;
  ds::TComponent* FEncrypter = nullptr;
  TExportMethod FExportMethod = TExportMethod::VisibleFields;
  bool FRefreshSorted = false;
  std::string FTableName;
  ds::TStringList FSortedBy;
  std::string FQueryDefName;
  ds::TStringList FQueryDefParameters;
  ds::TStringList FQueryDefSQLText;
  int FQueryDefODBCMaxRecords = 0;
  ds::TStringList FSQL;
  bool FShowGUID = false;
  ds::TParams FParams;
  int FTableType = 2;
  int FLockType = 3;
  TOOSet FOpenOptions;
  std::unique_ptr<TMxDaoIndexDefs> FIndexDefs;
  mutable int FIndexFieldCount = 0;
  // The buffer a Lookup computes calculated fields in, while it reads them.
  ds::TRecordBuffer FLookupBuffer = nullptr;
  std::string FIndexName;
  bool FReadOnly = false;
  std::unique_ptr<ds::TMasterDataLink> FMasterLink;
  ds::TStringList FMasterFields;
  ds::TStringList FDetailFieldList;
  ds::TStringList FMasterFieldList;
  bool FMasterDisabled = false;
  bool FMasterAutoActivate = true;
  bool FDatabaseAutoActivate = false;
  bool FUseBrackets = true;
  bool FUseCaptions = false;
  bool FUseDaoProperties = true;
  bool FUseGetRecNo = true;
  bool FUseRecordCount = true;
  bool FWarnOnBadDatabase = false;
  bool FKeepAutoNumbers = false;
  bool FParamCheck = true;
  bool FProcessMessages = false;

  // Internal state.
  bool FCursorOpen = false;
  bool FOpeningRecordset = false;
  bool FRecovering = false;
  // Raised at every close: a blob stream that outlives its buffer notices by it.
  std::uint64_t FCloseCount = 0;
  bool FComInitialized = false;
  bool FClosingByDatabase = false;
  bool FBookmarkable = false;
  bool FEncrypterActive = false;
  TMxDaoStringEncrypter* FEncrypterIntf = nullptr;
  std::shared_ptr<dao::Recordset> FRecordset;
  std::shared_ptr<dao::Recordset> FBaseRecordset;
  int FRecordsetOptions = 0;
  std::string FSortText;
  int FOpenTableType = 2;
  int FOpenLockType = 3;
  int FRecordSize = kDaoRecInfoSize;
  std::string FIdentifierChars;

  // Per-field bookkeeping, indexed by the DAO field ordinal (= field definition index).
  std::vector<std::shared_ptr<dao::Field>> FFieldObjects;
  std::vector<std::uint8_t> FFieldUpdatable;
  std::vector<std::string> FFieldDefaults;
  ds::TStringList FFieldDisplayNames;
  ds::TStringList FFieldNames;
  // The field object of each definition (null when it has none) and how posting writes it.
  std::vector<ds::TField*> FDefFields;
  std::vector<PostKind> FPostKinds;

  // Buffers of our own: the three scratch buffers, the old values while editing or inserting,
  // and a spare block kept so that a new record per Append allocates nothing.
  ds::TRecordBuffer FScratch[3] = {nullptr, nullptr, nullptr};
  ds::TRecordBuffer FOldValuesBuffer = nullptr;
  ds::TRecordBuffer FSpareBuffer = nullptr;

  // Navigation.
  std::int32_t FCursorPosition = -1;
  std::int32_t FScanPosition = -1;
  std::int32_t FKnownRecordCount = -1;
  std::int32_t FCachedRecordCount = -1;
  bool FRecordCountStale = true;
  bool FPositionStale = false;
  mutable std::vector<std::int32_t> FBookmarkIndexList;
  mutable std::vector<std::int32_t> FBookmarkValueList;
};

// The stream over a memo's or blob's value text in a record buffer of a TMxDaoTable.
class TMxBlobStream : public ds::TStream {
 public:
  TMxBlobStream(ds::TField* field, ds::TBlobStreamMode mode);
  ~TMxBlobStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;

  bool Modified() const { return FModified; }

 private:
  void Truncate();
  // Drops the reference into the record buffer once the table has closed (and freed it).
  void CheckBuffer();
  std::string& Data() { return FData != nullptr ? *FData : FOwnData; }

  ds::TField* FField;
  TMxDaoTable* FTable;
  ds::TRecordBuffer FBuffer = nullptr;
  std::uint64_t FCloseCount = 0;
  ds::TBlobStreamMode FMode;
  bool FOpened = false;
  bool FModified = false;
  std::int64_t FPosition = 0;
  // The content. Once the stream has written into its buffer, the content is the buffer's
  // value text itself (FData), so that a long blob copied in chunks is not copied again per
  // chunk; before that it is a copy of its own.
  std::string FOwnData;
  std::string* FData = nullptr;
};

}  // namespace daotable
