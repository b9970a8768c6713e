// The storage engine through its front door: new databases, the catalog, rows of every
// type, long values, moved rows, dropping tables, locking and bad files.
#include <gtest/gtest.h>

#include <cstring>

#include "database_internal.h"
#include "jet/check.h"
#include "jet/database.h"
#include "jet/header_page.h"
#include "jet_test_util.h"

namespace jet {
namespace {

using core::Variant;
using testing::ReadFixture;

struct Memory {
  core::MemoryFileSystem fs;
  OpenOptions Options(bool read_only = false) {
    return {.read_only = read_only, .file_system = &fs};
  }
};

std::string What(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

void ExpectClean(Database& db) {
  CheckReport report = CheckDatabase(db);
  for (const auto& p : report.problems) ADD_FAILURE() << p;
}

TEST(NewDatabase, HasTheCatalogTheEngineItselfWrites) {
  Memory m;
  Database::Create("new.mdb", m.Options())->Close();
  auto ours = m.fs.Contents("new.mdb");
  auto engine = ReadFixture("adox_jet4.mdb");
  ASSERT_EQ(ours.size(), engine.size());
  // Header, page map, usage maps, the three filled index pages, the catalog and permission
  // rows: the very bytes the engine wrote (the catalog dates are the engine's too).
  for (std::uint32_t page : {0u, 1u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u}) {
    EXPECT_EQ(0, std::memcmp(ours.data() + page * 4096, engine.data() + page * 4096, 4096))
        << "page " << page;
  }
  // The definitions differ only where the engine leaves memory uninitialised, so compare
  // what they say.
  Memory a, b;
  a.fs.SetContents("x.mdb", ours);
  b.fs.SetContents("x.mdb", engine);
  auto mine = Database::Open("x.mdb", a.Options(true));
  auto theirs = Database::Open("x.mdb", b.Options(true));
  for (std::uint32_t page = 2; page <= 5; ++page) {
    SCOPED_TRACE("definition page " + std::to_string(page));
    TableDefinition x = ReadTableDefinition(PageCacheOf(*mine), page);
    TableDefinition y = ReadTableDefinition(PageCacheOf(*theirs), page);
    EXPECT_EQ(x.row_count, y.row_count);
    EXPECT_EQ(x.max_columns, y.max_columns);
    EXPECT_EQ(x.var_columns, y.var_columns);
    EXPECT_EQ(x.owned_map, y.owned_map);
    EXPECT_EQ(x.free_map, y.free_map);
    ASSERT_EQ(x.columns.size(), y.columns.size());
    for (std::size_t i = 0; i < x.columns.size(); ++i) {
      const auto &c = x.columns[i], &d = y.columns[i];
      EXPECT_EQ(c.name, d.name);
      EXPECT_EQ(c.type, d.type);
      EXPECT_EQ(c.number, d.number);
      EXPECT_EQ(c.flags, d.flags);
      EXPECT_EQ(c.length, d.length);
      EXPECT_EQ(0, std::memcmp(c.misc, d.misc, 4));
      EXPECT_EQ(c.IsFixed() ? c.fixed_offset : c.var_index,
                c.IsFixed() ? d.fixed_offset : d.var_index)
          << c.name;
      EXPECT_EQ(c.lv_owned_map, d.lv_owned_map) << c.name;
    }
    ASSERT_EQ(x.real_indexes.size(), y.real_indexes.size());
    for (std::size_t i = 0; i < x.real_indexes.size(); ++i) {
      EXPECT_EQ(x.real_indexes[i].columns, y.real_indexes[i].columns);
      EXPECT_EQ(x.real_indexes[i].root_page, y.real_indexes[i].root_page);
      EXPECT_EQ(x.real_indexes[i].flags, y.real_indexes[i].flags);
      EXPECT_EQ(x.real_indexes[i].distinct_keys, y.real_indexes[i].distinct_keys);
    }
    ASSERT_EQ(x.indexes.size(), y.indexes.size());
    for (std::size_t i = 0; i < x.indexes.size(); ++i) {
      EXPECT_EQ(x.indexes[i].name, y.indexes[i].name);
      EXPECT_EQ(x.indexes[i].kind, y.indexes[i].kind);
      EXPECT_EQ(x.indexes[i].real_index, y.indexes[i].real_index);
    }
  }
  EXPECT_EQ(mine->VersionText(), "4.0");
  EXPECT_EQ(mine->CollatingOrder(), 1033);
  EXPECT_EQ(mine->CodePage(), 1252);
}

TEST(NewDatabase, CreatingOverAnExistingFileFailsAndLeavesItAlone) {
  Memory m;
  m.fs.SetContents("keep.mdb", {1, 2, 3});
  try {
    Database::Create("keep.mdb", m.Options());
    FAIL() << "no error";
  } catch (const JetError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::kAlreadyExists);
    EXPECT_NE(std::string(e.what()).find("keep.mdb"), std::string::npos);
  }
  EXPECT_EQ(m.fs.Contents("keep.mdb"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(Catalog, ListsTablesWithTheAttributesDaoReports) {
  Memory m;
  auto db = Database::Create("c.mdb", m.Options());
  NewTable spec{"Orders", {NewColumn{.name = "N", .type = column_type::kLong}}, {}, ""};
  db->CreateTable(spec);
  auto tables = db->Tables(true);
  std::vector<std::pair<std::string, std::int32_t>> seen;
  for (const auto& t : tables) seen.emplace_back(t.name, t.DaoAttributes());
  std::vector<std::pair<std::string, std::int32_t>> expected = {
      {"MSysObjects", dao_attribute::kSystemObject},
      {"MSysACEs", dao_attribute::kSystemObject},
      {"MSysQueries", dao_attribute::kSystemObject},
      {"MSysRelationships", dao_attribute::kSystemObject},
      {"Orders", 0}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(db->Tables(false).size(), 1u);
  // Names clash without regard to case, as in Access.
  spec.name = "ORDERS";
  EXPECT_NE(What([&] { db->CreateTable(spec); }).find("exists already"), std::string::npos);
  db->Close();
  auto again = Database::Open("c.mdb", m.Options(true));
  EXPECT_EQ(again->OpenTable("orders").Name(), "Orders");
}

TEST(Catalog, RefusesDefinitionsJetCannotStore) {
  Memory m;
  auto db = Database::Create("d.mdb", m.Options());
  NewColumn ok{.name = "A", .type = column_type::kLong};
  struct Case {
    const char* name;
    NewTable spec;
    ErrorCode code;
    const char* expected;
  };
  NewColumn odd = ok;
  odd.type = 0x0D;
  NewColumn long_text = ok;
  long_text.type = column_type::kText;
  long_text.size = 256;
  std::vector<Case> cases = {
      {"unsupported type", {"T1", {odd}, {}, ""}, ErrorCode::kUnsupportedType, "type code 13"},
      {"text too long", {"T2", {long_text}, {}, ""}, ErrorCode::kInvalidDefinition, "1 to 255"},
      {"bad table name", {"a.b", {ok}, {}, ""}, ErrorCode::kInvalidDefinition, "contains '.'"},
      {"duplicate column",
       {"T3", {ok, ok}, {}, ""},
       ErrorCode::kInvalidDefinition,
       "appears twice"},
      {"no columns", {"T4", {}, {}, ""}, ErrorCode::kInvalidDefinition, "at least one column"},
      {"system name taken",
       {"MSysObjects", {ok}, {}, ""},
       ErrorCode::kAlreadyExists,
       "exists already"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      db->CreateTable(c.spec);
      ADD_FAILURE() << "no error";
    } catch (const JetError& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  ExpectClean(*db);
}

// Compares what our reader gives back with what was written.
void ExpectSameValue(const Variant& written, const Variant& read, std::uint8_t type) {
  if (written.IsNull()) {
    EXPECT_TRUE(read.IsNull());
    return;
  }
  switch (type) {
    case column_type::kNumeric:
    case column_type::kGuid:
      EXPECT_EQ(read.ToString(), written.ToString());
      break;
    default:
      EXPECT_TRUE(read == written)
          << "wrote " << written.ToString() << ", read " << read.ToString();
  }
}

TEST(Rows, EveryTypeReadsBackExactlyAfterReopening) {
  Memory m;
  {
    auto db = Database::Create("all.mdb", m.Options());
    testing::FillAllTypes(*db);
    db->Close();
  }
  auto db = Database::Open("all.mdb", m.Options(true));
  for (const auto& t : testing::AllTypeTables()) {
    SCOPED_TRACE(t.name);
    Table& table = db->OpenTable(t.name);
    EXPECT_EQ(table.RowCount(), t.values.size());
    auto scan = table.StartScan();
    std::size_t i = 0;
    int v = table.ColumnIndex("V"), id = table.ColumnIndex("ID");
    while (scan.Next()) {
      ASSERT_LT(i, t.values.size());
      EXPECT_EQ(scan.Value(id).ToLong(), static_cast<std::int32_t>(i + 1));
      ExpectSameValue(t.values[i], scan.Value(v), t.column.type);
      ++i;
    }
    EXPECT_EQ(i, t.values.size());
  }
  ExpectClean(*db);
}

TEST(Rows, ValuesThatDoNotFitTheirColumnAreRefusedNamingTheColumn) {
  Memory m;
  auto db = Database::Create("v.mdb", m.Options());
  NewColumn text{.name = "Name", .type = column_type::kText, .size = 3};
  NewColumn num{.name = "Amount", .type = column_type::kNumeric, .precision = 5, .scale = 2};
  NewColumn byte{.name = "Small", .type = column_type::kByte};
  Table& t = db->CreateTable({"V", {text, num, byte}, {}, ""});
  struct Case {
    const char* name;
    std::vector<Variant> row;
    const char* expected;
  };
  std::vector<Case> cases = {
      {"text too long", {Variant::FromString("abcd"), Variant(), Variant()}, "'Name'"},
      {"decimal too wide", {Variant(), testing::Dec("1000.5"), Variant()}, "'Amount'"},
      {"byte overflow", {Variant(), Variant(), Variant::FromLong(256)}, "'Small'"},
      {"not a number", {Variant(), Variant(), Variant::FromString("many")}, "'Small'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      t.Insert(c.row);
      ADD_FAILURE() << "no error";
    } catch (const JetError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::kValueInvalid);
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(t.RowCount(), 0u);
  t.Insert(std::vector<Variant>{Variant::FromString("abc"), testing::Dec("999.99"),
                                Variant::FromLong(255)});
  EXPECT_EQ(t.RowCount(), 1u);
  ExpectClean(*db);
}

TEST(Rows, RequiredColumnsRefuseNullOnInsertAndUpdate) {
  Memory m;
  {
    auto db = Database::Create("r.mdb", m.Options());
    db->CreateTable(
        {"R",
         {NewColumn{.name = "Must", .type = column_type::kText, .size = 10, .required = true},
          NewColumn{.name = "May", .type = column_type::kLong}},
         {},
         ""});
    db->Close();
  }
  auto db = Database::Open("r.mdb", m.Options());  // the property comes back from the catalog
  Table& t = db->OpenTable("R");
  RowPointer ok = t.Insert(std::vector<Variant>{Variant::FromString("x"), Variant()});
  for (auto attempt : {std::function<void()>([&] {
                         t.Insert(std::vector<Variant>{Variant(), Variant::FromLong(1)});
                       }),
                       std::function<void()>([&] {
                         t.Update(ok, std::vector<Variant>{Variant::Null(), Variant()});
                       })}) {
    try {
      attempt();
      ADD_FAILURE() << "Null accepted";
    } catch (const JetError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::kNullNotAllowed);
      EXPECT_NE(std::string(e.what()).find("'Must'"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(t.RowCount(), 1u);
  EXPECT_EQ(t.Read(ok)[0].ToString(), "x");

  // The property blob rewritten behind the table's back (as the DAO layer does when a
  // field's Required changes): the table enforces the new flags once told.
  t.Insert(std::vector<Variant>{Variant::FromString("y"), Variant::Null()});
  PropertyBlob blob = t.Properties();
  blob.Get("May").properties.push_back(Property::Boolean("Required", true, true));
  Table& objects = db->OpenTable("MSysObjects");
  std::vector<Variant> change(objects.Definition().columns.size());
  change[objects.ColumnIndex("LvProp")] = Variant::FromBytes(EncodePropertyBlob(blob));
  RowPointer catalog_row;
  for (auto scan = objects.StartScan(); scan.Next();)
    if (scan.Value(objects.ColumnIndex("Name")).ToString() == "R") catalog_row = scan.Position();
  objects.Update(catalog_row, change);
  t.PropertiesChanged();
  try {
    t.Insert(std::vector<Variant>{Variant::FromString("z"), Variant::Null()});
    ADD_FAILURE() << "Null accepted after the property changed";
  } catch (const JetError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::kNullNotAllowed);
    EXPECT_NE(std::string(e.what()).find("'May'"), std::string::npos) << e.what();
  }
}

TEST(Rows, AutoNumbersContinueAfterExplicitValuesAndReopening) {
  Memory m;
  {
    auto db = Database::Create("a.mdb", m.Options());
    Table& t = db->CreateTable(
        {"A",
         {NewColumn{.name = "ID", .type = column_type::kLong, .auto_increment = true}},
         {},
         ""});
    t.Insert(std::vector<Variant>{Variant()});
    t.Insert(std::vector<Variant>{Variant::FromLong(10)});
    t.Insert(std::vector<Variant>{Variant()});
    db->Close();
  }
  auto db = Database::Open("a.mdb", m.Options());
  Table& t = db->OpenTable("A");
  t.Insert(std::vector<Variant>{Variant()});
  std::vector<std::int32_t> ids;
  auto scan = t.StartScan();
  while (scan.Next()) ids.push_back(scan.Value(0).ToLong());
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 10, 11, 12}));
}

TEST(Rows, UpdatesKeepTheRowAddressEvenWhenTheRowMustMove) {
  Memory m;
  auto db = Database::Create("u.mdb", m.Options());
  NewColumn id{.name = "ID", .type = column_type::kLong};
  NewColumn text{.name = "T", .type = column_type::kText, .size = 255};
  NewColumn memo{.name = "M", .type = column_type::kMemo};
  Table& t = db->CreateTable({"U", {id, text, memo}, {}, ""});
  std::vector<RowPointer> where;
  // Fill one page with short rows so that a grown row cannot stay on it.
  for (int i = 0; i < 120; ++i)
    where.push_back(
        t.Insert(std::vector<Variant>{Variant::FromLong(i), Variant::FromString("s"), Variant()}));
  ASSERT_EQ(where.front().page, where.back().page);
  std::string big(250, 'B');
  t.Update(where[5], std::vector<Variant>{Variant(), Variant::FromString(big),
                                          Variant::FromString(std::string(5000, 'm'))});
  t.Update(where[7], std::vector<Variant>{Variant::FromLong(-7), Variant(), Variant()});
  // Shorter rows stay in their slot, still read from its end.
  t.Update(where[9], std::vector<Variant>{Variant(), Variant::Null(), Variant()});
  t.Update(where[11], std::vector<Variant>{Variant(), Variant::FromString(""), Variant()});
  // A moved row that grows again moves once more, still behind the same address.
  t.Update(where[5], std::vector<Variant>{Variant(), Variant::FromString(big + "!!!!!"),
                                          Variant::FromString("short")});
  auto row5 = t.Read(where[5]);
  EXPECT_EQ(row5[0].ToLong(), 5);
  EXPECT_EQ(row5[1].ToString(), big + "!!!!!");
  EXPECT_EQ(row5[2].ToString(), "short");
  EXPECT_EQ(t.Read(where[7])[0].ToLong(), -7);
  EXPECT_EQ(t.Read(where[7])[1].ToString(), "s");
  EXPECT_EQ(t.Read(where[9])[0].ToLong(), 9);
  EXPECT_TRUE(t.Read(where[9])[1].IsNull());
  EXPECT_TRUE(t.Read(where[11])[1] == Variant::FromString(""));
  // Every row is seen exactly once by a scan.
  std::vector<int> seen(120, 0);
  auto scan = t.StartScan();
  while (scan.Next()) {
    int id_value = scan.Value(0).ToLong();
    ++seen[id_value == -7 ? 7 : id_value];
  }
  EXPECT_EQ(seen, std::vector<int>(120, 1));
  ExpectClean(*db);
}

TEST(Rows, DeletedRowsAndTheirLongValuesAreGone) {
  Memory m;
  auto db = Database::Create("del.mdb", m.Options());
  Table& t = db->CreateTable({"D", {NewColumn{.name = "M", .type = column_type::kOle}}, {}, ""});
  std::vector<std::uint8_t> big(30000, 0x5A);
  RowPointer a = t.Insert(std::vector<Variant>{testing::Bytes(big)});
  RowPointer b = t.Insert(std::vector<Variant>{testing::Bytes({1, 2})});
  std::uint32_t pages_before = PageCacheOf(*db).FreePages().Count();
  t.Delete(a);
  EXPECT_EQ(t.RowCount(), 1u);
  EXPECT_GE(PageCacheOf(*db).FreePages().Count(), pages_before + 8)
      << "the chain's pages are free again";
  try {
    t.Read(a);
    ADD_FAILURE() << "a deleted row was read";
  } catch (const JetError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::kNotFound);
  }
  EXPECT_EQ(t.Read(b)[0].Bytes(), (std::vector<std::uint8_t>{1, 2}));
  ExpectClean(*db);
}

TEST(Tables, DroppingAndRecreatingAFilledTableKeepsTheFileBounded) {
  Memory m;
  auto db = Database::Create("drop.mdb", m.Options());
  NewTable spec{"Cycle",
                {NewColumn{.name = "ID", .type = column_type::kLong, .auto_increment = true},
                 NewColumn{.name = "Name", .type = column_type::kText, .size = 100},
                 NewColumn{.name = "Note", .type = column_type::kMemo}},
                {NewIndex{"PrimaryKey", {{"ID", true}}, true, true, false, true},
                 NewIndex{"ByName", {{"Name", true}}, false, false, false, false}},
                ""};
  std::uint32_t size_after_first = 0;
  for (int round = 0; round < 100; ++round) {
    Table& t = db->CreateTable(spec);
    for (int i = 0; i < 300; ++i)
      t.Insert(std::vector<Variant>{Variant(),
                                    Variant::FromString("name " + std::to_string(i * 7919 % 300)),
                                    Variant::FromString(std::string(i % 3 == 0 ? 5000 : 10, 'n'))});
    if (round == 0) {
      db->Flush();
      size_after_first = PageCacheOf(*db).PageCount();
      ExpectClean(*db);
    }
    db->DropTable("Cycle");
  }
  db->Flush();
  EXPECT_LE(PageCacheOf(*db).PageCount(), size_after_first + 4);
  EXPECT_FALSE(db->FindObject("Cycle"));
  ExpectClean(*db);
}

TEST(Files, AWriterKeepsOthersOutAndItsLockFileGoesOnClose) {
  char dir[] = "/tmp/jetlockXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/shop.mdb";
  std::string ldb = std::string(dir) + "/shop.ldb";
  auto db = Database::Create(path);
  EXPECT_TRUE(core::FileSystem::Native().Exists(ldb));
  try {
    Database::Open(path);
    ADD_FAILURE() << "a second writer got in";
  } catch (const JetError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::kLocked);
    EXPECT_NE(std::string(e.what()).find("shop.mdb"), std::string::npos);
  }
  db->Close();
  EXPECT_FALSE(core::FileSystem::Native().Exists(ldb));
  Database::Open(path)->Close();
  core::FileSystem::Native().Remove(path);
  rmdir(dir);
}

TEST(Files, AFailedWriteIsReportedNotSwallowed) {
  core::MemoryFileSystem memory;
  core::FaultInjectingFileSystem fs(memory);
  auto db = Database::Create("f.mdb", {.file_system = &fs});
  Table& t = db->CreateTable({"F", {NewColumn{.name = "N", .type = column_type::kLong}}, {}, ""});
  t.Insert(std::vector<Variant>{Variant::FromLong(1)});
  core::FaultPlan plan;
  plan.fail_write_from = 0;
  fs.SetPlan(plan);
  std::string error = What([&] { db->Close(); });
  EXPECT_NE(error.find("f.mdb"), std::string::npos) << error;
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
}

TEST(Files, ReferenceMapEntriesThatNameNoPageAreAccepted) {
  // Access 2000 leaves 0 and then 0xFFFFFF80 in the unused entries of a global map that
  // points to bitmap pages; neither names a page, and the file must open, check and take
  // changes like any other.
  Memory m;
  Database::Create("a.mdb", m.Options())->Close();
  auto bytes = m.fs.Contents("a.mdb");
  const std::size_t pages = bytes.size() / 4096;
  bytes.resize(bytes.size() + 4096, 0);
  std::uint8_t* bitmap = bytes.data() + pages * 4096;
  bitmap[0] = page_type::kUsageBitmap;
  bitmap[1] = 0x01;
  std::uint8_t* map_page = bytes.data() + 4096;
  std::uint8_t* row = map_page + (Le16(map_page + 0x0E) & 0x1FFF);
  std::memset(row, 0, 69);
  row[0] = 0x01;
  PutLe32(row + 1, static_cast<std::uint32_t>(pages));
  for (int e = 9; e < 17; ++e) PutLe32(row + 1 + 4 * e, 0xFFFFFF80u);
  m.fs.SetContents("a.mdb", bytes);

  auto db = Database::Open("a.mdb", m.Options());
  ExpectClean(*db);
  Table& t = db->CreateTable({"T", {NewColumn{.name = "N", .type = column_type::kLong}}, {}, ""});
  for (int i = 0; i < 100; ++i) t.Insert(std::vector<Variant>{Variant::FromLong(i)});
  db->Close();
  db = Database::Open("a.mdb", m.Options(true));
  EXPECT_EQ(db->OpenTable("T").RowCount(), 100u);
  ExpectClean(*db);
}

TEST(Files, BadFilesGiveClearErrorsNamingTheFile) {
  auto good = ReadFixture("adox_jet4.mdb");
  auto with = [&](auto change) {
    auto copy = good;
    change(copy);
    return copy;
  };
  std::vector<std::uint8_t> masked_password = with([](auto& b) {
    ToggleHeaderMask(b.data(), JetVersion::kJet4);
    b[HeaderLayout::kPassword] ^= 'p';  // a password character over the mask
    ToggleHeaderMask(b.data(), JetVersion::kJet4);
  });
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* expected;
  };
  std::string text = "Name,Price\nApple,1\n";
  std::vector<Case> cases = {
      {"empty file", {}, "not a Microsoft Access database (the file is empty)"},
      {"a text file", std::vector<std::uint8_t>(text.begin(), text.end()),
       "not a Microsoft Access database"},
      {"an .accdb", with([](auto& b) { b[HeaderLayout::kVersion] = 2; }), "Access 2007 or later"},
      {"unknown engine", with([](auto& b) { std::memcpy(b.data() + 4, "Standard XYZ DB", 15); }),
       "unknown engine name"},
      {"password", masked_password, "protected by a password"},
      {"truncated inside a page",
       std::vector<std::uint8_t>(good.begin(), good.begin() + 5 * 4096 + 10), "not a whole number"},
      {"catalog page missing", std::vector<std::uint8_t>(good.begin(), good.begin() + 10 * 4096),
       "beyond the end of the file"},
      {"catalog definition is garbage",
       with([](auto& b) { std::memset(b.data() + 2 * 4096, 0xEE, 4096); }),
       "expected a table definition page"},
      {"catalog rows point outside their page",
       with([](auto& b) { PutLe16(b.data() + 14 * 4096 + 0x0E, 0x1FFF); }), "outside the page"},
      {"catalog count overflows",
       with([](auto& b) { PutLe32(b.data() + 2 * 4096 + 0x2D, 0xFFFF); }), "implausible counts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Memory m;
    m.fs.SetContents("bad.mdb", c.bytes);
    std::string error = What([&] {
      auto db = Database::Open("bad.mdb", m.Options(true));
      db->Tables();
    });
    EXPECT_NE(error.find("bad.mdb"), std::string::npos) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
}

TEST(Files, AccessNinetySevenFilesOpenForReadingOnly) {
  Memory m;
  m.fs.SetContents("old.mdb", ReadFixture("testV1997.mdb"));
  auto db = Database::Open("old.mdb", m.Options());
  EXPECT_TRUE(db->ReadOnly());
  EXPECT_EQ(db->VersionText(), "3.0");
  std::vector<std::string> names;
  for (const auto& t : db->Tables(false)) names.push_back(t.name);
  // mdb-tables lists the same tables for this file.
  EXPECT_EQ(names, (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));
  Table& t = db->OpenTable("Table1");
  auto scan = t.StartScan();
  // Values as mdb-export prints them for this file.
  ASSERT_TRUE(scan.Next());
  EXPECT_EQ(scan.Value(t.ColumnIndex("A")).ToString(), "a");
  ASSERT_TRUE(scan.Next());
  EXPECT_EQ(scan.Value(t.ColumnIndex("A")).ToString(), "abcdefg");
  EXPECT_EQ(scan.Value(t.ColumnIndex("B")).ToString(), "hijklmnop");
  EXPECT_EQ(scan.Value(t.ColumnIndex("E")).ToLong(), 333333333);
  EXPECT_EQ(core::FormatDateTimeText(scan.Value(t.ColumnIndex("G")).ToDate()), "1974-09-21");
  std::string error = What([&] { db->CreateTable({"X", {NewColumn{.name = "N"}}, {}, ""}); });
  EXPECT_NE(error.find("reading only"), std::string::npos) << error;
  ExpectClean(*db);
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

TEST(Check, FindsDamageInEveryKindOfStructure) {
  // A small database with an index and a long value, then one kind of damage at a time.
  Memory m;
  {
    auto db = Database::Create("k.mdb", m.Options());
    NewTable spec{"K",
                  {NewColumn{.name = "ID", .type = column_type::kLong},
                   NewColumn{.name = "Note", .type = column_type::kMemo}},
                  {NewIndex{"PrimaryKey", {{"ID", true}}, true, true, false, true}},
                  ""};
    Table& t = db->CreateTable(spec);
    for (int i = 0; i < 20; ++i)
      t.Insert(std::vector<Variant>{Variant::FromLong(i),
                                    Variant::FromString(std::string(6000, 'a' + i % 26))});
    db->Close();
  }
  const auto clean = m.fs.Contents("k.mdb");
  std::uint32_t tdef, data_page, index_root, lv_page;
  {
    auto db = Database::Open("k.mdb", m.Options(true));
    ExpectClean(*db);
    tdef = db->FindObject("K")->TableDefinitionPage();
    TableDefinition def = ReadTableDefinition(PageCacheOf(*db), tdef);
    data_page = PageCacheOf(*db).Map(def.owned_map).Pages().Min();
    index_root = def.real_indexes[0].root_page;
    lv_page = PageCacheOf(*db).Map(def.columns[1].lv_owned_map).Pages().Min();
  }
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* expected;
  };
  std::vector<Case> cases = {
      {"row count", [&](auto& b) { PutLe32(b.data() + tdef * 4096 + TdefLayout::kRowCount, 21); },
       "has 20 rows but its definition counts 21"},
      {"page marked free",
       [&](auto& b) {
         // Page 1, row 0 is the page map: set the data page's bit (bit = free).
         std::uint8_t* row0 = b.data() + 4096 + Le16(b.data() + 4096 + 0x0E);
         row0[5 + data_page / 8] |= static_cast<std::uint8_t>(1u << (data_page % 8));
       },
       "lists it as free"},
      {"long value page overwritten",
       [&](auto& b) { std::memset(b.data() + lv_page * 4096, 0, 4096); }, "not a long-value page"},
      {"index entry changed", [&](auto& b) { b[index_root * 4096 + 0x1E0 + 4] ^= 0x01; },
       "index 'PrimaryKey'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = clean;
    c.damage(bytes);
    Memory d;
    d.fs.SetContents("k.mdb", bytes);
    auto db = Database::Open("k.mdb", d.Options(true));
    CheckReport report = CheckDatabase(*db);
    std::string all;
    for (const auto& p : report.problems) all += p + "\n";
    EXPECT_NE(all.find(c.expected), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace jet
