// The storage engine's front door: databases, their catalog, and tables of rows.
//
// `Database::Create` writes a new, empty Jet 4 file from nothing; `Database::Open` opens an
// existing one (Jet 4 for writing, Jet 3 for reading only). A database open for writing
// holds an exclusive advisory lock and a `.ldb` file beside it, both released by Close.
//
// Changes are transactions: everything between two commits (`Commit`, `Flush`, `Close`, and
// by itself after an operation that took the rollback journal past `commit_journal_bytes`)
// reaches the file completely or not at all, whatever happens to the process or the disk
// (see journal.h). An operation that fails part-way because of the file (a full disk, an
// I/O error, the 2 GiB limit) leaves the database refusing further changes; Close then
// undoes everything since the last commit. Open rolls back a change a crash interrupted
// before anything else. Before the first change to a file that existed, the structures
// the change relies on (page map, usage maps, the catalog's indexes) are checked, and a
// damaged file is refused unchanged.
//
// `Table` gives rows in physical order and inserts, updates and deletes them, keeping long
// values, usage maps, counters and every index of the table in step. A row is addressed by
// its `RowPointer` (data page and slot), which stays valid for the life of the row: a row
// that outgrows its page on update is moved behind a forwarding pointer that keeps its
// address. Values are `core::Variant`s in the order of `Definition().columns`. A table's
// indexes are read in key order through `IndexCursor` (index_cursor.h).
//
// This layer knows nothing of DAO. It never reaches around the page cache to the file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/file.h"
#include "core/variant.h"
#include "jet/errors.h"
#include "jet/format.h"
#include "jet/header_page.h"
#include "jet/journal.h"
#include "jet/pager.h"
#include "jet/property_blob.h"
#include "jet/row_codec.h"
#include "jet/table_definition.h"

namespace jet {

class Database;
class IndexMaintainer;
class LongValueStore;

// MSysObjects.Type values.
namespace object_type {
inline constexpr std::int16_t kTable = 1;
inline constexpr std::int16_t kDatabase = 2;
inline constexpr std::int16_t kContainer = 3;
inline constexpr std::int16_t kLinkedOdbc = 4;
inline constexpr std::int16_t kQuery = 5;
inline constexpr std::int16_t kLinkedTable = 6;
inline constexpr std::int16_t kRelationship = 8;
}  // namespace object_type

// MSysObjects.Flags bits.
namespace object_flag {
inline constexpr std::uint32_t kSystem = 0x80000000u;
inline constexpr std::uint32_t kAccessSystem = 0x00000002u;
inline constexpr std::uint32_t kHidden = 0x00000008u;
}  // namespace object_flag

// DAO TableDef.Attributes bits.
namespace dao_attribute {
inline constexpr std::int32_t kHiddenObject = 0x1;
inline constexpr std::int32_t kAttachedOdbc = 0x20000000;
inline constexpr std::int32_t kAttachedTable = 0x40000000;
inline constexpr std::int32_t kSystemObject = static_cast<std::int32_t>(0x80000002u);
}  // namespace dao_attribute

// One row of the catalog (MSysObjects).
struct CatalogEntry {
  std::string name;
  std::int32_t id = 0;
  std::int32_t parent_id = 0;
  std::int16_t type = 0;
  std::uint32_t flags = 0;
  double date_create = 0;
  double date_update = 0;
  std::string database;      // linked tables: the source database
  std::string connect;       // linked tables: the connect string
  std::string foreign_name;  // linked tables: the table's name at the source
  RowPointer row;            // where the catalog row is

