#include "jet/database.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "btree.h"
#include "catalog_util.h"
#include "changing.h"
#include "core/datetime.h"
#include "core/encoding.h"
#include "core/internal_error.h"
#include "jet/check.h"
#include "jet/data_page.h"
#include "jet/journal.h"
#include "jet/long_value.h"
#include "new_database.h"
#include "text_util.h"

namespace jet {
using namespace catalog_util;
namespace {

constexpr std::int32_t kRootId = 0x0F000000;
constexpr std::int32_t kTablesId = 0x0F000001;
constexpr std::int32_t kDatabasesId = 0x0F000002;
constexpr std::int32_t kRelationshipsId = 0x0F000003;
constexpr std::int32_t kMSysDbId = 0x10000000;
constexpr std::uint32_t kFullAccess = 0x000FFFFF;
// Catalog dates of the engine-made reference (the same moment as its header date).
constexpr std::uint8_t kCatalogDate[8] = {0x4E, 0xFB, 0xD3, 0x3B, 0x3E, 0xAB, 0xE4, 0x40};

// ---- the four system tables of a new database ----

struct SystemColumn {
  const char* name;
  std::uint16_t number;
  std::uint8_t type;
  std::uint16_t fixed_offset;  // fixed columns
  std::uint16_t var_index;     // variable columns
  std::uint8_t flags;
};

struct SystemIndex {
  const char* name;
  std::uint32_t number;
  std::vector<std::uint16_t> columns;
  std::uint8_t flags;
  std::uint8_t kind;
};

TableDefinition SystemDefinition(const std::vector<SystemColumn>& columns,
                                 std::uint16_t var_columns,
                                 const std::vector<SystemIndex>& logical_in_stored_order,
                                 std::size_t real_count) {
  TableDefinition def;
  def.table_type = kSystemTable;
  def.max_columns = static_cast<std::uint16_t>(columns.size());
  def.var_columns = var_columns;
  for (const auto& c : columns) {
    ColumnDefinition col;
    col.name = c.name;
    col.type = c.type;
    col.number = c.number;
    col.misc[0] = 0x09;  // the engine writes 09 04 00 00 on every system column
    col.misc[1] = 0x04;
    col.flags = c.flags;
    bool fixed = (c.flags & column_flag::kFixed) != 0;
    col.fixed_offset = fixed && c.type != column_type::kBoolean ? c.fixed_offset : 0;
    const bool variable_text = c.type == column_type::kText || c.type == column_type::kBinary;
    col.length = variable_text ? 510 : FixedColumnLength(c.type);
    col.var_index = c.var_index;
    def.columns.push_back(col);
  }
  // Fixed columns record how many variable columns come before them.
  for (auto& col : def.columns) {
    if (!col.IsFixed()) continue;
    std::uint16_t before = 0;
    for (const auto& other : def.columns)
      if (!other.IsFixed() && other.number < col.number) ++before;
    col.var_index = before;
  }
  def.real_indexes.resize(real_count);
  for (const auto& li : logical_in_stored_order) {
    LogicalIndexDefinition l;
    l.name = li.name;
    l.number = li.number;
    l.real_index = li.number;
    l.fk_cascade_update = 0x04;
    l.fk_cascade_delete = 0x04;
    l.kind = li.kind;
    def.indexes.push_back(l);
    RealIndexDefinition& r = def.real_indexes[li.number];
    for (auto c : li.columns) r.columns.push_back(IndexColumn{c, true});
    r.flags = li.flags;
  }
  return def;
}

constexpr std::uint8_t F = column_flag::kFixed | column_flag::kUpdatable | column_flag::kSystem;
constexpr std::uint8_t V = column_flag::kUpdatable | column_flag::kSystem;
constexpr std::uint8_t S = V | column_flag::kSystemSid;

TableDefinition MSysObjectsDefinition() {
  using namespace column_type;
  // Stored in name order, as Jet writes the system tables.
  return SystemDefinition({{"Connect", 9, kMemo, 0, 3, V},
                           {"Database", 8, kMemo, 0, 2, V},
                           {"DateCreate", 4, kDateTime, 10, 0, F},
                           {"DateUpdate", 5, kDateTime, 18, 0, F},
                           {"Flags", 7, kLong, 26, 0, F},
                           {"ForeignName", 10, kText, 0, 4, V},
                           {"Id", 0, kLong, 0, 0, F},
                           {"Lv", 13, kOle, 0, 7, V},
                           {"LvExtra", 16, kOle, 0, 10, V},
                           {"LvModule", 15, kOle, 0, 9, V},
                           {"LvProp", 14, kOle, 0, 8, V},
                           {"Name", 2, kText, 0, 0, V},
                           {"Owner", 6, kBinary, 0, 1, S},
                           {"ParentId", 1, kLong, 4, 0, F},
                           {"RmtInfoLong", 12, kOle, 0, 6, V},
                           {"RmtInfoShort", 11, kBinary, 0, 5, V},
                           {"Type", 3, kInteger, 8, 0, F}},
                          11,
                          {{"Id", 1, {0}, 0x81, index_kind::kPrimaryKey},
                           {"ParentIdName", 0, {1, 2}, 0x81, index_kind::kNormal}},
                          2);
}

TableDefinition MSysAcesDefinition() {
  using namespace column_type;
  return SystemDefinition({{"ACM", 2, kLong, 4, 0, F},
                           {"FInheritable", 3, kBoolean, 0, 0, F},
                           {"ObjectId", 0, kLong, 0, 0, F},
                           {"SID", 1, kBinary, 0, 0, S}},
                          1, {{"ObjectId", 0, {0}, 0x88, index_kind::kNormal}}, 1);
}

TableDefinition MSysQueriesDefinition() {
  using namespace column_type;
  return SystemDefinition({{"Attribute", 1, kByte, 4, 0, F},
                           {"Expression", 5, kMemo, 0, 3, V},
                           {"Flag", 6, kInteger, 5, 0, F},
                           {"LvExtra", 7, kLong, 7, 0, F},
                           {"Name1", 3, kText, 0, 1, V},
                           {"Name2", 4, kText, 0, 2, V},
                           {"ObjectId", 0, kLong, 0, 0, F},
                           {"Order", 2, kBinary, 0, 0, V}},
                          4, {{"ObjectIdAttribute", 0, {0, 1, 2}, 0x81, index_kind::kPrimaryKey}},
                          1);
}

TableDefinition MSysRelationshipsDefinition() {
  using namespace column_type;
  return SystemDefinition({{"ccolumn", 2, kLong, 4, 0, F},
                           {"grbit", 1, kLong, 0, 0, F},
                           {"icolumn", 3, kLong, 8, 0, F},
                           {"szColumn", 5, kText, 0, 2, V},
                           {"szObject", 4, kText, 0, 1, V},
                           {"szReferencedColumn", 7, kText, 0, 4, V},
                           {"szReferencedObject", 6, kText, 0, 3, V},
                           {"szRelationship", 0, kText, 0, 0, V}},
                          5,
                          {{"szObject", 1, {4}, 0x82, index_kind::kNormal},
                           {"szReferencedObject", 2, {6}, 0x82, index_kind::kNormal},
                           {"szRelationship", 0, {0}, 0x82, index_kind::kNormal}},
                          3);
}

}  // namespace

std::int32_t CatalogEntry::DaoAttributes() const {
  std::int32_t a = 0;
  if (IsSystem()) a |= dao_attribute::kSystemObject;
  if (IsHidden()) a |= dao_attribute::kHiddenObject;
  if ((type & 0x7F) == object_type::kLinkedTable) a |= dao_attribute::kAttachedTable;
  if ((type & 0x7F) == object_type::kLinkedOdbc) a |= dao_attribute::kAttachedOdbc;
  return a;
}

// ---- opening and closing ----

Database::Database(std::string path, core::FileSystem& fs, std::unique_ptr<Pager> pager,
                   DatabaseHeader header)
    : path_(std::move(path)), fs_(fs), pager_(std::move(pager)), header_(header) {}

Database::~Database() {
  try {
    Close();
  } catch (...) {
    // Close reports errors to callers that ask; a destructor cannot.
  }
}

void Database::AcquireLock(bool writable, core::File& file) {
  if (!file.TryLock(writable ? core::LockKind::kExclusive : core::LockKind::kShared))
    ThrowJet(ErrorCode::kLocked, path_ + ": the database is open for writing in another program");
  if (!writable) return;
  // The lock file Access keeps beside a database in use: one 64-byte entry, the computer
  // name and the user name, NUL-padded.
  std::string base = path_;
  std::size_t dot = base.find_last_of('.');
  std::size_t slash = base.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  lock_path_ = base + ".ldb";
  std::uint8_t entry[64] = {};
  char host[33] = {};
  if (gethostname(host, 32) != 0) std::strcpy(host, "localhost");
  std::memcpy(entry, host, std::min<std::size_t>(std::strlen(host), 32));
  std::memcpy(entry + 32, "Admin", 5);
  std::unique_ptr<core::File> ldb = fs_.Exists(lock_path_)
                                        ? fs_.Open(lock_path_, core::OpenMode::kReadWrite)
                                        : fs_.Open(lock_path_, core::OpenMode::kCreateNew);
  ldb->Truncate(0);
  ldb->WriteAt(0, entry);
}

void Database::RecoverBeforeOpening(core::FileSystem& fs, const std::string& path) {
  JournalInfo journal = InspectJournal(fs, path);
  if (!journal.exists) return;
  std::unique_ptr<core::File> file;
  try {
    file = fs.Open(path, core::OpenMode::kReadWrite);
  } catch (const core::EFileError& e) {
    if (!fs.Exists(path)) {
      // The database went, its journal stayed: nothing is left to restore.
      fs.Remove(JournalPath(path));
      return;
    }
    if (!journal.hot) return;  // a journal that never became hot changes nothing
    ThrowJet(ErrorCode::kGeneral,
             path + ": a change to the database was interrupted and must be undone from " +
                 JournalPath(path) + " before it can be read, which needs write access (" +
                 e.what() + "); run `datovrat-cli mdb recover` with write access");
  }
  if (!file->TryLock(core::LockKind::kExclusive)) {
    // A journal beside a file another program writes is that program's own.
    if (!journal.hot) return;
    ThrowJet(ErrorCode::kLocked, path + ": the database is open for writing in another program");
  }
  RollBackJournal(fs, *file);
  // A crash while the file was being created leaves it empty: it never was a database.
  if ((journal.hot && journal.original_pages == 0) || file->Size() == 0) {
    file.reset();
    fs.Remove(path);
    fs.SyncDirectory(path);
  }
}

JournalInfo Database::Recover(const std::string& path, const OpenOptions& options) {
  core::FileSystem& fs = options.file_system ? *options.file_system : core::FileSystem::Native();
  JournalInfo info = InspectJournal(fs, path);
  RecoverBeforeOpening(fs, path);
  return info;
}

std::unique_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options) {
  core::FileSystem& fs = options.file_system ? *options.file_system : core::FileSystem::Native();
  RecoverBeforeOpening(fs, path);
  std::unique_ptr<core::File> file =
      fs.Open(path, options.read_only ? core::OpenMode::kReadOnly : core::OpenMode::kReadWrite);
  std::vector<std::uint8_t> head(kJet4PageSize);
  std::size_t got = file->ReadAt(0, head);
  head.resize(got);
  DatabaseHeader header = DecodeHeader(head, path);
  bool writable =
      !options.read_only && header.version == JetVersion::kJet4 && header.database_key == 0;
  if (!file->TryLock(writable ? core::LockKind::kExclusive : core::LockKind::kShared))
    ThrowJet(ErrorCode::kLocked, path + ": the database is open for writing in another program");
  core::File& raw = *file;
  auto pager = std::make_unique<Pager>(std::move(file), header.version,
                                       PagerOptions{.writable = writable,
                                                    .cache_pages = options.cache_pages,
                                                    .max_pages = options.max_pages});
  pager->SetEncryptionKey(header.database_key);
  if (writable) pager->UseJournal(fs);
  std::unique_ptr<Database> db(new Database(path, fs, std::move(pager), header));
  db->options_ = options;
  db->AcquireLock(writable, raw);
  // MSysObjects must be readable for anything else to work: check it now, naming the file.
  db->SystemTable("MSysObjects", 2);
  return db;
}

