// The machinery of a recordset: its rows, its cursor and its edit buffer. Private.
//
// A recordset and its clones share one RowSet: the rows as the recordset knows them, in
// recordset order, each either a base-table row (a locator with its generation, read on
// demand: dynaset and table-type) or copied values (snapshot rows once reached, and rows of
// sources that are no single table). A bookmark is the row's ordinal in the RowSet plus
// one, so it is non-zero, unique per record, stable for the life of the recordset and shared
// with its clones.
//
// Positions: table-type recordsets with an Index walk the rows in key order (see IndexOrder);
// every other recordset walks them in RowSet order, so position and ordinal coincide.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/index_cursor.h"
#include "jetsql/expression.h"
#include "jetsql/select.h"
#include "state.h"

namespace dao::detail {

struct ColumnInfo {
  std::string name;
  int type = dbText;  // DAO type code
  std::int32_t size = 0;
  std::int32_t attributes = 0;
  int storage = -1;  // position in the base table's Definition().columns; -1: none
  bool updatable = false;
  bool auto_increment = false;
  std::string source_table;
  std::string source_field;
};

// Base-table rows by ordinal, in fixed chunks (a recordset that millions of rows are appended
// through grows without copying). A chunk is filled as four bytes per row; once full it is
// packed into runs of consecutive locators when that takes less than half the room. Rows
// appended to a table or read by a scan come a page at a time with consecutive locators, so a
// recordset's memory stays flat however many rows pass through it, while rows in no such order
// (a sorted statement's) keep the plain form. Generations are almost always 0 and are kept
// apart.
class RowRefs {
 public:
  std::size_t size() const { return size_; }
  RowRef operator[](std::size_t ordinal) const {
    RowRef r{Ptr(ordinal), 0};
    if (!gens_.empty()) {
      auto it = gens_.find(ordinal);
      if (it != gens_.end()) r.gen = it->second;
    }
    return r;
  }
  void push_back(RowRef r) {
    if (size_ % kChunk == 0) {
      if (!chunks_.empty()) chunks_.back().Pack();
      chunks_.emplace_back();
    }
    if (ascending_ == size_ && (size_ == 0 || r.ptr > Ptr(size_ - 1))) ++ascending_;
    chunks_.back().plain[size_ % kChunk] = r.ptr;
    if (r.gen != 0) gens_[size_] = r.gen;
    ++size_;
  }
  // Bytes held for the locators (generations apart).
  std::size_t LocatorBytes() const {
    std::size_t bytes = 0;
    for (const Chunk& c : chunks_)
      bytes += c.plain ? kChunk * sizeof(std::uint32_t)
                       : c.run_start.capacity() * sizeof(std::uint16_t) +
                             c.run_ptr.capacity() * sizeof(std::uint32_t);
    return bytes;
  }
  // How many leading ordinals have strictly ascending locators: a table's rows as a scan
  // gives them are, and so are rows added after them at higher locators.
  std::size_t Ascending() const { return ascending_; }
  // The ordinal below Ascending() that holds this locator. A table's locators spread about
  // evenly over its pages, so a guess from the first and last ones lands close; the search
  // gallops out from the guess to bracket the locator and halves the bracket, which keeps
  // it near the guess in memory and logarithmic however the locators spread.
  std::optional<std::size_t> FindAscending(std::uint32_t ptr) const {
    const std::size_t n = ascending_;
    if (n == 0 || ptr < Ptr(0) || ptr > Ptr(n - 1)) return std::nullopt;
    const std::uint32_t first = Ptr(0), last = Ptr(n - 1);
    const std::size_t guess =
        last > first ? static_cast<std::size_t>(static_cast<std::uint64_t>(ptr - first) * (n - 1) /
                                                (last - first))
                     : 0;
    std::size_t lo = 0, hi = n;  // the first ordinal whose locator is >= ptr is in [lo, hi]
    if (Ptr(guess) < ptr) {
      lo = guess + 1;
      for (std::size_t step = 1; guess + step < n; step *= 2) {
        if (Ptr(guess + step) >= ptr) {
          hi = guess + step;
          break;
        }
        lo = guess + step + 1;
      }
    } else {
      hi = guess;
      for (std::size_t step = 1; step <= guess; step *= 2) {
        if (Ptr(guess - step) < ptr) {
          lo = guess - step + 1;
          break;
        }
        hi = guess - step;
      }
    }
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (Ptr(mid) < ptr)
        lo = mid + 1;
      else
        hi = mid;
    }
    if (lo < n && Ptr(lo) == ptr) return lo;
    return std::nullopt;
  }

