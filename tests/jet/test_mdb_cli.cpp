// `datovrat-cli mdb ...` end to end, and the Jet DDL column lists it takes.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "jet/column_list.h"
#include "jet/database.h"
#include "jet/journal.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

TEST(ColumnList, ParsesJetDdl) {
  NewTable spec;
  ParseColumnList(
      "ID COUNTER, [Full Name] TEXT(50) NOT NULL, PRICE CURRENCY, AMOUNT DECIMAL(12,2), "
      "BORN DATETIME, PHOTO LONGBINARY, NOTE MEMO, OK BIT, CODE LONG PRIMARY KEY, G GUID, B "
      "BINARY(16)",
      spec);
  struct Expect {
    const char* name;
    std::uint8_t type;
    std::uint16_t size;
    bool required, counter;
  };
  std::vector<Expect> expected = {{"ID", column_type::kLong, 255, false, true},
                                  {"Full Name", column_type::kText, 50, true, false},
                                  {"PRICE", column_type::kCurrency, 255, false, false},
                                  {"AMOUNT", column_type::kNumeric, 255, false, false},
                                  {"BORN", column_type::kDateTime, 255, false, false},
                                  {"PHOTO", column_type::kOle, 255, false, false},
                                  {"NOTE", column_type::kMemo, 255, false, false},
                                  {"OK", column_type::kBoolean, 255, false, false},
                                  {"CODE", column_type::kLong, 255, false, false},
                                  {"G", column_type::kGuid, 255, false, false},
                                  {"B", column_type::kBinary, 16, false, false}};
  ASSERT_EQ(spec.columns.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(spec.columns[i].name, expected[i].name);
    EXPECT_EQ(spec.columns[i].type, expected[i].type);
    EXPECT_EQ(spec.columns[i].size, expected[i].size);
    EXPECT_EQ(spec.columns[i].required, expected[i].required);
    EXPECT_EQ(spec.columns[i].auto_increment, expected[i].counter);
  }
  EXPECT_EQ(spec.columns[3].precision, 12);
  EXPECT_EQ(spec.columns[3].scale, 2);
  ASSERT_EQ(spec.indexes.size(), 1u);
  EXPECT_TRUE(spec.indexes[0].primary_key);
  EXPECT_EQ(spec.indexes[0].columns[0].first, "CODE");
}

