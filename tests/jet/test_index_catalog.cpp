// The catalog's indexes while tables come and go.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "btree.h"
#include "database_internal.h"
#include "index_check.h"
#include "jet/database.h"
#include "test_index_util.h"

namespace {

jet::NewTable Spec(bool with_index) {
  jet::NewTable t;
  jet::NewColumn id;
  id.name = "id";
  id.type = jet::column_type::kLong;
  jet::NewColumn name;
  name.name = "name";
  name.type = jet::column_type::kText;
  name.size = 50;
  t.columns = {id, name};
  if (with_index) {
    jet::NewIndex pk;
    pk.name = "PrimaryKey";
    pk.columns = {{"id", true}};
    pk.primary_key = true;
    t.indexes = {pk};
  }
  return t;
}

std::string Problems(jet::Database& db, jet::Table& table) {
  std::string out;
  for (const auto& c : jet::CheckTableIndexes(db, table)) {
    for (const auto& p : c.problems) out += p + "\n";
  }
  return out;
}

// The catalog's own indexes follow tables being created and dropped: every MSysObjects and
// MSysACEs row is indexed once, and a table is found by name (in any case) through
// MSysObjects' ParentIdName index, as Access and Jackcess look tables up.
TEST(IndexCatalog, FollowsTablesCreatedAndDropped) {
  core::MemoryFileSystem fs;
  jet::OpenOptions options;
  options.file_system = &fs;
  auto db = jet::Database::Create("c.mdb", options);
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) {
    jet::NewTable t = Spec(i % 3 == 0);
    t.name = (i % 2 ? "Tabulka č " : "Účty ") + std::to_string(i);
    db->CreateTable(t);
    names.push_back(t.name);
  }
  for (int i = 0; i < 60; i += 2) db->DropTable(names[i]);
  for (const char* name : {"objednávky", "Zboží"}) {
    jet::NewTable t = Spec(true);
    t.name = name;
    db->CreateTable(t);
    names.push_back(name);
  }
  for (const char* system : {"MSysObjects", "MSysACEs"}) {
    jet::Table& table = db->OpenTable(system);
    EXPECT_EQ(Problems(*db, table), "") << system;
  }

  std::int32_t tables_container = 0;
  for (const auto& e : db->Catalog()) {
    if (e.name == "Tables" && e.parent_id == 0x0F000000) tables_container = e.id;
  }
  ASSERT_NE(tables_container, 0);
  jet::Table& objects = db->OpenTable("MSysObjects");
  const auto& def = objects.Definition();
  std::size_t parent_name = def.real_indexes.size();
  for (const auto& li : def.indexes) {
    if (li.name == "ParentIdName") parent_name = li.real_index;
  }
  ASSERT_LT(parent_name, def.real_indexes.size());
  jet::IndexTree tree(PageCacheOf(*db),
                      jet::DescribeIndex(def, parent_name, "c.mdb", "MSysObjects"),
                      {"c.mdb", "MSysObjects"});
  const int name_column = objects.ColumnIndex("Name");
  auto find = [&](const std::string& name) -> std::optional<std::string> {
    std::uint8_t le[4];
    std::memcpy(le, &tables_container, 4);
    const std::u16string text = index_test::Utf16(name);
    const jet::KeyValue values[] = {jet::KeyValue::Stored(le), jet::KeyValue::Text(text)};
    const jet::KeyColumn columns[] = {tree.Definition().columns[0].key,
                                      tree.Definition().columns[1].key};
    jet::IndexCursor cursor(tree);
    if (!cursor.Seek(jet::SeekComparison::kEqual, jet::EncodeKey(columns, values)))
      return std::nullopt;
    const auto row = objects.Read(jet::RowPointer{cursor.Row().page, cursor.Row().row});
    return row[name_column].ToString();
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool dropped = i < 60 && i % 2 == 0;
    const auto found = find(names[i]);
    EXPECT_EQ(found.has_value(), !dropped) << names[i];
    if (found) {
      EXPECT_EQ(*found, names[i]);
    }
  }
  EXPECT_EQ(find("OBJEDNÁVKY").value_or(""), "objednávky");
  EXPECT_EQ(find("zboží").value_or(""), "Zboží");
  EXPECT_FALSE(find("Zbozi").has_value());  // accents count
}

}  // namespace