 private:
  static constexpr std::size_t kChunk = 16384;
  struct Chunk {
    std::unique_ptr<std::uint32_t[]> plain = std::make_unique<std::uint32_t[]>(kChunk);
    // Packed form: run i starts at offset run_start[i] in the chunk with locator run_ptr[i]
    // and goes on with the next locators up to the next run's start.
    std::vector<std::uint16_t> run_start;
    std::vector<std::uint32_t> run_ptr;

    std::uint32_t At(std::size_t offset) const {
      if (plain) return plain[offset];
      const auto it = std::upper_bound(run_start.begin(), run_start.end(), offset) - 1;
      const std::size_t i = static_cast<std::size_t>(it - run_start.begin());
      return run_ptr[i] + static_cast<std::uint32_t>(offset - *it);
    }
    void Pack() {
      std::size_t runs = 1;
      for (std::size_t i = 1; i < kChunk; ++i)
        if (plain[i] != plain[i - 1] + 1) ++runs;
      if (runs * (sizeof(std::uint16_t) + sizeof(std::uint32_t)) * 2 >
          kChunk * sizeof(std::uint32_t))
        return;
      run_start.reserve(runs);
      run_ptr.reserve(runs);
      for (std::size_t i = 0; i < kChunk; ++i) {
        if (i != 0 && plain[i] == plain[i - 1] + 1) continue;
        run_start.push_back(static_cast<std::uint16_t>(i));
        run_ptr.push_back(plain[i]);
      }
      plain.reset();
    }
  };
  static_assert(kChunk - 1 <= UINT16_MAX, "run offsets are 16-bit");

  std::uint32_t Ptr(std::size_t ordinal) const {
    return chunks_[ordinal / kChunk].At(ordinal % kChunk);
  }
  std::vector<Chunk> chunks_;
  std::unordered_map<std::size_t, std::uint32_t> gens_;
  std::size_t size_ = 0;
  std::size_t ascending_ = 0;
};

struct RowSet {
  std::shared_ptr<DatabaseState> db;
  TableState* table = nullptr;  // base table; null when the rows are values only
  std::vector<ColumnInfo> columns;
  RowRefs refs;                                    // base-table rows, by ordinal
  std::vector<std::vector<core::Variant>> values;  // copied rows, by ordinal (may be empty)
  std::vector<std::uint32_t> dead_sorted;          // ordinals known to be deleted, ascending
  bool copy_rows = false;                          // snapshot: rows are copied when reached
  // A statement's result over one table: its rows are read through it (computed columns too).
  std::shared_ptr<jetsql::QueryResult> query;
  std::uint32_t tag = 0;      // bookmark bytes 4..7: the family
  std::uint64_t version = 0;  // bumped by every change through it

  std::size_t Size() const { return copy_rows || table ? refs.size() : values.size(); }
  // Whether the row is there; a base-table row deleted since is marked dead on the way.
  bool Live(std::size_t ordinal);
  bool KnownDead(std::size_t ordinal) const {
    return !dead_sorted.empty() && std::binary_search(dead_sorted.begin(), dead_sorted.end(),
                                                      static_cast<std::uint32_t>(ordinal));
  }
  void MarkDead(std::size_t ordinal);
  std::size_t DeadBelow(std::size_t ordinal) const;
  // The row's values in column order (storage form: GUIDs as 16 bytes). Raises 3167 for a
  // row deleted since.
  // A row as the storage gives it (a statement's columns, or the table's in storage order;
  // moved from) into the recordset's columns.
  void FromStorage(std::vector<core::Variant>& stored, std::vector<core::Variant>& out) const;
  const std::vector<core::Variant>& Row(std::size_t ordinal, std::vector<core::Variant>& scratch,
                                        EngineState& engine, std::string_view source);
  std::size_t Append(RowRef ref);
};

