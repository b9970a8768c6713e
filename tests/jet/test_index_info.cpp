// Index definitions as listed to users, from Access-made tables, and the column-list text
// the command line takes.
#include <gtest/gtest.h>

#include "index_check.h"
#include "jet/database.h"
#include "jet/index_info.h"
#include "test_index_util.h"

namespace {

struct Listed {
  std::string table, index, columns, flags;
  friend bool operator==(const Listed&, const Listed&) = default;
};

std::ostream& operator<<(std::ostream& os, const Listed& l) {
  return os << l.table << "." << l.index << " (" << l.columns << ") [" << l.flags << "]";
}

std::vector<Listed> ListAll(const std::string& file) {
  core::MemoryFileSystem fs;
  fs.SetContents(file, index_test::ReadFile(index_test::DataPath(file)));
  jet::OpenOptions options;
  options.read_only = true;
  options.file_system = &fs;
  auto db = jet::Database::Open(file, options);
  std::vector<Listed> out;
  for (const auto& object : db->Tables(true)) {
    if (!object.IsTable() || object.IsLinked()) continue;
    jet::Table& table = db->OpenTable(object.name);
    for (const auto& info : jet::ListIndexes(table.Definition(), file, object.name)) {
      out.push_back(
          {object.name, info.name, jet::IndexColumnsText(info), jet::IndexFlagsText(info)});
    }
  }
  return out;
}

// What Access shows for these tables (design view of the files, and mdb-schema --indexes).
TEST(IndexInfo, ListsAccessMadeIndexes) {
  const auto compound = ListAll("compIndexTestV2000.mdb");
  EXPECT_NE(std::find(compound.begin(), compound.end(),
                      Listed{"Table1", "CD_AGENTE", "CD_AGENTE DESC", ""}),
            compound.end());
  const auto catalog = ListAll("emptyAccess2000.mdb");
  for (const Listed& want : {Listed{"MSysObjects", "Id", "Id", "primary key, unique, required"},
                             Listed{"MSysObjects", "ParentIdName", "ParentId, Name", "unique"},
                             Listed{"MSysACEs", "ObjectId", "ObjectId", "required"},
                             Listed{"MSysRelationships", "szObject", "szObject", "ignore nulls"}}) {
    EXPECT_NE(std::find(catalog.begin(), catalog.end(), want), catalog.end()) << want;
  }
  const auto props = ListAll("testIndexPropertiesV2000.mdb");
  auto flags_of = [&](const std::string& table, const std::string& index) {
    for (const auto& l : props) {
      if (l.table == table && l.index == index) return l.flags;
    }
    return std::string("(missing)");
  };
  EXPECT_EQ(flags_of("TableIgnoreNulls2", "DataIndex"), "ignore nulls");
  EXPECT_EQ(flags_of("TableUnique2_temp", "DataIndex"), "unique");
  EXPECT_EQ(flags_of("TableUnique2_temp", "PrimaryKey"), "primary key, unique, required");
  const auto related = ListAll("indexTestV2000.mdb");
  EXPECT_TRUE(std::any_of(related.begin(), related.end(), [](const Listed& l) {
    return l.flags.find("foreign key") != std::string::npos;
  }));
}

TEST(IndexInfo, ParsesColumnLists) {
  using Columns = std::vector<std::pair<std::string, bool>>;
  const std::pair<const char*, Columns> good[] = {
      {"name", {{"name", true}}},
      {" name DESC , born desc", {{"name", false}, {"born", false}}},
      {"a ASC,b", {{"a", true}, {"b", true}}},
      {"[Datum narození] DESC, [a,b]", {{"Datum narození", false}, {"a,b", true}}},
      {"[DESC]", {{"DESC", true}}},
      {"Příjmení", {{"Příjmení", true}}},
  };
  for (const auto& [text, want] : good) EXPECT_EQ(jet::ParseIndexColumns(text), want) << text;
  const std::pair<const char*, const char*> bad[] = {
      {"", "no column"},
      {"a,,b", "empty column name"},
      {"a, A", "named twice"},
      {"[a", "without its ]"},
      {"c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11", "at most 10"},
  };
  for (const auto& [text, message] : bad) {
    try {
      jet::ParseIndexColumns(text);
      ADD_FAILURE() << text;
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.Code(), jet::ErrorCode::kInvalidDefinition);
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

// A new primary key replaces the old one; a refused one leaves the old one in place.
TEST(IndexInfo, PrimaryKeyReplacement) {
  core::MemoryFileSystem fs;
  jet::OpenOptions options;
  options.file_system = &fs;
  auto db = jet::Database::Create("pk.mdb", options);
  jet::NewTable t;
  t.name = "T";
  for (const char* name : {"id", "code", "note"}) {
    jet::NewColumn c;
    c.name = name;
    c.type = std::string(name) == "id" ? jet::column_type::kLong : jet::column_type::kText;
    c.size = 20;
    t.columns.push_back(c);
  }
  jet::NewIndex pk;
  pk.name = "PrimaryKey";
  pk.columns = {{"id", true}};
  pk.primary_key = true;
  t.indexes = {pk};
  jet::Table& table = db->CreateTable(t);
  const char* codes[] = {"a", "b", "A", "c"};  // "A" equals "a" in a key
  for (int i = 0; i < 4; ++i) {
    table.Insert(std::vector<core::Variant>{
        core::Variant::FromLong(i), core::Variant::FromString(codes[i]),
        i == 3 ? core::Variant::Null() : core::Variant::FromString("x")});
  }
  auto primary = [&] {
    std::string out;
    for (const auto& info : jet::ListIndexes(db->OpenTable("T").Definition(), "pk.mdb", "T")) {
      out += info.name + "(" + jet::IndexColumnsText(info) + (info.primary_key ? ", primary" : "") +
             ") ";
    }
    return out;
  };
  auto spec = [](const char* name, std::vector<std::pair<std::string, bool>> columns,
                 bool primary) {
    jet::NewIndex x;
    x.name = name;
    x.columns = std::move(columns);
    x.primary_key = primary;
    return x;
  };
  const struct {
    jet::NewIndex index;
    const char* refusal;  // "" when it is accepted
    const char* replaced;
    const char* after;
  } steps[] = {
      {spec("ByCode", {{"code", true}}, true), "duplicate", "", "PrimaryKey(id, primary) "},
      {spec("ByNote", {{"note", true}, {"id", true}}, true), "Null", "",
       "PrimaryKey(id, primary) "},
      {spec("Both", {{"code", true}, {"id", false}}, true), "", "PrimaryKey",
       "Both(code, id DESC, primary) "},
      {spec("Plain", {{"note", true}}, false), "", "", "Both(code, id DESC, primary) Plain(note) "},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.index.name);
    try {
      EXPECT_EQ(jet::AddIndexReplacingPrimaryKey(*db, "T", step.index), step.replaced);
      EXPECT_STREQ(step.refusal, "");
    } catch (const jet::JetError& e) {
      EXPECT_NE(std::string(step.refusal), "");
      EXPECT_NE(std::string(e.what()).find(step.refusal), std::string::npos) << e.what();
    }
    EXPECT_EQ(primary(), step.after);
    for (const auto& c : jet::CheckTableIndexes(*db, db->OpenTable("T")))
      EXPECT_TRUE(c.Ok()) << c.index;
  }
}

}  // namespace