  bool IsTable() const { return (type & 0x7F) == object_type::kTable; }
  bool IsLinked() const {
    return (type & 0x7F) == object_type::kLinkedTable || (type & 0x7F) == object_type::kLinkedOdbc;
  }
  bool IsQuery() const { return (type & 0x7F) == object_type::kQuery; }
  bool IsSystem() const {
    return (flags & (object_flag::kSystem | object_flag::kAccessSystem)) != 0;
  }
  bool IsHidden() const { return (flags & object_flag::kHidden) != 0; }
  // What DAO's TableDef.Attributes reports for this object.
  std::int32_t DaoAttributes() const;
  std::uint32_t TableDefinitionPage() const { return static_cast<std::uint32_t>(id) & 0x00FFFFFFu; }
};

// A column of a table to be created.
struct NewColumn {
  std::string name = {};
  std::uint8_t type = column_type::kText;
  // Text: characters (1..255); Binary: bytes (1..255); ignored for other types.
  std::uint16_t size = 255;
  bool required = false;
  bool auto_increment = false;      // Long: AutoNumber; GUID: ReplicationID AutoNumber
  bool unicode_compression = true;  // Text/Memo, Access's default
  bool allow_zero_length = true;    // Text/Memo
  std::uint8_t precision = 18;      // Decimal
  std::uint8_t scale = 0;           // Decimal
  std::string default_value = {};   // an expression, kept in the properties
  std::string format = {};
  std::string caption = {};
  std::string description = {};
};

struct NewIndex {
  std::string name = {};
  std::vector<std::pair<std::string, bool>> columns = {};  // name, ascending
  bool primary_key = false;                                // also unique and required
  bool unique = false;
  bool ignore_nulls = false;  // rows whose index columns are all Null get no entry
  bool required = false;      // no index column may be Null
};

struct NewTable {
  std::string name = {};
  std::vector<NewColumn> columns = {};
  std::vector<NewIndex> indexes = {};
  std::string description = {};
};

class Table {
 public:
  ~Table();
  const std::string& Name() const { return name_; }
  const TableDefinition& Definition() const { return def_; }
  std::uint32_t RowCount() const { return def_.row_count; }
  bool IsSystem() const { return def_.table_type == kSystemTable; }
  // Position of a column in Definition().columns (case-insensitive); -1 when missing.
  int ColumnIndex(std::string_view name) const;
  // Column positions in column-number order (the order Access shows them in).
  const std::vector<int>& ColumnOrder() const { return order_; }

  // Walks the live rows in physical order.
  class Scan {
   public:
    bool Next();
    RowPointer Position() const { return position_; }
    core::Variant Value(std::size_t column);
    std::vector<core::Variant> Values();
    // The raw slices of the current row (long values as their in-row bytes).
    const std::vector<ColumnSlice>& Slices() const { return slices_; }

   private:
    friend class Table;
    explicit Scan(Table& table);
    Table* table_;
    std::vector<std::uint32_t> pages_;
    std::size_t page_index_ = 0;
    int row_ = -1;
    PageRef page_;
    PageRef target_;  // the page of a forwarded row's content
    RowPointer position_;
    std::vector<ColumnSlice> slices_;
  };
  Scan StartScan() { return Scan(*this); }

  // The row at `where`; JetError kNotFound when there is no live row there.
  std::vector<core::Variant> Read(RowPointer where);
  // `values` has one entry per column; Empty means "not given" (AutoNumber and Null). With
  // `stored`, also gives the row as Read would now give it (numbers assigned, values in the
  // column's type and scale) without reading it back.
  RowPointer Insert(std::span<const core::Variant> values,
                    std::vector<core::Variant>* stored = nullptr);
  // Replaces every column's value; Empty keeps a column's old value.
  void Update(RowPointer where, std::span<const core::Variant> values);
  void Delete(RowPointer where);

  // The table's property blob (column Format, Caption, Description, ...).
  PropertyBlob Properties();
  // Tells the table that its property blob (MSysObjects.LvProp) was rewritten: the
  // Required flags it enforces are read again before the next write.
  void PropertiesChanged() { required_loaded_ = false; }

 private:
  friend class Database;
  friend class IndexCursor;
  Table(Database& db, std::string name, TableDefinition def, RowPointer catalog_row);
  // Takes the definition after its indexes changed (counters stored before that); the
  // index trees are opened afresh.
  void Redefine(TableDefinition def);
  // Fills index i of `indexes` from every live row, in one pass.
  void BuildIndex(IndexMaintainer& indexes, std::size_t i);
  struct Content;   // where a row's bytes are
  struct RowDraft;  // a row being written
  RowPointer ApplyInsert(std::span<const core::Variant> values, std::vector<core::Variant>* stored);
  void StoredValues(std::span<const core::Variant> values, RowPointer where,
                    std::vector<core::Variant>& out);
  void ApplyUpdate(RowPointer where, std::span<const core::Variant> values);
  void ApplyDelete(RowPointer where);
  Content Locate(RowPointer where, bool for_write);
  core::Variant ToVariant(std::size_t column, const ColumnSlice& slice, int row,
                          std::uint32_t page);
  std::uint32_t PageForInsert(std::size_t length);
  // The longest row this data page of the table can take, counting the bytes of its
  // deleted rows; 0 for a page that is not one of the table's data pages.
  std::size_t RoomOn(std::uint32_t page);
  // Room for which a page stays in (or goes back into) the free-space map.
  static constexpr std::size_t kRoomWorthKeeping = 512;
  // Puts a page that rows were deleted from back into the free-space map if it has room.
  void NoteRoom(std::uint32_t page);
  RowPointer PlaceRow(std::span<const std::uint8_t> row, std::uint16_t flags);
  template <typename Fill>
  RowPointer PlaceEncoded(std::size_t length, std::uint16_t flags, Fill&& fill);
  IndexMaintainer* Indexes();
  UsageMap* FreeMap();
  LongValueStore& LongValues(std::size_t column);
  void CheckWritable();
  void CheckRequired(const std::vector<ColumnSlice>& slices);
  void MarkChanged() { counters_dirty_ = true; }
  void StoreCounters();

