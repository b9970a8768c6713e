// Shared helpers of the DAO tests: scratch files, a database with tables to play with, and
// the independent readers (mdbtools, the npm mdb-reader) that read our files back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dao/dao.h"

namespace daotest {

// A directory of its own per test, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

// Runs a command; returns its standard output. `status` receives the exit status.
std::string Run(const std::string& command, int* status = nullptr);

// Whether the independent readers are there (tests that need them say so when skipping).
bool HaveMdbTools();
bool HaveMdbReader();

// A table as mdb-export prints it (CSV, header first, one string per cell, "" for Null).
std::vector<std::vector<std::string>> MdbExport(const std::string& file, const std::string& table);
// Table names as mdb-tables lists them (user tables).
std::vector<std::string> MdbTables(const std::string& file);
// A table read by mdb-reader: one JSON document per row as the node script prints it.
std::vector<std::string> MdbReaderRows(const std::string& file, const std::string& table);
// The table names mdb-reader lists (user tables).
std::vector<std::string> MdbReaderTables(const std::string& file);

// The error a call raised: its DAO number, or 0 when it did not raise.
int ErrorOf(const std::function<void()>& call);

// A fresh database with one table built through DAO: `columns` are (name, type, size).
struct Column {
  std::string name;
  int type;
  std::int32_t size = -1;
  std::int32_t attributes = 0;
  bool required = false;
};
void CreateTable(dao::Database& db, const std::string& name, const std::vector<Column>& columns);

// The bookmark's first four bytes as a little-endian integer.
std::uint32_t BookmarkKey(const core::Variant& bookmark);
// The four-byte form the components keep and hand back.
core::Variant ShortBookmark(std::uint32_t key);

}  // namespace daotest
