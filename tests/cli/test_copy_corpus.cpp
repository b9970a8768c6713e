// Every corpus source table copied with --yes-to-all: into a new database one file at a time
// (each table compared value by value with what `source dump` reads, through mdb-reader), and
// all at once into a copy of an Access-made database, whose own tables must stay as they were.
// mdbtools, mdb-reader and `mdb check` must accept both files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

using cli_test::Quote;
using cli_test::Result;
using cli_test::Shell;

const std::string kCli = DATOVRAT_CLI;

std::vector<std::string> CorpusSources() {
  std::vector<std::string> files;
  for (const char* sub : {"dbase", "foxpro", "paradox"}) {
    fs::path root = fs::path(DATOVRAT_TESTDATA) / "bde" / sub;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string ext = e.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (e.is_regular_file() && (ext == ".dbf" || ext == ".db")) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Access tables hold from 1 to 255 fields.
bool Copyable(const std::string& file) {
  Result schema = Shell(kCli + " source schema " + Quote(file));
  std::size_t end = schema.output.find(" fields\n");
  std::size_t start = schema.output.rfind(", ", end);
  if (schema.status != 0 || end == std::string::npos || start == std::string::npos) return false;
  int fields = std::stoi(schema.output.substr(start + 2, end - start - 2));
  return fields >= 1 && fields <= 255;
}

bool HaveOracles() {
  return Shell("command -v mdb-export && command -v node").status == 0 &&
         fs::exists(fs::path(DATOVRAT_SOURCE_DIR) / "tests/oracles/node_modules/mdb-reader");
}

class CopyCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveOracles()) GTEST_SKIP() << "mdbtools or mdb-reader is missing";
    dir_ = fs::temp_directory_path() / ("datovrat-corpus-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(CopyCorpus, EveryReadableTableArrivesWithEveryValue) {
  const std::string db = (dir_ / "corpus.mdb").string();
  int compared = 0;
  for (const std::string& file : CorpusSources()) {
    SCOPED_TRACE(file);
    const std::string dump = (dir_ / "source.jsonl").string();
    if (Shell(kCli + " source dump --json " + Quote(file) + " > " + Quote(dump)).status != 0 ||
        !Copyable(file)) {
      // A table our reader refuses (or one without fields, which Access cannot hold) ends the
      // run with an error naming it, unless --yes-to-all skips what was refused; the database
      // stays sound either way.
      Result r = Shell(kCli + " copy tables --yes-to-all " + Quote(db) + " " + Quote(file));
      if (r.status != 0) {
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find(fs::path(file).filename().string() + ": "), std::string::npos)
            << r.output;
      }
      continue;
    }
    Result copy =
        Shell(kCli + " copy tables --yes-to-all --quiet " + Quote(db) + " " + Quote(file));
    ASSERT_EQ(copy.status, 0) << copy.output;
    // The table's name and the fields whose values the summary says were changed or skipped.
    std::string table;
    std::set<std::string> ignore;
    for (const std::string& line : Lines(copy.output)) {
      std::size_t arrow = line.find(" -> ");
      if (arrow != std::string::npos && line.rfind(file, 0) == 0)
        table = line.substr(arrow + 4, line.find(": ", arrow + 4) - arrow - 4);
      for (const char* tag : {"  changed: ", "  skipped: "}) {
        if (line.rfind(tag, 0) != 0) continue;
        std::string rest = line.substr(std::string(tag).size());
        std::size_t f = rest.find("field ");
        std::string field = f == std::string::npos ? rest.substr(0, rest.find(':'))
                                                   : rest.substr(f + 6, rest.find(':', f) - f - 6);
        ignore.insert(field);
      }
    }
    // A name two fields share appears twice in the dump's objects, which JSON keeps one of:
    // such fields are left out.
    std::set<std::string> seen;
    for (const std::string& line : Lines(Shell(kCli + " source schema " + Quote(file)).output)) {
      std::string name = line.substr(0, line.find('\t'));
      if (!seen.insert(name).second) ignore.insert(name);
    }
    ASSERT_FALSE(table.empty()) << copy.output;
    std::string command = "node " +
                          Quote(std::string(DATOVRAT_SOURCE_DIR) + "/tests/cli/compare_copy.mjs") +
                          " " + Quote(dump) + " " + Quote(db) + " " + Quote(table);
    for (const std::string& f : ignore) command += " --ignore " + Quote(f);
    Result compare = Shell(command);
    EXPECT_EQ(compare.status, 0) << compare.output;
    Result exported = Shell("mdb-export " + Quote(db) + " " + Quote(table) + " > /dev/null");
    EXPECT_EQ(exported.status, 0) << exported.output;
    ++compared;
  }
  EXPECT_GT(compared, 50);
  Result check = Shell(kCli + " mdb check " + Quote(db));
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST_F(CopyCorpus, AnAccessMadeDatabaseKeepsItsOwnTables) {
  const std::string db = (dir_ / "access.mdb").string();
  fs::copy_file(fs::path(DATOVRAT_TESTDATA) / "jet/access/test2V2000.mdb", db);
  std::vector<std::string> own = Lines(Shell("mdb-tables -1 " + Quote(db)).output);
  ASSERT_FALSE(own.empty());
  std::vector<std::string> before;
  for (const std::string& t : own)
    before.push_back(Shell("mdb-export " + Quote(db) + " " + Quote(t)).output);

  std::string sources;
  for (const std::string& file : CorpusSources())
    if (Shell(kCli + " source dump " + Quote(file) + " > /dev/null").status == 0 && Copyable(file))
      sources += " " + Quote(file);
  Result copy = Shell(kCli + " copy tables --yes-to-all --quiet " + Quote(db) + sources);
  ASSERT_EQ(copy.status, 0) << copy.output;

  for (std::size_t i = 0; i < own.size(); ++i)
    EXPECT_EQ(Shell("mdb-export " + Quote(db) + " " + Quote(own[i])).output, before[i]) << own[i];
  Result check = Shell(kCli + " mdb check " + Quote(db));
  EXPECT_EQ(check.status, 0) << check.output;
  Result listed = Shell(
      "node " + Quote(std::string(DATOVRAT_SOURCE_DIR) + "/tests/dao/read_with_mdb_reader.mjs") +
      " tables " + Quote(db));
  EXPECT_EQ(listed.status, 0) << listed.output;
  EXPECT_GT(Lines(listed.output).size(), own.size() + 40);
}

}  // namespace
