// Indexes added to and dropped from tables that exist: built over the rows already there,
// kept up to date afterwards, refused without a trace, shared as Access shares them, and
// definitions that grow past a page and shrink back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "btree.h"
#include "database_internal.h"
#include "index_check.h"
#include "jet/check.h"
#include "jet/database.h"
#include "jet/index_info.h"
#include "jet_test_util.h"

namespace jet {
namespace {

using core::Variant;
namespace ct = column_type;

struct Memory {
  core::MemoryFileSystem fs;
  OpenOptions Options(bool read_only = false) {
    return {.read_only = read_only, .file_system = &fs};
  }
};

void ExpectClean(Database& db) {
  for (const auto& p : CheckDatabase(db).problems) ADD_FAILURE() << p;
}

NewIndex Index(std::string name, std::vector<std::pair<std::string, bool>> columns,
               bool unique = false) {
  NewIndex index;
  index.name = std::move(name);
  index.columns = std::move(columns);
  index.unique = unique;
  return index;
}

NewIndex PrimaryKey(std::string column) {
  NewIndex index = Index("PrimaryKey", {{std::move(column), true}});
  index.primary_key = true;
  return index;
}

// The people table: ID 1..n unique, names and cities repeating, some Nulls, Czech text,
// memos of every storage kind.
NewTable PeopleSpec() {
  return {"People",
          {{.name = "ID", .type = ct::kLong},
           {.name = "Name", .type = ct::kText, .size = 60},
           {.name = "City", .type = ct::kText, .size = 30},
           {.name = "Born", .type = ct::kDateTime},
           {.name = "Score", .type = ct::kDouble},
           {.name = "Active", .type = ct::kBoolean},
           {.name = "Note", .type = ct::kMemo},
           {.name = "Photo", .type = ct::kOle}},
          {},
          ""};
}

std::vector<Variant> Person(int id) {
  static const char* names[] = {"Novák", "novák", "Dvořák", "Černý", "Šťastná", "Zelený"};
  static const char* cities[] = {"Praha", "Brno", "Plzeň", "Ústí"};
  Variant note = id % 5 == 0   ? Variant::Null()
                 : id % 5 == 1 ? Variant::FromString("krátká " + std::to_string(id % 40))
                               : Variant::FromString(std::string(200 + id % 3000, 'n'));
  return {Variant::FromLong(id),
          id % 17 == 0
              ? Variant::Null()
              : Variant::FromString(std::string(names[id % 6]) + " " + std::to_string(id % 97)),
          id % 11 == 0 ? Variant::Null() : Variant::FromString(cities[id % 4]),
          Variant::FromDate(testing::Date(1900 + id % 150, 1 + id % 12, 1 + id % 28)),
          Variant::FromDouble((id % 13) * 0.5),
          Variant::FromBoolean(id % 3 == 0),
          note,
          Variant::Null()};
}

Table& FillPeople(Database& db, int rows) {
  Table& t = db.CreateTable(PeopleSpec());
  for (int id = 1; id <= rows; ++id) t.Insert(Person(id));
  return t;
}

JetError Refusal(const std::function<void()>& f) {
  try {
    f();
  } catch (const JetError& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return JetError(ErrorCode::kGeneral, "(no error)");
}

std::vector<std::string> LogicalNames(const TableDefinition& def) {
  std::vector<std::string> out;
  for (const auto& li : def.indexes) out.push_back(li.name);
  return out;
}

// mdbtools reads real index k as the one of the logical index numbered k (these tables
// have no relationships).
void ExpectReadersPairIndexes(const TableDefinition& def) {
  std::vector<bool> paired(def.real_indexes.size(), false);
  for (const auto& li : def.indexes) {
    if (li.number < def.real_indexes.size() && li.real_index == li.number) paired[li.number] = true;
  }
  for (std::size_t k = 0; k < paired.size(); ++k)
    EXPECT_TRUE(paired[k]) << "no logical index numbered " << k << " uses real index " << k;
}

TEST(AddIndex, IndexesTheRowsThereAndFollowLaterChanges) {
  Memory m;
  {
    auto db = Database::Create("a.mdb", m.Options());
    Table& t = FillPeople(*db, 2000);
    NewIndex by_note = Index("ByNote", {{"Note", true}});
    by_note.ignore_nulls = true;
    db->AddIndex("people", PrimaryKey("ID"));
    db->AddIndex("People", Index("ByName", {{"Name", true}, {"Born", false}}));
    db->AddIndex("People", by_note);
    db->AddIndex("People", Index("ByCityActive", {{"City", true}, {"Active", true}}));
    ExpectClean(*db);

    std::map<std::string, std::uint64_t> entries;
    for (const auto& c : CheckTableIndexes(*db, t)) entries[c.index] = c.entries;
    EXPECT_EQ(entries["PrimaryKey"], 2000u);
    EXPECT_EQ(entries["ByName"], 2000u);
    EXPECT_EQ(entries["ByNote"], 1600u);  // every fifth row has no note
    EXPECT_EQ(entries["ByCityActive"], 2000u);

    // The primary key in its own order: the IDs ascending.
    IndexTree tree(
        PageCacheOf(*db),
        DescribeIndex(t.Definition(), t.Definition().real_indexes.size() - 4, db->Path(), t.Name()),
        {db->Path(), t.Name()});
    IndexCursor cursor(tree);
    std::int32_t expected_id = 0;
    for (bool ok = cursor.First(); ok; ok = cursor.Next()) {
      RowPointer where{cursor.Row().page, cursor.Row().row};
      EXPECT_EQ(t.Read(where)[0].ToLong(), ++expected_id);
    }
    EXPECT_EQ(expected_id, 2000);

    // The new indexes are maintained like any other from now on.
    std::vector<RowPointer> rows;
    for (auto scan = t.StartScan(); scan.Next();) rows.push_back(scan.Position());
    for (int id = 2001; id <= 2100; ++id) t.Insert(Person(id));
    for (std::size_t i = 0; i < rows.size(); i += 7) {
      std::vector<Variant> change(8);
      change[1] = Variant::FromString("Přejmenovaný " + std::to_string(i));
      change[6] = i % 2 ? Variant::Null() : Variant::FromString(std::string(5000, 'x'));
      t.Update(rows[i], change);
    }
    for (std::size_t i = 3; i < rows.size(); i += 5) t.Delete(rows[i]);
    EXPECT_EQ(Refusal([&] { t.Insert(Person(7)); }).Code(), ErrorCode::kDuplicateKey);
    ExpectClean(*db);
    db->Close();
  }
  auto db = Database::Open("a.mdb", m.Options(true));
  const TableDefinition& def = db->OpenTable("People").Definition();
  EXPECT_EQ(LogicalNames(def),
            (std::vector<std::string>{"ByCityActive", "ByName", "ByNote", "PrimaryKey"}));
  ExpectReadersPairIndexes(def);
  std::map<std::string, std::string> shown;
  for (const auto& info : ListIndexes(def, db->Path(), "People"))
    shown[info.name] = IndexColumnsText(info) + " | " + IndexFlagsText(info);
  EXPECT_EQ(shown["PrimaryKey"], "ID | primary key, unique, required");
  EXPECT_EQ(shown["ByName"], "Name, Born DESC | ");
  EXPECT_EQ(shown["ByNote"], "Note | ignore nulls");
  EXPECT_EQ(shown["ByCityActive"], "City, Active | ");
  ExpectClean(*db);
}

TEST(AddIndex, RefusalsLeaveTheFileAsItWas) {
  Memory m;
  {
    auto db = Database::Create("r.mdb", m.Options());
    FillPeople(*db, 300);
    db->AddIndex("People", Index("ByName", {{"Name", true}}));
    // Free pages, so that a refused build takes and gives back a page without growing the file.
    db->CreateTable({"Scratch", {{.name = "X", .type = ct::kLong}}, {}, ""});
    db->DropTable("Scratch");
    db->Close();
  }
  NewIndex pk = PrimaryKey("ID");
  NewIndex required = Index("NameRequired", {{"Name", true}});
  required.required = true;
  NewIndex eleven = Index("Wide", {});
  for (int i = 0; i < 11; ++i) eleven.columns.push_back({i % 2 ? "ID" : "City", true});
  struct Case {
    const char* what;
    const char* table;
    NewIndex index;
    ErrorCode code;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"name in use, in any case", "People", Index("byname", {{"City", true}}),
       ErrorCode::kAlreadyExists, "index of that name already"},
      {"unknown column", "People", Index("X", {{"Nope", true}}), ErrorCode::kNotFound, "'Nope'"},
      {"OLE column", "People", Index("X", {{"Photo", true}}), ErrorCode::kInvalidDefinition,
       "cannot be indexed"},
      {"column twice", "People", Index("X", {{"City", true}, {"city", false}}),
       ErrorCode::kInvalidDefinition, "twice"},
      {"no columns", "People", Index("X", {}), ErrorCode::kInvalidDefinition, "1 to 10"},
      {"eleven columns", "People", eleven, ErrorCode::kInvalidDefinition, "1 to 10"},
      {"bad name", "People", Index("a.b", {{"City", true}}), ErrorCode::kInvalidDefinition, "'.'"},
      {"unknown table", "Nobody", Index("X", {{"City", true}}), ErrorCode::kNotFound, "'Nobody'"},
      {"system table", "MSysObjects", Index("X", {{"Name", true}}), ErrorCode::kInvalidDefinition,
       "system table"},
      {"duplicates in a unique index", "People", Index("UniqueCity", {{"City", true}}, true),
       ErrorCode::kDuplicateKey, kDuplicateKeyMessage},
      {"Nulls in a required index", "People", required, ErrorCode::kNullNotAllowed,
       kNullKeyMessage},
      {"Nulls in a primary key", "People", PrimaryKey("Name"), ErrorCode::kNullNotAllowed,
       kNullKeyMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = m.fs.Contents("r.mdb");
    {
      auto db = Database::Open("r.mdb", m.Options());
      JetError e = Refusal([&] { db->AddIndex(c.table, c.index); });
      EXPECT_EQ(e.Code(), c.code) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      db->Close();
    }
    EXPECT_TRUE(m.fs.Contents("r.mdb") == before) << "the file changed";
  }
  // A second primary key: the first must be dropped before.
  auto db = Database::Open("r.mdb", m.Options());
  db->AddIndex("People", pk);
  JetError e = Refusal([&] { db->AddIndex("People", PrimaryKey("Score")); });
  EXPECT_EQ(e.Code(), ErrorCode::kAlreadyExists);
  EXPECT_NE(std::string(e.what()).find("'PrimaryKey'"), std::string::npos) << e.what();
  ExpectClean(*db);
}

TEST(AddIndex, TextInAnOrderWithoutKnownKeysIsRefusedBeforeAnythingChanges) {
  Memory m;
  {
    auto db = Database::Create("s.mdb", m.Options());
    FillPeople(*db, 50);
    db->Close();
  }
  // Make City a column in the Hungarian sort order (1038), as Hungarian Access writes it:
  // its keys are not known.
  {
    auto db = Database::Open("s.mdb", m.Options(true));
    const TableDefinition& def = db->OpenTable("People").Definition();
    std::size_t position = def.FindColumn("City") - def.columns.data();
    std::size_t at = def.sections.columns + position * TdefLayout::kColumnSize + 11;
    ASSERT_LT(at, 4096u);
    std::uint32_t page = def.FirstPage();
    db->Close();
    auto bytes = m.fs.Contents("s.mdb");
    PutLe16(bytes.data() + page * 4096 + at, 1038);
    m.fs.SetContents("s.mdb", bytes);
  }
  const auto before = m.fs.Contents("s.mdb");
  {
    auto db = Database::Open("s.mdb", m.Options());
    JetError e = Refusal([&] {
      db->AddIndex("People", Index("ByCity", {{"ID", true}, {"City", true}}));
    });
    EXPECT_EQ(e.Code(), ErrorCode::kGeneral);
    EXPECT_NE(std::string(e.what()).find("Hungarian (1038)"), std::string::npos) << e.what();
    db->Close();
  }
  EXPECT_TRUE(m.fs.Contents("s.mdb") == before);
  // Columns in the General order still take indexes.
  auto db = Database::Open("s.mdb", m.Options());
  db->AddIndex("People", Index("ByName", {{"Name", true}}));
  ExpectClean(*db);
}

TEST(AddIndex, AnIdenticalIndexSharesTheTreeUntilBothAreGone) {
  Memory m;
  auto db = Database::Create("sh.mdb", m.Options());
  Table& t = FillPeople(*db, 500);
  db->AddIndex("People", Index("Id1", {{"ID", true}}, true));
  db->AddIndex("People", Index("Id2", {{"ID", true}}, true));       // shares Id1's tree
  db->AddIndex("People", Index("IdPlain", {{"ID", true}}, false));  // other flags: own tree
  const TableDefinition& def = t.Definition();
  ASSERT_EQ(def.indexes.size(), 3u);
  ASSERT_EQ(def.real_indexes.size(), 2u);
  auto real_of = [&](const char* name) {
    for (const auto& li : def.indexes)
      if (li.name == name) return li.real_index;
    return 99u;
  };
  EXPECT_EQ(real_of("Id1"), real_of("Id2"));
  EXPECT_NE(real_of("Id1"), real_of("IdPlain"));
  ExpectReadersPairIndexes(def);
  ExpectClean(*db);

  const std::uint32_t shared_root = def.real_indexes[real_of("Id1")].root_page;
  db->DropIndex("People", "Id1");
  EXPECT_FALSE(PageCacheOf(*db).IsFree(shared_root));
  EXPECT_EQ(Refusal([&] { t.Insert(Person(5)); }).Code(), ErrorCode::kDuplicateKey);
  ExpectClean(*db);
  db->DropIndex("People", "ID2");
  EXPECT_TRUE(PageCacheOf(*db).IsFree(shared_root));
  EXPECT_EQ(LogicalNames(t.Definition()), std::vector<std::string>{"IdPlain"});
  t.Insert(Person(5));  // no unique index left
  ExpectClean(*db);
}

TEST(DropIndex, FreesTheTreeRenumbersAndAllowsANewPrimaryKey) {
  Memory m;
  auto db = Database::Create("d.mdb", m.Options());
  Table& t = FillPeople(*db, 3000);
  db->AddIndex("People", PrimaryKey("ID"));
  db->AddIndex("People", Index("ByName", {{"Name", true}}));
  db->AddIndex("People", Index("ByBorn", {{"Born", false}}));
  std::size_t by_name = 0;
  while (t.Definition().indexes[by_name].name != "ByName") ++by_name;
  const RealIndexDefinition gone =
      t.Definition().real_indexes[t.Definition().indexes[by_name].real_index];
  const PageSet pages = PageCacheOf(*db).LoadMapPages(gone.usage_map);
  ASSERT_GT(pages.Count(), 3u);

  db->DropIndex("People", "byname");
  for (std::uint32_t p : pages.ToVector()) EXPECT_TRUE(PageCacheOf(*db).IsFree(p)) << p;
  EXPECT_EQ(LogicalNames(t.Definition()), (std::vector<std::string>{"ByBorn", "PrimaryKey"}));
  ExpectReadersPairIndexes(t.Definition());
  ExpectClean(*db);

  // The primary key moves to another column: dropped, then added again.
  db->DropIndex("People", "PrimaryKey");
  std::vector<Variant> twin = Person(1);
  twin[3] = Variant::FromDate(testing::Date(2001, 2, 3));
  t.Insert(twin);  // a duplicate ID is fine without the key
  NewIndex pk = PrimaryKey("Born");
  pk.columns.push_back({"ID", true});
  EXPECT_EQ(Refusal([&] { db->AddIndex("People", PrimaryKey("ID")); }).Code(),
            ErrorCode::kDuplicateKey);
  db->AddIndex("People", pk);
  const auto infos = ListIndexes(t.Definition(), db->Path(), "People");
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[1].name, "PrimaryKey");
  EXPECT_TRUE(infos[1].primary_key);
  EXPECT_EQ(IndexColumnsText(infos[1]), "Born, ID");
  ExpectClean(*db);

  JetError e = Refusal([&] { db->DropIndex("People", "ByName"); });
  EXPECT_EQ(e.Code(), ErrorCode::kNotFound);
  EXPECT_NE(std::string(e.what()).find("'ByName'"), std::string::npos);
}

TEST(DropIndex, IndexesOfRelationshipsStay) {
  Memory m;
  m.fs.SetContents("rel.mdb", testing::ReadFixture("access/indexTestV2000.mdb"));
  auto db = Database::Open("rel.mdb", m.Options());
  // Table1 refers to Table2 through "Table2Table1"; Table2's primary key is shared by the
  // ".rC" reference the relationship keeps there.
  for (auto [table, index] :
       {std::pair{"Table1", "Table2Table1"}, {"Table2", ".rC"}, {"Table2", "PrimaryKey"}}) {
    JetError e = Refusal([&] { db->DropIndex(table, index); });
    EXPECT_EQ(e.Code(), ErrorCode::kInvalidDefinition) << e.what();
    EXPECT_NE(std::string(e.what()).find("relationship"), std::string::npos) << e.what();
  }
  // Other indexes of such tables come and go; the references keep their numbers.
  std::vector<std::uint32_t> numbers;
  for (const auto& li : db->OpenTable("Table1").Definition().indexes)
    if (li.kind == index_kind::kForeignKey) numbers.push_back(li.number);
  db->AddIndex("Table1", Index("ByData", {{"data", true}}));
  db->DropIndex("Table1", "id");
  std::vector<std::uint32_t> after;
  for (const auto& li : db->OpenTable("Table1").Definition().indexes)
    if (li.kind == index_kind::kForeignKey) after.push_back(li.number);
  EXPECT_EQ(after, numbers);
  ExpectClean(*db);
}

TEST(AddIndex, DroppedAndAddedAgainManyTimesTheFileStaysBounded) {
  Memory m;
  auto db = Database::Create("b.mdb", m.Options());
  FillPeople(*db, 3000);
  std::size_t size = 0;
  for (int round = 0; round < 60; ++round) {
    db->AddIndex("People", Index("ByName", {{"Name", true}, {"City", false}}));
    db->AddIndex("People", Index("ById", {{"ID", true}}, true));
    db->DropIndex("People", "ByName");
    db->DropIndex("People", "ById");
    db->Flush();
    // The first rounds may leave a few free pages behind (pages freed by one round are
    // spread over the file, and a tree over them can need a bitmap page for its map);
    // after that every round takes exactly what the one before gave back.
    if (round == 2) size = m.fs.Contents("b.mdb").size();
    if (round > 2) {
      ASSERT_EQ(m.fs.Contents("b.mdb").size(), size) << "round " << round;
    }
  }
  ExpectClean(*db);
}

TEST(AddIndex, DefinitionsGrowOntoMorePagesAndShrinkBackByteForByte) {
  Memory m;
  auto db = Database::Create("g.mdb", m.Options());
  NewTable spec{"Wide", {}, {}, ""};
  // 150 columns with long names: a definition of about 16 KB, five pages.
  for (int i = 0; i < 150; ++i)
    spec.columns.push_back({.name = "Sloupec s velmi dlouhým jménem číslo " + std::to_string(i),
                            .type = i % 3 ? ct::kLong : ct::kText,
                            .size = 20});
  Table& t = db->CreateTable(spec);
  for (int r = 0; r < 200; ++r) {
    std::vector<Variant> row(150);
    for (int i = 0; i < 150; ++i)
      row[i] = i % 3 ? Variant::FromLong(r * i) : Variant::FromString(std::to_string(r % 7));
    t.Insert(row);
  }
  db->Flush();
  const auto original = ReadTableDefinitionBytes(PageCacheOf(*db), t.Definition());
  const std::vector<std::uint32_t> original_pages = t.Definition().pages;
  const std::size_t body = 4096 - TdefLayout::kPageHeaderSize;
  const std::size_t room =
      original_pages.size() * body + TdefLayout::kPageHeaderSize - original.size();

  // Enough indexes to need another page; each new index costs 12 + 52 + 28 bytes and its name.
  std::vector<std::string> added;
  for (int k = 0; added.empty() || (added.size() * 120 < room + 300 && k < 30); ++k) {
    std::string name = "Index number " + std::to_string(k);
    db->AddIndex("Wide", Index(name, {{spec.columns[k * 5 % 150].name, k % 2 == 0},
                                      {spec.columns[(k * 5 + 1) % 150].name, true}}));
    added.push_back(name);
  }
  EXPECT_GT(t.Definition().pages.size(), original_pages.size());
  ExpectClean(*db);
  db->Close();
  db = Database::Open("g.mdb", m.Options());
  EXPECT_EQ(db->OpenTable("Wide").Definition().indexes.size(), added.size());
  for (const auto& name : added) db->DropIndex("Wide", name);
  Table& again = db->OpenTable("Wide");
  EXPECT_EQ(again.Definition().pages, original_pages);
  EXPECT_TRUE(ReadTableDefinitionBytes(PageCacheOf(*db), again.Definition()) == original);
  ExpectClean(*db);
}

}  // namespace
}  // namespace jet
