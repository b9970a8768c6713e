// The table tests' fixture: a fresh Access database connected through TMxDaoDatabase, tables
// built through DAO, and table components on them.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dao_test_util.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"

namespace daotabletest {

using daotable::TMxDaoTable;

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.Path("test.mdb");
    owner = std::make_unique<ds::TComponent>();
    db = new daodb::TMxDaoDatabase(owner.get());
    db->Loaded();
    db->CreateAccessDatabase(path);
    db->SetDatabase(path);
    db->Open();
  }
  void TearDown() override { owner.reset(); }

  dao::Database& Dao() { return *db->DaoDatabase(); }

  void MakeTable(const std::string& name, const std::vector<daotest::Column>& columns) {
    daotest::CreateTable(Dao(), name, columns);
    db->RefreshDefinitions();
  }

  // Rows through DAO: each value assigned as given (Empty leaves the column alone).
  void AddRows(const std::string& table, const std::vector<std::vector<core::Variant>>& rows) {
    auto rs = Dao().OpenRecordset(table, dao::dbOpenDynaset);
    for (const auto& row : rows) {
      rs->AddNew();
      for (std::size_t i = 0; i < row.size(); ++i)
        if (!row[i].IsEmpty()) rs->Fields().Item(static_cast<int>(i))->SetValue(row[i]);
      rs->Update();
    }
    rs->Close();
  }

  // Every row of a table as DAO reads it back.
  std::vector<std::vector<core::Variant>> ReadRows(const std::string& table) {
    std::vector<std::vector<core::Variant>> out;
    auto rs = Dao().OpenRecordset(table, dao::dbOpenSnapshot);
    int n = rs->Fields().Count();
    while (!rs->Eof()) {
      std::vector<core::Variant> row;
      for (int i = 0; i < n; ++i) row.push_back(rs->Fields().Item(i)->Value());
      out.push_back(std::move(row));
      rs->MoveNext();
    }
    rs->Close();
    return out;
  }

  TMxDaoTable* NewTable(const std::string& table_name = {}) {
    auto* t = new TMxDaoTable(owner.get());
    t->SetDatabase(db);
    if (!table_name.empty()) t->SetTableName(table_name);
    return t;
  }

  daotest::TempDir dir;
  std::string path;
  std::unique_ptr<ds::TComponent> owner;
  daodb::TMxDaoDatabase* db = nullptr;
};

// The message of what `call` raised (empty when nothing was raised).
inline std::string ErrorText(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

}  // namespace daotabletest