// Key order of a table-type recordset with a current index.
//
// Jet 4 (`cursor` set): the order is the index's own B-tree, walked with a cursor; nothing
// about the rows is loaded when the index is set. The position of an indexed recordset is
// the current record's index entry (`entry`: key + row pointer) and `cur` holds that
// record's ordinal rather than a position number. Moving re-finds `entry` in the tree (a
// cheap check while the cursor is still on it, else one descent) and steps from there, so
// rows added, changed or deleted by anyone since (the table keeps its trees in step with
// its rows) take their places without anything here being told. A record whose entry is
// gone (deleted, or its key changed elsewhere) still has a place: the one its old entry
// had. Row pointers map back to ordinals without a table of their own: the ordinals a scan
// filled have ascending row pointers (RowRefs::FindAscending searches them), and the few
// added later out of that order are kept in `late`, filled as they are first needed. A row
// the RowSet has never seen (added through another recordset) joins it as a new ordinal
// when the walk reaches it. What needs a record's rank in the order (PercentPosition) counts
// the leaves before it, and Move(n) forward passes whole leaves, by the entry counts of the
// leaf pages (one page per leaf, not a read of the rows). A bookmark costs one row read (its
// key gives its entry). An
// index with IgnoreNulls has no entries for rows whose key columns are all Null, and those
// rows are not in its order.
//
// Jet 3 (no `cursor`; its index pages are not read): the order is built in memory, as the
// keys of every row sorted, in `order`/`keys`, and positions are numbers in it.
struct IndexOrder {
  std::string name;  // the index as DAO names it
  jet::IndexDefinition definition;
  std::unique_ptr<jet::IndexCursor> cursor;  // Jet 4: on the index's B-tree
  std::vector<std::uint8_t> entry;           // the current record's entry
  // Locator -> its newest ordinal, for the ordinals from RowRefs::Ascending() on.
  std::unordered_map<std::uint32_t, std::size_t> late;
  std::size_t late_seen = 0;  // ordinals looked at for `late`
  // Jet 3 only.
  std::vector<std::uint32_t> order;             // position -> ordinal
  std::vector<std::vector<std::uint8_t>> keys;  // position -> key
  std::vector<std::uint32_t> position_of;       // ordinal -> position (rebuilt lazily)
  bool positions_stale = true;
};

struct RecordsetImpl {
  std::shared_ptr<EngineState> engine;
  std::shared_ptr<DatabaseState> db;
  std::shared_ptr<RowSet> rows;
  std::weak_ptr<Recordset> self;
  std::string name;
  int type = dbOpenDynaset;
  int options = 0;
  int lock_edit = dbPessimistic;
  bool updatable = false;
  bool auto_number_values = false;  // AddNew may set AutoNumber columns
  bool lock_edits = true;
  bool closed = false;
  // Where the recordset came from, for Requery.
  std::string source_table;            // base table name
  std::string filter_text, sort_text;  // applied to the source when it was opened
  std::shared_ptr<Recordset> parent;   // opened from another recordset
  bool derived = false;
  std::string source_sql;  // an SQL statement, run again by Requery
  std::vector<QueryParameter> source_parameters;
  std::int64_t max_records = 0;

  // Cursor: on position `cur` unless BOF or EOF; `deleted_current` after Delete.
  bool bof = true;
  bool eof = true;
  std::size_t cur = 0;
  bool deleted_current = false;
  bool positioned = true;  // false for a clone until it is first positioned
  bool no_match = false;
  // RecordCount of dynasets and snapshots: positions reached so far.
  std::size_t high = 0;

  std::optional<IndexOrder> index;

  // The current row's values, read once per position.
  std::vector<core::Variant> current;
  std::size_t current_ordinal = SIZE_MAX;
  std::uint64_t current_version = 0;

  // Edit buffer.
  int edit_mode = dbEditNone;
  std::vector<core::Variant> buffer;
  std::vector<std::uint8_t> touched;
  std::vector<std::uint8_t> chunked;  // AppendChunk: later chunks append
  // The buffer's entry holds this edit's value; an AddNew leaves the others as they were and
  // they count as Null (resetting every field per record is what a copy loop cannot afford).
  std::vector<std::uint8_t> filled;
  std::vector<std::uint8_t> empty_text;       // the buffer holds "" (for AllowZeroLength)
  bool storage_order = false;                 // column c is storage column c: the buffer is the row
  std::size_t last_modified = 0;              // ordinal + 1; 0: none
  std::vector<core::Variant> storage_values;  // scratch for Insert/Update
  std::vector<core::Variant> row_scratch;
  std::vector<core::Variant> inserted;  // the row the last AddNew stored, in storage order
  std::vector<std::optional<jetsql::CompiledExpression>> defaults;  // per column

  std::string filter, sort;  // the properties (they shape the next OpenRecordset)
  std::vector<std::shared_ptr<Field>> fields;