TEST(ColumnList, RefusesWhatItCannotStore) {
  struct Case {
    const char* text;
    const char* expected;
  };
  std::vector<Case> cases = {
      {"", "no columns"},
      {"A WIDGET", "unknown type 'WIDGET'"},
      {"A TEXT(300)", "1 to 255"},
      {"A DECIMAL(40,2)", "precision 1-28"},
      {"A LONG(4)", "takes no size"},
      {"A LONG NOT", "NOT must be followed by NULL"},
      {"A LONG B LONG", "unknown option 'B'"},
      {"A LONG ?", "unexpected text"},
      {"[A LONG", "not closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    NewTable spec;
    try {
      ParseColumnList(c.text, spec);
      ADD_FAILURE() << "accepted";
    } catch (const JetError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::kInvalidDefinition);
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

TEST(ColumnList, UnreadableTextNamesTheColumnDefinition) {
  // The words for text the column list cannot even be read as, exactly as a user sees them.
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[A LONG", "column definition 1 (): a name in brackets is not closed"},
      {"A LONG, [B", "column definition 2 (): a name in brackets is not closed"},
      {"A TEXT(x)", "column definition 1 (x)): a number is expected"},
      {"A DECIMAL(5,)", "column definition 1 ()): a number is expected"},
      {"A TEXT(10), B TEXT DEFAULT 'abc", "column definition 2 (): a quoted value is not closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    NewTable spec;
    try {
      ParseColumnList(c.text, spec);
      ADD_FAILURE() << "accepted";
    } catch (const JetError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::kInvalidDefinition);
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

struct Result {
  int status;
  std::string out;
};

Result Cli(const std::string& args, const std::string& input = "") {
  std::string cli = std::string(DATOVRAT_BUILD_DIR) + "/src/cli/datovrat-cli";
  std::string in_file = fs::temp_directory_path() / "jet_cli_input.csv";
  std::ofstream(in_file, std::ios::binary) << input;
  std::string out;
  FILE* p = popen((cli + " " + args + " < " + in_file + " 2>&1").c_str(), "r");
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int status = pclose(p);
  return {WEXITSTATUS(status), out};
}

TEST(MdbCli, ImportedCsvExportsBackAsItCame) {
  ASSERT_TRUE(fs::exists(std::string(DATOVRAT_BUILD_DIR) + "/src/cli/datovrat-cli"))
      << "build datovrat-cli first";
  fs::path dir = fs::temp_directory_path() / "jet_cli_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string db = (dir / "t.mdb").string();
  EXPECT_EQ(Cli("mdb create " + db).status, 0);
  Result again = Cli("mdb create " + db);
  EXPECT_NE(again.status, 0);
  EXPECT_NE(again.out.find("exists already"), std::string::npos) << again.out;

  std::string csv =
      "ID,NAME,PRICE,BORN,PHOTO,NOTE,OK,G\n"
      "7,\"Novák, Jan\",12.34,1999-12-31 "
      "23:59:58,0x00FF10,\"two\nlines\",true,{6F9619FF-8B86-D011-B42D-00C04FC964FF}\n"
      ",Žluť,,1850-01-02,,\"\",false,\n";
  Result imported = Cli("mdb import " + db +
                            " People \"ID COUNTER, NAME TEXT(50) NOT NULL, PRICE CURRENCY, BORN "
                            "DATETIME, PHOTO LONGBINARY, "
                            "NOTE MEMO, OK BIT, G GUID\"",
                        csv);
  EXPECT_EQ(imported.status, 0) << imported.out;
  Result exported = Cli("mdb export " + db + " People");
  EXPECT_EQ(exported.out,
            "ID,NAME,PRICE,BORN,PHOTO,NOTE,OK,G\n"
            "7,\"Novák, Jan\",12.34,1999-12-31 23:59:58,0x00FF10,\"two\nlines\",true,"
            "{6F9619FF-8B86-D011-B42D-00C04FC964FF}\n"
            "8,Žluť,,1850-01-02,,\"\",false,\n");
  Result json = Cli("mdb export " + db + " People --json");
  EXPECT_NE(json.out.find(
                "{\"ID\":8,\"NAME\":\"Žluť\",\"PRICE\":null,\"BORN\":\"1850-01-02\",\"PHOTO\":null,"
                "\"NOTE\":\"\",\"OK\":false,\"G\":null}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(Cli("mdb schema " + db).out.find("[NAME] TEXT(50) NOT NULL"), std::string::npos);
  EXPECT_EQ(Cli("mdb check " + db).status, 0);

  struct Case {
    const char* args;
    const char* input;
    const char* expected;
  };
  std::vector<Case> errors = {
      {"Bad1 \"N LONG\"", "N\nabc\n", "input line 2"},
      {"Bad2 \"D DATETIME\"", "D\n31.12.1999\n", "ISO 8601"},
      {"Bad3 \"X LONG\"", "Y\n1\n", "not a column"},
      {"Bad4 \"T TEXT(2)\"", "T\nabc\n", "holds 2"},
      {"Bad5 \"N LONG, M LONG\"", "N,M\n1\n", "1 fields"},
  };
  for (const auto& e : errors) {
    SCOPED_TRACE(e.args);
    Result r = Cli("mdb import " + db + " " + e.args, e.input);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(db), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(e.expected), std::string::npos) << r.out;
  }
  std::string not_mdb = (dir / "notes.txt").string();
  std::ofstream(not_mdb) << "hello\n";
  Result bad = Cli("mdb tables " + not_mdb);
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.out.find("notes.txt: not a Microsoft Access database"), std::string::npos)
      << bad.out;
  fs::remove_all(dir);
}

TEST(MdbCli, CheckReportsAnInterruptedChangeAndRecoverUndoesIt) {
  ASSERT_TRUE(fs::exists(std::string(DATOVRAT_BUILD_DIR) + "/src/cli/datovrat-cli"))
      << "build datovrat-cli first";
  fs::path dir = fs::temp_directory_path() / "jet_cli_recover_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string db = (dir / "shop.mdb").string();
  const fs::path fixture = fs::path(DATOVRAT_TESTDATA) / "jet/access/test2V2000.mdb";
  // A table added and committed, with every write of the commit on disk but the journal's
  // removal lost, as a crash at that moment leaves it: counted first, then done.
  auto add_table = [&](std::int64_t stop_at) {
    fs::remove(db);
    fs::copy_file(fixture, db);
    core::FaultInjectingFileSystem faulty(core::FileSystem::Native());
    core::FaultPlan plan;
    plan.crash_from_write = stop_at;
    faulty.SetPlan(plan);
    auto d = Database::Open(db, {.file_system = &faulty});
    Table& t =
        d->CreateTable({"Added", {NewColumn{.name = "N", .type = column_type::kLong}}, {}, ""});
    for (int i = 0; i < 2000; ++i) t.Insert(std::vector<core::Variant>{core::Variant::FromLong(i)});
    d->Commit();
    std::int64_t writes = faulty.Writes();
    d->Close();
    return writes;
  };
  add_table(add_table(core::FaultPlan::kNever));
  ASSERT_TRUE(fs::exists(db + "-journal"));

  Result check = Cli("mdb check " + db);
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("interrupted"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find(db + "-journal"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("mdb recover"), std::string::npos) << check.out;
  EXPECT_TRUE(fs::exists(db + "-journal")) << "a check must not change the file";

  Result recover = Cli("mdb recover " + db);
  EXPECT_EQ(recover.status, 0) << recover.out;
  EXPECT_NE(recover.out.find("pages put back"), std::string::npos) << recover.out;
  EXPECT_FALSE(fs::exists(db + "-journal"));
  auto bytes = [](const fs::path& f) {
    std::ifstream in(f, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_TRUE(bytes(db) == bytes(fixture)) << "the file is not as it was before the change";
  Result after = Cli("mdb check " + db);
  EXPECT_EQ(after.status, 0) << after.out;
  EXPECT_EQ(Cli("mdb tables " + db).out.find("Added"), std::string::npos);
  Result again = Cli("mdb recover " + db);
  EXPECT_NE(again.out.find("no interrupted change"), std::string::npos) << again.out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace jet