std::unique_ptr<Database> Database::Create(const std::string& path, const OpenOptions& options) {
  core::FileSystem& fs = options.file_system ? *options.file_system : core::FileSystem::Native();
  if (fs.Exists(path))
    ThrowJet(ErrorCode::kAlreadyExists,
             path + ": cannot create the database: the file exists already");
  std::unique_ptr<core::File> file;
  try {
    file = fs.Open(path, core::OpenMode::kCreateNew);
  } catch (const core::EFileError& e) {
    if (fs.Exists(path))
      ThrowJet(ErrorCode::kAlreadyExists,
               path + ": cannot create the database: the file exists already");
    throw;
  }
  try {
    core::File& raw = *file;
    auto pager = Pager::CreateNew(std::move(file), PagerOptions{.writable = true,
                                                                .cache_pages = options.cache_pages,
                                                                .max_pages = options.max_pages});
    pager->UseJournal(fs);
    {
      if (!CanWriteTextKeys(options.sort_order))
        ThrowJet(ErrorCode::kGeneral,
                 path + ": cannot create the database: text " + TextKeyRefusal(options.sort_order));
      auto header_page = NewJet4HeaderPage(options.sort_order);
      PageRef p = pager->Write(0);
      std::memcpy(p.MutableData(), header_page.data(), header_page.size());
    }
    DatabaseHeader header = DecodeHeader(pager->Read(0).Bytes(), path);
    std::unique_ptr<Database> db(new Database(path, fs, std::move(pager), header));
    db->options_ = options;
    db->checked_for_writing_ = true;
    db->AcquireLock(true, raw);
    InitialiseCatalog(*db);
    db->Flush();
    return db;
  } catch (...) {
    // Only the file we created ourselves is removed, with its journal.
    file.reset();
    fs.Remove(path);
    fs.Remove(JournalPath(path));
    throw;
  }
}

