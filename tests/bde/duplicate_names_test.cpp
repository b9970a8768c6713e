// A table that names two fields alike (dBase cuts names to ten characters) opens; the later
// field gets a number after its name and the table warns about it.
#include <gtest/gtest.h>

#include <string>

#include "bde/table.h"

namespace {

TEST(TTableNames, ASecondFieldOfTheSameNameIsNumbered) {
  bde::TTable table;
  table.SetDatabaseName(std::string(DATOVRAT_TESTDATA) + "/bde/dbase/infused-dbf/");
  table.SetTableName("dbase_03.dbf");
  table.Open();
  ASSERT_EQ(table.FieldCount(), 31);
  EXPECT_EQ(table.Fields()[0].FieldName(), "Point_ID");
  EXPECT_EQ(table.Fields()[30].FieldName(), "Point_ID_2");
  EXPECT_EQ(table.Fields()[30].DataType(), ds::ftInteger);
  bool warned = false;
  for (const std::string& w : table.Warnings())
    warned = warned || w.find(
                           "field 31 is named 'Point_ID' like an earlier one; it is read as "
                           "'Point_ID_2'") != std::string::npos;
  EXPECT_TRUE(warned);
  // Both fields keep their own values.
  EXPECT_NE(table.Fields()[0].AsString(), table.Fields()[30].AsString());
}

}  // namespace