  Database& db_;
  std::string name_;
  TableDefinition def_;
  RowPointer catalog_row_;
  RowFormat format_;
  std::vector<int> order_;
  std::vector<int> by_number_;  // column position by column number, -1 for gaps
  std::unique_ptr<IndexMaintainer> indexes_;
  std::vector<std::unique_ptr<LongValueStore>> long_values_;  // by column position
  std::vector<std::size_t> booleans_;                         // positions of Boolean columns
  std::vector<std::size_t> long_values_at_;                   // positions of Memo and OLE columns
  std::string write_refusal_;  // why rows cannot be written (an index's sort order), or empty
  UsageMap* free_map_ = nullptr;
  std::uint32_t free_cursor_ = 0;  // where the last search of the free-space map stopped
  std::uint32_t insert_page_ = 0;
  bool counters_dirty_ = false;
  std::unique_ptr<RowDraft> insert_draft_;
  std::vector<std::size_t> required_;  // positions of columns that refuse Null
  bool required_loaded_ = false;
  EncodeBuffer scratch_;
  std::vector<std::uint8_t> row_buffer_;
  std::size_t min_row_size_ = 0;
};

struct OpenOptions {
  bool read_only = false;
  core::FileSystem* file_system = nullptr;  // default: the real one
  std::size_t cache_pages = 16384;
  // The file may grow to this many pages (Jet's 2 GiB); tests lower it to reach the limit.
  std::uint32_t max_pages = kMaxJet4Pages;
  // A transaction commits by itself after an operation that took its rollback journal past
  // this many bytes (a long change to pages the file had), so the journal stays bounded.
  std::uint64_t commit_journal_bytes = 64u << 20;
  // Create only: the sort order of the new database, its catalog and its text columns (as
  // Access writes them on a Windows of that language). It must be one whose keys we write.
  SortOrder sort_order = kGeneralSortOrder;
};

class Database {
 public:
  // Creates a new, empty Jet 4 database (code page 1252, sort order `options.sort_order`,
  // General unless given). Fails with
  // JetError kAlreadyExists, touching nothing, when the file exists.
  static std::unique_ptr<Database> Create(const std::string& path, const OpenOptions& options = {});
  static std::unique_ptr<Database> Open(const std::string& path, const OpenOptions& options = {});
  // Undoes a change a crash interrupted (a hot journal beside the file), as Open does
  // before anything else, and returns what the journal held (`exists` false: there was
  // none). A database that was being created is removed. Raises JetError kLocked when
  // another program has the file open for writing.
  static JournalInfo Recover(const std::string& path, const OpenOptions& options = {});
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& Path() const { return path_; }
  JetVersion Version() const { return header_.version; }
  // "4.0" or "3.0", as DAO's Database.Version reports it.
  std::string VersionText() const { return header_.version == JetVersion::kJet4 ? "4.0" : "3.0"; }
  // DAO's CollatingOrder: the sort order's locale (1033 = General).
  std::int32_t CollatingOrder() const { return header_.sort_order; }
  // The header's sort order, which new text columns take.
  SortOrder DefaultSortOrder() const { return SortOrder{header_.sort_order, header_.sort_version}; }
  int CodePage() const { return header_.code_page; }
  bool ReadOnly() const { return !pager_->Writable(); }
  // The file's length in pages.
  std::uint32_t PageCount() const { return pager_->PageCount(); }
  // Pages asked for with their content since the database opened, whether the cache had them
  // or the file was read: how much of the file an operation touched.
  std::uint64_t PagesRead() const { return pager_->PagesRead(); }