void Database::Commit() {
  if (ReadOnly()) return;
  try {
    for (auto& [page, table] : tables_) table->StoreCounters();
  } catch (...) {
    pager_->MarkFailed();
    throw;
  }
  pager_->Flush();
}

void Database::Flush() {
  Commit();
}

void Database::BeforeFirstChange() {
  if (checked_for_writing_) return;
  if (damage_.empty()) {
    CheckReport report = CheckBeforeWriting(*this);
    if (report.Clean()) {
      checked_for_writing_ = true;
      return;
    }
    damage_ = path_ +
              ": the database is damaged, so nothing was written to it: " + report.problems.front();
    if (report.problems.size() > 1)
      damage_ += " (and " + std::to_string(report.problems.size() - 1) +
                 " more problems; `datovrat-cli mdb check` lists them)";
  }
  throw CorruptDatabase(damage_, path_, kNoPage);
}

void Database::Close() {
  if (closed_) return;
  closed_ = true;
  std::exception_ptr failure;
  if (!ReadOnly() && !Failed()) {
    try {
      Commit();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (!ReadOnly() && Failed()) {
    // Whatever failed was reported when it happened; undo what it left half done.
    try {
      pager_->RollBack();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  tables_.clear();
  pager_->Underlying().Unlock();
  if (!lock_path_.empty()) {
    try {
      fs_.Remove(lock_path_);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// ---- catalog ----

Table& Database::SystemTable(std::string_view name, std::uint32_t page) {
  auto it = tables_.find(page);
  if (it != tables_.end()) return *it->second;
  TableDefinition def = ReadTableDefinition(*pager_, page, name);
  std::unique_ptr<Table> t(new Table(*this, std::string(name), std::move(def), RowPointer{}));
  return *tables_.emplace(page, std::move(t)).first->second;
}

std::vector<CatalogEntry> Database::Catalog() {
  Table& objects = SystemTable("MSysObjects", 2);
  auto col = [&](const char* name) {
    int i = objects.ColumnIndex(name);
    if (i < 0)
      ThrowCorrupt({.file = path_, .table = "MSysObjects", .page = 2},
                   std::string("the catalog has no column '") + name + "'");
    return static_cast<std::size_t>(i);
  };
  std::size_t id = col("Id"), parent = col("ParentId"), name = col("Name"), type = col("Type"),
              flags = col("Flags"), created = col("DateCreate"), updated = col("DateUpdate");
  int database = objects.ColumnIndex("Database"), connect = objects.ColumnIndex("Connect"),
      foreign = objects.ColumnIndex("ForeignName");
  std::vector<CatalogEntry> out;
  auto scan = objects.StartScan();
  while (scan.Next()) {
    CatalogEntry e;
    core::Variant v = scan.Value(name);
    if (v.IsNull()) continue;
    e.name = v.ToString();
    e.id = scan.Value(id).IsNull() ? 0 : scan.Value(id).ToLong();
    e.parent_id = scan.Value(parent).IsNull() ? 0 : scan.Value(parent).ToLong();
    e.type = scan.Value(type).IsNull() ? 0 : scan.Value(type).ToInteger();
    e.flags =
        scan.Value(flags).IsNull() ? 0 : static_cast<std::uint32_t>(scan.Value(flags).ToLong());
    e.date_create = scan.Value(created).IsNull() ? 0 : scan.Value(created).ToDouble();
    e.date_update = scan.Value(updated).IsNull() ? 0 : scan.Value(updated).ToDouble();
    if (database >= 0) e.database = scan.Value(database).ToString();
    if (connect >= 0) e.connect = scan.Value(connect).ToString();
    if (foreign >= 0) e.foreign_name = scan.Value(foreign).ToString();
    e.row = scan.Position();
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<CatalogEntry> Database::Tables(bool include_system) {
  std::vector<CatalogEntry> out;
  std::int32_t tables = TablesContainerId();
  for (auto& e : Catalog()) {
    if (!(e.IsTable() || e.IsLinked())) continue;
    if (e.parent_id != tables && e.IsTable() && !e.IsSystem()) continue;
    if (!include_system && e.IsSystem()) continue;
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<CatalogEntry> Database::Queries() {
  std::vector<CatalogEntry> out;
  for (auto& e : Catalog())
    if (e.IsQuery()) out.push_back(std::move(e));
  return out;
}

std::optional<CatalogEntry> Database::FindObject(std::string_view name) {
  std::int32_t tables = TablesContainerId();
  for (auto& e : Catalog())
    if (e.parent_id == tables && NamesEqual(e.name, name)) return e;
  return std::nullopt;
}

std::int32_t Database::TablesContainerId() {
  // Look the container up rather than assume 0x0F000001.
  Table& objects = SystemTable("MSysObjects", 2);
  int id = objects.ColumnIndex("Id"), parent = objects.ColumnIndex("ParentId"),
      name = objects.ColumnIndex("Name");
  if (id < 0 || parent < 0 || name < 0) return kTablesId;
  auto scan = objects.StartScan();
  while (scan.Next()) {
    core::Variant p = scan.Value(parent);
    if (p.IsNull() || p.ToLong() != kRootId) continue;
    core::Variant n = scan.Value(name);
    if (!n.IsNull() && n.ToString() == "Tables" && !scan.Value(id).IsNull())
      return scan.Value(id).ToLong();
  }
  return kTablesId;
}

Table& Database::OpenTable(std::string_view name) {
  std::optional<CatalogEntry> e = FindObject(name);
  if (!e || !e->IsTable())
    ThrowJet(ErrorCode::kNotFound, path_ + ": there is no table '" + std::string(name) + "'");
  std::uint32_t page = e->TableDefinitionPage();
  auto it = tables_.find(page);
  if (it != tables_.end()) {
    if (it->second->catalog_row_.IsNull()) it->second->catalog_row_ = e->row;
    return *it->second;
  }
  TableDefinition def = ReadTableDefinition(*pager_, page, e->name);
  std::unique_ptr<Table> t(new Table(*this, e->name, std::move(def), e->row));
  return *tables_.emplace(page, std::move(t)).first->second;
}

std::vector<std::uint8_t> Database::OwnerSid() {
  Table& objects = SystemTable("MSysObjects", 2);
  int id = objects.ColumnIndex("Id"), owner = objects.ColumnIndex("Owner");
  if (id >= 0 && owner >= 0) {
    auto scan = objects.StartScan();
    while (scan.Next()) {
      core::Variant v = scan.Value(id);
      if (!v.IsNull() && v.ToLong() == kMSysDbId) {
        core::Variant o = scan.Value(owner);
        if (o.Type() == core::VarType::ByteArray) return o.Bytes();
      }
    }
  }
  return {new_database::kSidAdmin[0], new_database::kSidAdmin[1]};
}

void Database::InsertAces(std::int32_t object_id) {
  // New objects get full rights for every account the Tables container names (what
  // files Access opens without complaint have).
  Table& aces = SystemTable("MSysACEs", 3);
  int oid = aces.ColumnIndex("ObjectId"), sid = aces.ColumnIndex("SID"),
      acm = aces.ColumnIndex("ACM"), inh = aces.ColumnIndex("FInheritable");
  if (oid < 0 || sid < 0 || acm < 0 || inh < 0)
    ThrowCorrupt({.file = path_, .table = "MSysACEs", .page = 3},
                 "the permissions table lacks a column");
  std::int32_t tables = TablesContainerId();
  std::vector<std::vector<std::uint8_t>> sids;
  {
    auto scan = aces.StartScan();
    while (scan.Next()) {
      core::Variant o = scan.Value(oid);
      if (o.IsNull() || o.ToLong() != tables) continue;
      core::Variant s = scan.Value(sid);
      if (s.Type() != core::VarType::ByteArray) continue;
      if (std::find(sids.begin(), sids.end(), s.Bytes()) == sids.end()) sids.push_back(s.Bytes());
    }
  }
  for (const auto& s : sids) {
    std::vector<core::Variant> row(aces.Definition().columns.size());
    row[oid] = core::Variant::FromLong(object_id);
    row[sid] = core::Variant::FromBytes(s);
    row[acm] = core::Variant::FromLong(static_cast<std::int32_t>(kFullAccess));
    row[inh] = core::Variant::FromBoolean(false);
    aces.Insert(row);
  }
}

void Database::InitialiseCatalog(Database& db) {
  Pager& pager = *db.pager_;
  // Pages 2-13 in the engine's order: four definitions, the map page, seven index roots.
  for (std::uint32_t expect = 2; expect <= 13; ++expect) {
    PageRef p = pager.Allocate(nullptr);
    if (p.Number() != expect) core::ThrowInternal("a new database allocated out of order");
  }
  {
    PageRef maps = pager.Write(6);
    FormatMapPage(maps.MutableData(), 31);
  }
  auto map_row = [](int row) { return RowPointer{6, static_cast<std::uint8_t>(row)}; };
  struct Spec {
    TableDefinition def;
    std::uint32_t page;
    int owned_row;
    std::vector<std::pair<int, std::uint32_t>> index_maps;  // map row, root page
    std::vector<std::pair<const char*, int>> lv_maps;       // column, first map row
  };
  std::vector<Spec> specs;
  specs.push_back({MSysObjectsDefinition(),
                   2,
                   0,
                   {{16, 7}, {17, 8}},
                   {{"Database", 2},
                    {"Connect", 4},
                    {"RmtInfoLong", 6},
                    {"Lv", 8},
                    {"LvProp", 10},
                    {"LvModule", 12},
                    {"LvExtra", 14}}});
  specs.push_back({MSysAcesDefinition(), 3, 18, {{20, 9}}, {}});
  specs.push_back({MSysQueriesDefinition(), 4, 21, {{25, 10}}, {{"Expression", 23}}});
  specs.push_back({MSysRelationshipsDefinition(), 5, 26, {{28, 11}, {29, 12}, {30, 13}}, {}});
  // A database in a national order has it on every catalog column, as Access writes it.
  const SortOrder order{db.header_.sort_order, 0};
  for (auto& s : specs) {
    if (!IsGeneralSortOrder(order)) {
      for (ColumnDefinition& c : s.def.columns) {
        c.misc[0] = static_cast<std::uint8_t>(order.locale);
        c.misc[1] = static_cast<std::uint8_t>(order.locale >> 8);
        c.misc[2] = 0;
        c.misc[3] = order.version;
      }
    }
    s.def.pages = {s.page};
    s.def.owned_map = map_row(s.owned_row);
    s.def.free_map = map_row(s.owned_row + 1);
    for (std::size_t i = 0; i < s.index_maps.size(); ++i) {
      auto& ri = s.def.real_indexes[i];
      ri.usage_map = map_row(s.index_maps[i].first);
      ri.root_page = s.index_maps[i].second;
      PageRef root = pager.Write(ri.root_page);
      FormatEmptyLeaf(root.MutableData(), s.page);
      pager.Map(ri.usage_map).Add(ri.root_page);
    }
    for (auto& [name, row] : s.lv_maps) {
      for (auto& col : s.def.columns) {
        if (col.name != name) continue;
        col.has_lv_maps = true;
        col.lv_owned_map = map_row(row);
        col.lv_free_map = map_row(row + 1);
      }
    }
    WriteTableDefinition(pager, s.def);
  }

  // The catalog rows, in the slot order the engine writes them.
  const double date = LeDouble(kCatalogDate);
  auto sid = [](const std::uint8_t* s) { return core::Variant::FromBytes({s[0], s[1]}); };
  Table& objects = db.SystemTable("MSysObjects", 2);
  struct ObjectRow {
    std::int32_t id, parent;
    const char* name;
    std::int16_t type;
    const std::uint8_t* owner;
  };
  const ObjectRow rows[] = {
      {kTablesId, kRootId, "Tables", object_type::kContainer, new_database::kSidEngine},
      {kDatabasesId, kRootId, "Databases", object_type::kContainer, new_database::kSidEngine},
      {kRelationshipsId, kRootId, "Relationships", object_type::kContainer,
       new_database::kSidEngine},
      {kMSysDbId, kDatabasesId, "MSysDb", object_type::kDatabase, new_database::kSidAdmin},
      {2, kTablesId, "MSysObjects", object_type::kTable, new_database::kSidEngine},
      {3, kTablesId, "MSysACEs", object_type::kTable, new_database::kSidEngine},
      {4, kTablesId, "MSysQueries", object_type::kTable, new_database::kSidEngine},
      {5, kTablesId, "MSysRelationships", object_type::kTable, new_database::kSidEngine},
  };
  for (const auto& r : rows) {
    std::vector<core::Variant> v(objects.Definition().columns.size());
    v[objects.ColumnIndex("Id")] = core::Variant::FromLong(r.id);
    v[objects.ColumnIndex("ParentId")] = core::Variant::FromLong(r.parent);
    v[objects.ColumnIndex("Name")] = core::Variant::FromString(r.name);
    v[objects.ColumnIndex("Type")] = core::Variant::FromInteger(r.type);
    v[objects.ColumnIndex("DateCreate")] = core::Variant::FromDate(date);
    v[objects.ColumnIndex("DateUpdate")] = core::Variant::FromDate(date);
    v[objects.ColumnIndex("Owner")] = sid(r.owner);
    v[objects.ColumnIndex("Flags")] =
        core::Variant::FromLong(static_cast<std::int32_t>(object_flag::kSystem));
    objects.Insert(v);
  }
  Table& aces = db.SystemTable("MSysACEs", 3);
  struct AceRow {
    std::int32_t object;
    const std::uint8_t* sid;
    std::uint32_t acm;
    bool inheritable;
  };
  using namespace new_database;
  const AceRow ace_rows[] = {
      {2, kSidAdmin, 0x00060000, false},
      {3, kSidAdmin, 0x00060000, false},
      {4, kSidAdmin, 0x00060000, false},
      {5, kSidAdmin, 0x000E0000, false},
      {kTablesId, kSidCreator, 0x000F00FE, true},
      {kTablesId, kSidAdmin, 0x00060001, false},
      {kRelationshipsId, kSidCreator, 0x000F00FE, true},
      {kRelationshipsId, kSidAdmin, 0x00060001, false},
      {kDatabasesId, kSidAdmin, 0x00060000, false},
      {kMSysDbId, kSidAdmin, 0x0006000E, false},
      {kMSysDbId, kSidUsers, 0x0000000E, false},
      {4, kSidUsers, 0x00000014, false},
      {5, kSidUsers, 0x00000014, false},
      {2, kSidUsers, 0x00000014, false},
      {kTablesId, kSidUsers, 0x000FFEFF, true},
      {kRelationshipsId, kSidUsers, 0x000FFFFF, true},
  };
  for (const auto& r : ace_rows) {
    std::vector<core::Variant> v(aces.Definition().columns.size());
    v[aces.ColumnIndex("ObjectId")] = core::Variant::FromLong(r.object);
    v[aces.ColumnIndex("SID")] = sid(r.sid);
    v[aces.ColumnIndex("ACM")] = core::Variant::FromLong(static_cast<std::int32_t>(r.acm));
    v[aces.ColumnIndex("FInheritable")] = core::Variant::FromBoolean(r.inheritable);
    aces.Insert(v);
  }
  // System tables created by the engine carry Flags 0x80000000 and no AutoNumber use.
}

// ---- creating and dropping tables ----

Table& Database::CreateTable(const NewTable& spec) {
  return Changing([&]() -> Table& { return ApplyCreateTable(spec); });
}

void Database::DropTable(std::string_view name) {
  Changing([&] { ApplyDropTable(name); });
}

namespace {

// Says why a new table is refused, naming the database and the table.
struct TableRefusal {
  const std::string& path;
  const std::string& table;
  [[noreturn]] void operator()(const std::string& why) const {
    ThrowJet(ErrorCode::kInvalidDefinition, path + ": cannot create table '" + table + "': " + why);
  }
};

// The stored definition of one new column, before its place in the row is known: type, length,
// sort order and flags.
ColumnDefinition NewColumnDefinition(const NewColumn& c, std::size_t i, std::uint32_t sort_order,
                                     const TableRefusal& refuse) {
  if (!IsSupportedColumnType(c.type))
    ThrowJet(ErrorCode::kUnsupportedType,
             refuse.path + ": cannot create table '" + refuse.table + "': column '" + c.name +
                 "' has the unsupported type code " + std::to_string(c.type));
  ColumnDefinition col;
  col.name = c.name;
  col.type = c.type;
  col.number = static_cast<std::uint16_t>(i);
  col.unknown9 = col.number;
  col.flags = column_flag::kUpdatable;
  col.length = FixedColumnLength(c.type);
  switch (c.type) {
    case column_type::kNumeric:
      if (c.precision < 1 || c.precision > 28 || c.scale > c.precision)
        refuse("column '" + c.name + "': a Decimal needs precision 1-28 and a scale not above it");
      col.misc[0] = c.precision;
      col.misc[1] = c.scale;
      break;
    case column_type::kText:
      if (c.size < 1 || c.size > 255)
        refuse("column '" + c.name + "': Text holds 1 to 255 characters");
      col.length = static_cast<std::uint16_t>(c.size * 2);
      break;
    case column_type::kBinary:
      if (c.size < 1 || c.size > 255)
        refuse("column '" + c.name + "': Binary holds 1 to 255 bytes");
      col.length = c.size;
      break;
    default:
      break;
  }
  if (col.IsText()) {
    // The database's sort order (General: 09 04 00 00).
    col.misc[0] = static_cast<std::uint8_t>(sort_order);
    col.misc[1] = static_cast<std::uint8_t>(sort_order >> 8);
    if (c.unicode_compression) col.ext_flags = kExtFlagCompressedUnicode;
  }
  if (c.auto_increment) {
    if (c.type == column_type::kLong)
      col.flags |= column_flag::kAutoNumber;
    else if (c.type == column_type::kGuid)
      col.flags |= column_flag::kGuidAutoNumber;
    else
      refuse("column '" + c.name + "': only Long and GUID columns can number themselves");
  }
  return col;
}

bool IsVariableLength(std::uint8_t type) {
  return type == column_type::kText || type == column_type::kBinary || type == column_type::kMemo ||
         type == column_type::kOle;
}

// Every column's definition and place: fixed columns in the fixed area in order, variable ones
// numbered in order. A row of Nulls must be storable at all; Jet refuses such definitions too.
void DefineColumns(const NewTable& spec, std::uint32_t sort_order, const TableRefusal& refuse,
                   TableDefinition& def) {
  std::uint16_t fixed_offset = 0, var_index = 0;
  for (std::size_t i = 0; i < spec.columns.size(); ++i) {
    const NewColumn& c = spec.columns[i];
    std::string why;
    if (!ValidObjectName(c.name, why)) refuse("column '" + c.name + "': " + why);
    for (std::size_t j = 0; j < i; ++j)
      if (NamesEqual(spec.columns[j].name, c.name)) refuse("column '" + c.name + "' appears twice");
    ColumnDefinition col = NewColumnDefinition(c, i, sort_order, refuse);
    if (!IsVariableLength(c.type)) {
      col.flags |= column_flag::kFixed;
      col.var_index = var_index;  // variable columns before it
      if (!col.IsBoolean()) {
        col.fixed_offset = fixed_offset;
        fixed_offset = static_cast<std::uint16_t>(fixed_offset + col.length);
      }
    } else {
      col.var_index = var_index++;
    }
    def.columns.push_back(col);
  }
  def.max_columns = static_cast<std::uint16_t>(def.columns.size());
  def.var_columns = var_index;
  std::size_t fixed_part =
      RowFormat(def).EncodedSize(std::vector<ColumnSlice>(def.columns.size()).data());
  if (fixed_part > kMaxRowSize) refuse("its fixed-size columns alone exceed a page");
}

// The indexes: logical index k is backed by real index k, as readers expect, and the logical
// ones are stored sorted by name, as Access stores them.
void DefineIndexes(const NewTable& spec, const TableRefusal& refuse, TableDefinition& def) {
  std::string why;
  for (std::size_t k = 0; k < spec.indexes.size(); ++k) {
    const NewIndex& ni = spec.indexes[k];
    if (!ValidObjectName(ni.name, why)) refuse("index '" + ni.name + "': " + why);
    if (ni.columns.empty() || ni.columns.size() > 10)
      refuse("index '" + ni.name + "' needs 1 to 10 columns");
    RealIndexDefinition ri;
    for (auto& [cname, asc] : ni.columns) {
      const ColumnDefinition* col = def.FindColumn(cname);
      if (!col) refuse("index '" + ni.name + "' names the unknown column '" + cname + "'");
      if (col->type == column_type::kOle)
        refuse("index '" + ni.name + "': OLE columns cannot be indexed");
      ri.columns.push_back(IndexColumn{col->number, asc});
    }
    ri.flags = index_flag::kAccess2000;
    if (ni.unique || ni.primary_key) ri.flags |= index_flag::kUnique;
    if (ni.ignore_nulls) ri.flags |= index_flag::kIgnoreNulls;
    if (ni.required || ni.primary_key) ri.flags |= index_flag::kRequired;
    def.real_indexes.push_back(ri);
    LogicalIndexDefinition li;
    li.name = ni.name;
    li.number = static_cast<std::uint32_t>(k);
    li.real_index = static_cast<std::uint32_t>(k);
    li.fk_cascade_update = 0x04;
    li.fk_cascade_delete = 0x04;
    li.kind = ni.primary_key ? index_kind::kPrimaryKey : index_kind::kNormal;
    def.indexes.push_back(li);
  }
  std::stable_sort(def.indexes.begin(), def.indexes.end(),
                   [](const auto& a, const auto& b) { return IndexNameLess(a.name, b.name); });
}

// How many pages the definition takes, its long-value map entries included.
std::size_t TableDefinitionPages(const TableDefinition& def) {
  std::vector<std::uint8_t> probe = SerializeTableDefinition(def);
  const std::size_t body = kJet4PageSize - TdefLayout::kPageHeaderSize;
  // Long-value map entries are added when the pages are placed; count them now.
  std::size_t lv = 0;
  for (const auto& c : def.columns) lv += c.IsLongValue() ? TdefLayout::kLvEntrySize : 0;
  std::size_t total = probe.size() + lv;
  return 1 + (total > kJet4PageSize ? (total - kJet4PageSize + body - 1) / body : 0);
}

// Pages for a new table: the definition first, then the map page(s), then the index roots; the
// definition is written last, naming every page.
void PlaceNewTable(Pager& pager, TableDefinition& def) {
  const std::size_t tdef_pages = TableDefinitionPages(def);
  for (std::size_t i = 0; i < tdef_pages; ++i)
    def.pages.push_back(pager.Allocate(nullptr).Number());
  const std::uint32_t table_page = def.pages[0];

  std::size_t map_rows = 2 + def.real_indexes.size();
  for (const auto& c : def.columns) map_rows += c.IsLongValue() ? 2 : 0;
  std::vector<RowPointer> rows;
  for (std::size_t done = 0; done < map_rows;) {
    int here = static_cast<int>(std::min<std::size_t>(kMaxMapRowsPerPage, map_rows - done));
    PageRef mp = pager.Allocate(nullptr);
    FormatMapPage(mp.MutableData(), here);
    for (int r = 0; r < here; ++r)
      rows.push_back(RowPointer{mp.Number(), static_cast<std::uint8_t>(r)});
    done += here;
  }
  std::size_t next_row = 0;
  def.owned_map = rows[next_row++];
  def.free_map = rows[next_row++];
  for (auto& ri : def.real_indexes) ri.usage_map = rows[next_row++];
  for (auto& c : def.columns) {
    if (!c.IsLongValue()) continue;
    c.has_lv_maps = true;
    c.lv_owned_map = rows[next_row++];
    c.lv_free_map = rows[next_row++];
  }
  for (auto& ri : def.real_indexes) {
    PageRef root = pager.Allocate(&pager.Map(ri.usage_map));
    FormatEmptyLeaf(root.MutableData(), table_page);
    ri.root_page = root.Number();
  }
  WriteTableDefinition(pager, def);
}

// Properties kept in the catalog row's blob.
PropertyBlob NewTableProperties(const NewTable& spec) {
  PropertyBlob blob;
  if (!spec.description.empty())
    blob.Get("").properties.push_back(Property::Text("Description", spec.description, true, true));
  for (const auto& c : spec.columns) {
    std::vector<Property> props;
    if (c.required) props.push_back(Property::Boolean("Required", true, true));
    if (c.type == column_type::kText || c.type == column_type::kMemo)
      props.push_back(Property::Boolean("AllowZeroLength", c.allow_zero_length, true));
    if (!c.default_value.empty())
      props.push_back(Property::Text("DefaultValue", c.default_value, true, true));
    if (!c.format.empty()) props.push_back(Property::Text("Format", c.format, true));
    if (!c.caption.empty()) props.push_back(Property::Text("Caption", c.caption, false));
    if (!c.description.empty())
      props.push_back(Property::Text("Description", c.description, true, true));
    if (!props.empty()) blob.Get(c.name).properties = std::move(props);
  }

  return blob;
}

}  // namespace

Table& Database::ApplyCreateTable(const NewTable& spec) {
  if (ReadOnly()) ThrowJet(ErrorCode::kReadOnly, path_ + ": the database is open for reading only");
  const TableRefusal refuse{path_, spec.name};
  std::string why;
  if (!ValidObjectName(spec.name, why)) refuse(why);
  if (FindObject(spec.name)) {
    ThrowJet(ErrorCode::kAlreadyExists, path_ + ": cannot create table '" + spec.name +
                                            "': an object of that name exists already");
  }
  if (spec.columns.empty()) refuse("a table needs at least one column");
  if (spec.columns.size() > 255) refuse("a table has at most 255 columns");
  if (spec.indexes.size() > 32) refuse("a table has at most 32 indexes");

  TableDefinition def;
  def.table_type = kUserTable;
  DefineColumns(spec, header_.sort_order, refuse, def);
  DefineIndexes(spec, refuse, def);
  PlaceNewTable(*pager_, def);
  const std::uint32_t table_page = def.pages[0];
  const PropertyBlob blob = NewTableProperties(spec);

  Table& objects = SystemTable("MSysObjects", 2);
  std::vector<core::Variant> v(objects.Definition().columns.size());
  double now = NowAsDate();
  v[objects.ColumnIndex("Id")] = core::Variant::FromLong(static_cast<std::int32_t>(table_page));
  v[objects.ColumnIndex("ParentId")] = core::Variant::FromLong(TablesContainerId());
  v[objects.ColumnIndex("Name")] = core::Variant::FromString(spec.name);
  v[objects.ColumnIndex("Type")] = core::Variant::FromInteger(object_type::kTable);
  v[objects.ColumnIndex("DateCreate")] = core::Variant::FromDate(now);
  v[objects.ColumnIndex("DateUpdate")] = core::Variant::FromDate(now);
  v[objects.ColumnIndex("Owner")] = core::Variant::FromBytes(OwnerSid());
  v[objects.ColumnIndex("Flags")] = core::Variant::FromLong(0);
  if (!blob.maps.empty())
    v[objects.ColumnIndex("LvProp")] = core::Variant::FromBytes(EncodePropertyBlob(blob));
  RowPointer catalog_row = objects.Insert(v);
  InsertAces(static_cast<std::int32_t>(table_page));

  std::unique_ptr<Table> t(new Table(*this, spec.name, std::move(def), catalog_row));
  return *tables_.emplace(table_page, std::move(t)).first->second;
}

void Database::ApplyDropTable(std::string_view name) {
  if (ReadOnly()) ThrowJet(ErrorCode::kReadOnly, path_ + ": the database is open for reading only");
  std::optional<CatalogEntry> e = FindObject(name);
  if (!e || !e->IsTable())
    ThrowJet(ErrorCode::kNotFound, path_ + ": there is no table '" + std::string(name) + "'");
  if (e->IsSystem())
    ThrowJet(ErrorCode::kInvalidDefinition,
             path_ + ": '" + e->name + "' is a system table and cannot be dropped");
  // A table that relationships refer to stays: dropping it would leave them dangling.
  {
    Table& rels = SystemTable("MSysRelationships", 5);
    int obj = rels.ColumnIndex("szObject"), ref = rels.ColumnIndex("szReferencedObject");
    auto scan = rels.StartScan();
    while (obj >= 0 && ref >= 0 && scan.Next()) {
      core::Variant a = scan.Value(obj), b = scan.Value(ref);
      if ((!a.IsNull() && NamesEqual(a.ToString(), e->name)) ||
          (!b.IsNull() && NamesEqual(b.ToString(), e->name)))
        ThrowJet(ErrorCode::kInvalidDefinition,
                 path_ + ": table '" + e->name +
                     "' is part of a relationship; delete the relationship first");
    }
  }
  const std::uint32_t table_page = e->TableDefinitionPage();
  TableDefinition def = ReadTableDefinition(*pager_, table_page, e->name);
  tables_.erase(table_page);
  Pager& pager = *pager_;

  // Every page the table owns, then the map rows themselves, then its definition.
  auto release_listed = [&](RowPointer where, auto&& belongs) {
    if (where.IsNull()) return;
    UsageMap& map = pager.Map(where);
    for (std::uint32_t p : map.Pages().ToVector()) {
      if (p < 2 || p >= pager.PageCount() || pager.IsFree(p)) {
        map.Remove(p);
        continue;
      }
      bool ours;
      {
        PageRef page = pager.Read(p);
        ours = belongs(page.Data());
      }
      if (ours)
        pager.Release(p, &map);
      else
        map.Remove(p);
    }
  };
  auto is_data = [&](const std::uint8_t* d) {
    return d[0] == page_type::kData && Le32(d + DataPageLayout::kOwner) == table_page;
  };
  auto is_lval = [&](const std::uint8_t* d) {
    return d[0] == page_type::kData && Le32(d + DataPageLayout::kOwner) == kLongValueOwner;
  };
  auto is_index = [&](const std::uint8_t* d) {
    return (d[0] == page_type::kIndexLeaf || d[0] == page_type::kIndexNode) &&
           Le32(d + 4) == table_page;
  };
  std::vector<RowPointer> map_rows = {def.owned_map, def.free_map};
  release_listed(def.owned_map, is_data);
  for (const auto& ri : def.real_indexes) {
    release_listed(ri.usage_map, is_index);
    map_rows.push_back(ri.usage_map);
  }
  for (const auto& c : def.columns) {
    if (!c.has_lv_maps) continue;
    release_listed(c.lv_owned_map, is_lval);
    map_rows.push_back(c.lv_owned_map);
    map_rows.push_back(c.lv_free_map);
  }
  FreeMapRows(map_rows);
  for (std::uint32_t p : def.pages) pager.Release(p, nullptr);

  Table& aces = SystemTable("MSysACEs", 3);
  int oid = aces.ColumnIndex("ObjectId");
  std::vector<RowPointer> ace_rows;
  {
    auto scan = aces.StartScan();
    while (oid >= 0 && scan.Next()) {
      core::Variant v = scan.Value(oid);
      if (!v.IsNull() && v.ToLong() == e->id) ace_rows.push_back(scan.Position());
    }
  }
  for (RowPointer r : ace_rows) aces.Delete(r);
  SystemTable("MSysObjects", 2).Delete(e->row);
}

}  // namespace jet