  // ---- helpers ----
  std::string_view Source() const { return source::kRecordset; }
  void CheckOpen() const;
  bool IsTable() const { return type == dbOpenTable; }
  bool IsForwardOnly() const { return type == dbOpenForwardOnly; }
  // An index walked through its B-tree (see IndexOrder): `cur` is an ordinal, and the
  // position helpers below that take position numbers are not used.
  bool OnTree() const { return index && index->cursor; }
  std::size_t PositionCount() const {
    return index && !index->cursor ? index->order.size() : rows->Size();
  }
  std::size_t OrdinalAt(std::size_t position) const {
    return index && !index->cursor ? index->order[position] : position;
  }
  std::optional<std::size_t> PositionOf(std::size_t ordinal);
  bool LiveAt(std::size_t position) { return rows->Live(OrdinalAt(position)); }
  void Land(std::size_t position);
  void Reach(std::size_t position);
  void DiscardEdit() { edit_mode = dbEditNone; }
  std::optional<std::size_t> NextLive(std::size_t from);    // first live >= from
  std::optional<std::size_t> PrevLive(std::size_t before);  // last live < before
  bool AnyLive();
  const std::vector<core::Variant>& CurrentRow(std::string_view source);
  [[noreturn]] void Fail(int number, std::string_view source = {}, std::string_view insert1 = {});
  void RequireCurrent(std::string_view source);
  void RequireType(bool allowed) const;
  core::Variant BookmarkOf(std::size_t ordinal) const;
  std::size_t OrdinalOfBookmark(const core::Variant& bookmark);

  // Field access by recordset column.
  core::Variant Value(int column);
  void SetValue(int column, const core::Variant& value);
  void SetText(int column, std::string_view text);
  void CheckAssignable(int column);
  std::int32_t FieldSize(int column);

  void Initialise();  // fields, defaults, first position
  void LoadIndex(const std::string& name);
  std::vector<std::uint8_t> KeyOfRow(const std::vector<core::Variant>& storage_row);
  void PlaceInIndex(std::size_t ordinal, const std::vector<core::Variant>& storage_row);
  void RemoveFromIndex(std::size_t ordinal);
  // ---- an index walked through its B-tree ----
  // The ordinal of the row at this locator (a row new to the RowSet joins it).
  std::size_t OrdinalOfRow(std::uint32_t ptr);
  // The entry a row has (or would have) in the current index.
  std::vector<std::uint8_t> EntryOfRow(std::size_t ordinal,
                                       const std::vector<core::Variant>& storage_row);
  // Makes the record the cursor is on current.
  void LandOnCursor();
  // Makes this record current, its place in the order found from its values.
  void LandOnRow(std::size_t ordinal);
  // Puts the cursor on the record after (before) the current place: `from_start` (the
  // crack before the first record, or after the last one going back) or the current
  // record's entry. False when there is none.
  bool TreeStep(bool forward, bool from_start);
  // The records before the current one in the order (a walk from the first entry).
  std::size_t TreeRank();
  std::vector<jetsql::ColumnInfo> SqlColumns() const;
};

// Opens a recordset over a local table.
std::shared_ptr<Recordset> OpenTableRecordset(const std::shared_ptr<DatabaseState>& db,
                                              const std::string& table, int type, int options,
                                              int lock_edit, std::string_view source);

// Opens a recordset over an SQL statement (the SQL layer runs it); `parameters` are the
// values of a stored query's parameters by name.
std::shared_ptr<Recordset> OpenSqlRecordset(const std::shared_ptr<DatabaseState>& db,
                                            const std::string& sql, int type, int options,
                                            int lock_edit,
                                            const std::vector<QueryParameter>& parameters,
                                            std::int64_t max_records = 0);
// Runs the statement of an SQL recordset again into fresh rows (Requery).
std::shared_ptr<RowSet> RunSql(RecordsetImpl& recordset);
// Runs an action statement.
void ExecuteSql(const std::shared_ptr<DatabaseState>& db, const std::string& sql, int options);

// Stored queries through the SQL layer.
void LoadStoredQuery(QueryDefState& query);
void StoreQuery(const std::shared_ptr<DatabaseState>& db, QueryDefState& query);
void DeleteStoredQuery(const std::shared_ptr<DatabaseState>& db, const std::string& name);
void ParseQueryParameters(QueryDefState& query);
std::vector<ColumnInfo> QueryColumns(QueryDefState& query);

// Table design changes after the table exists.
void AppendTableDef(const std::shared_ptr<DatabaseState>& db,
                    const std::shared_ptr<TableDefState>& table);
void AddIndexToTable(TableDefState& table, const std::shared_ptr<Index>& index);
void DropIndexFromTable(TableDefState& table, const std::string& name);
void AddFieldToTable(TableDefState& table, const std::shared_ptr<Field>& field);
void DropFieldFromTable(TableDefState& table, const std::string& name);

// The recordset columns of a base table, in the table's column order.
std::vector<ColumnInfo> TableColumns(DatabaseState& db, TableState& table, bool updatable);

}  // namespace dao::detail