  // Every catalog row (tables, queries, containers, ...).
  std::vector<CatalogEntry> Catalog();
  // Tables, linked tables and queries, as DAO lists them; system ones only when asked.
  std::vector<CatalogEntry> Tables(bool include_system = true);
  std::vector<CatalogEntry> Queries();
  std::optional<CatalogEntry> FindObject(std::string_view name);

  // The open table of that name (local tables only); JetError kNotFound otherwise.
  Table& OpenTable(std::string_view name);
  Table& CreateTable(const NewTable& spec);
  void DropTable(std::string_view name);

  // Adds an index to a table, built at once over the rows the table has. An index whose
  // columns and flags equal an existing one's shares that one's B-tree, as Access does.
  // Raises JetError, having changed nothing: kNotFound (no such table or column),
  // kAlreadyExists (the name is taken; a second primary key: drop the first one),
  // kInvalidDefinition (a bad name or column list, too many indexes), kGeneral (a text
  // column in a sort order other than General), kDuplicateKey or kNullNotAllowed (rows
  // already there break a unique or required index; DAO's texts).
  void AddIndex(std::string_view table, const NewIndex& index);
  // Removes an index; its pages are freed unless another index shares its B-tree. Raises
  // JetError kNotFound, or kInvalidDefinition for an index that belongs to a relationship.
  void DropIndex(std::string_view table, std::string_view index);

  // Commits: every change so far is written, the file synced and the rollback journal
  // retired, so that it survives anything that happens next. The layers above call it
  // where a unit of work ends (a table copied, DAO's Idle). Raises when the database
  // failed earlier (see above) or the commit itself fails; the changes since the last
  // commit are then undone at Close.
  void Commit();
  // The same as Commit (the name the DAO layer has called it by).
  void Flush();
  // Whether an earlier failure keeps the database from taking changes.
  bool Failed() const { return pager_->Failed(); }
  // Commits, releases the lock and removes the .ldb file. After a failure it rolls the
  // file back to the last commit instead. Errors are raised; the destructor closes too
  // but swallows them.
  void Close();

 private:
  friend class Table;
  // The engine's own modules reach the page cache through this (database_internal.h).
  friend Pager& PageCacheOf(Database& db);
  Pager& PageCache() { return *pager_; }
  Database(std::string path, core::FileSystem& fs, std::unique_ptr<Pager> pager,
           DatabaseHeader header);
  // Rolls back a change a crash interrupted (a hot journal beside the file) before the
  // file is opened; removes what a crash left of a database being created.
  static void RecoverBeforeOpening(core::FileSystem& fs, const std::string& path);
  // Runs one operation that changes pages (see the paragraph at the top): refuses a damaged
  // file before its first change, marks the pager failed when the operation fails part-way
  // because of the file, and commits after the outermost operation once the journal is big.
  template <typename Operation>
  decltype(auto) Changing(Operation&& operation);
  void BeforeFirstChange();
  Table& ApplyCreateTable(const NewTable& spec);
  void ApplyDropTable(std::string_view name);
  void ApplyAddIndex(std::string_view table, const NewIndex& index);
  void ApplyDropIndex(std::string_view table, std::string_view index);
  static void InitialiseCatalog(Database& db);
  void AcquireLock(bool writable, core::File& file);
  Table& SystemTable(std::string_view name, std::uint32_t page);
  std::int32_t TablesContainerId();
  std::vector<std::uint8_t> OwnerSid();
  void InsertAces(std::int32_t object_id);
  // A table whose definition is about to change; `what` names the change in errors.
  Table& TableForDesign(std::string_view name, const std::string& what);
  // Marks the table's catalog row as changed in design (MSysObjects.DateUpdate).
  void TouchDesignDate(Table& table);
  // A new, empty inline usage-map row: on page `near` when it is a map page with room,
  // else on a new map page.
  RowPointer NewMapRow(std::uint32_t near);
  // Forgets these usage maps and deletes their rows; map pages left empty are released.
  void FreeMapRows(std::vector<RowPointer> rows);

  std::string path_;
  core::FileSystem& fs_;
  std::unique_ptr<Pager> pager_;
  DatabaseHeader header_;
  std::string lock_path_;
  bool closed_ = false;
  OpenOptions options_;
  int change_depth_ = 0;
  bool checked_for_writing_ = false;  // a new file, or an existing one found sound
  std::string damage_;                // why an existing file is refused for writing
  std::map<std::uint32_t, std::unique_ptr<Table>> tables_;  // by TDEF page
};

}  // namespace jet
