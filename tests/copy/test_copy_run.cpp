// The copy run against a recording view: what the view is told and asked, in which order, and
// what arrives in the destination (read back through DAO, mdbtools and our own check).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../dao/dao_test_util.h"
#include "bde/table.h"
#include "copy/copy_run.h"
#include "core/errors.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"
#include "jet/check.h"
#include "jet/database.h"

namespace {

namespace fs = std::filesystem;

std::string Fixture(const std::string& relative) {
  return std::string(DATOVRAT_TESTDATA) + "/bde/" + relative;
}

// A dBase III table of character fields, laid out byte by byte: header, one 32-byte descriptor
// per field, the 0x0D terminator, then the records (a blank deletion flag and the values padded
// with blanks) and the 0x1A end mark.
void WriteDbf(const std::string& path, const std::vector<std::pair<std::string, int>>& fields,
              const std::vector<std::vector<std::string>>& records) {
  int record_size = 1;
  for (const auto& f : fields) record_size += f.second;
  const int header_size = 32 + 32 * static_cast<int>(fields.size()) + 1;
  std::string out(32, '\0');
  out[0] = 0x03;
  out[1] = 99;
  out[2] = 1;
  out[3] = 1;
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto put16 = [&](std::size_t at, int v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  put32(4, static_cast<std::uint32_t>(records.size()));
  put16(8, header_size);
  put16(10, record_size);
  out[29] = 0x03;  // code page 1252
  for (const auto& [name, length] : fields) {
    std::string d(32, '\0');
    std::memcpy(d.data(), name.data(), std::min<std::size_t>(name.size(), 10));
    d[11] = 'C';
    d[16] = static_cast<char>(length);
    out += d;
  }
  out += '\x0D';
  for (const auto& r : records) {
    out += ' ';
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::string v = i < r.size() ? r[i] : "";
      v.resize(static_cast<std::size_t>(fields[i].second), ' ');
      out += v;
    }
  }
  out += '\x1A';
  std::ofstream(path, std::ios::binary) << out;
}

// Records everything the run does to the view; answers from a list; can ask for an interrupt
// when messages are processed after a given record.
class RecordingView : public copy::CopyView {
 public:
  void EnterCopying() override { log.push_back("enter"); }
  void LeaveCopying() override { log.push_back("leave"); }
  void SetGaugeMax(std::int32_t max) override {
    if (max > 0) max_ = max;
  }
  void SetGaugeProgress(std::int32_t progress) override {
    progress_ = std::min(std::max(progress, 0), max_);
  }
  std::int32_t GaugeProgress() const override { return progress_; }
  void SetGaugeCaption(const std::string& path) override { log.push_back("caption " + path); }
  void HideGauge() override { log.push_back("hide"); }
  void ProcessMessages() override {
    log.push_back("messages at " + std::to_string(progress_));
    if (interrupt_at >= 0 && progress_ >= interrupt_at) interrupted = true;
  }
  bool InterruptRequested() const override { return interrupted; }
  int AskFieldError(const std::string& prompt) override {
    prompts.push_back(prompt);
    if (answers.empty()) return copy::kAnswerNo;
    int a = answers.front();
    answers.erase(answers.begin());
    return a;
  }

  std::vector<std::string> log;
  std::vector<std::string> prompts;
  std::vector<int> answers;
  int interrupt_at = -1;
  bool interrupted = false;

 private:
  std::int32_t max_ = 100;
  std::int32_t progress_ = 0;
};

class CopyRun : public ::testing::Test {
 protected:
  void SetUp() override {
    destination_ = dir_.Path("dest.mdb");
    database_.BeginLoading();
    database_.EndLoading();
    table_.SetDatabase(&database_);
  }

  copy::CopyResult Run(const std::vector<std::string>& files, bool expect_error = false) {
    copy::CopyResult result;
    copy::CopyComponents components{&source_, &database_, &table_};
    bool raised = false;
    try {
      copy::CopyTables(view_, components, destination_, files, {}, result);
    } catch (const core::Exception& e) {
      raised = true;
      error_ = e.what();
    }
    EXPECT_EQ(raised, expect_error) << error_;
    EXPECT_FALSE(database_.Connected());
    EXPECT_EQ(view_.log.back(), "leave");
    return result;
  }

  std::vector<std::vector<core::Variant>> Rows(const std::string& table) {
    auto engine = dao::DBEngine::Create();
    auto db = engine->OpenDatabase(destination_, false, true);
    auto rs = db->OpenRecordset(table, dao::dbOpenSnapshot);
    std::vector<std::vector<core::Variant>> rows;
    while (!rs->Eof()) {
      std::vector<core::Variant> row;
      for (int i = 0; i < rs->Fields().Count(); ++i) row.push_back(rs->Fields().Item(i)->Value());
      rows.push_back(row);
      rs->MoveNext();
    }
    return rows;
  }

  void ExpectCleanCheck() {
    auto db = jet::Database::Open(destination_, jet::OpenOptions{.read_only = true});
    auto report = jet::CheckDatabase(*db);
    EXPECT_TRUE(report.problems.empty()) << (report.problems.empty() ? "" : report.problems[0]);
  }

  daotest::TempDir dir_;
  std::string destination_;
  bde::TTable source_;
  daodb::TMxDaoDatabase database_;
  daotable::TMxDaoTable table_;
  RecordingView view_;
  std::string error_;
};

TEST(CopyRunNames, TableNameFromFile) {
  struct Case {
    const char* file;
    const char* table;
  };
  for (const Case& c :
       {Case{"SKLAD.DBF", "SKLAD"}, Case{"/data/a.b.dbf", "a"}, Case{"C:\\data\\.dbf", ""},
        Case{"/x/NAME", "NAME"}, Case{"dir.d/KLIENT.DB", "KLIENT"}})
    EXPECT_EQ(copy::TableNameFromFile(c.file), c.table) << c.file;
}

TEST(CopyRunNames, ShortenPathKeepsTheFileNameWhole) {
  // One unit per character, so the limits read as lengths.
  auto width = [](const std::string& s) { return static_cast<int>(s.size()); };
  struct Case {
    const char* path;
    int limit;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\data\\old\\2001\\SKLAD.DBF", 100, "C:\\data\\old\\2001\\SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 25, "C:\\...\\old\\2001\\SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 24, "C:\\...\\2001\\SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 20, "C:\\...\\SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 15, "...\\SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 13, "...\\SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 12, "SKLAD.DBF"},
      {"C:\\data\\old\\2001\\SKLAD.DBF", 3, "SKLAD.DBF"},
      {"C:\\SKLAD.DBF", 10, "SKLAD.DBF"},
      {"/home/jana/účetnictví/2001/SKLAD.DBF", 30, "/.../2001/SKLAD.DBF"},
      {"/home/jana/SKLAD.DBF", 12, "SKLAD.DBF"},
      {"data/old/SKLAD.DBF", 16, ".../SKLAD.DBF"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(copy::ShortenPath(c.path, c.limit, width), c.expected) << c.path << " " << c.limit;
}

TEST_F(CopyRun, EveryTableArrivesWholeAndTheViewFollows) {
  copy::CopyResult result = Run({Fixture("synthetic/types4.dbf"), Fixture("synthetic/czech852.db"),
                                 Fixture("synthetic/empty.dbf")});
  EXPECT_EQ(result.ending, copy::CopyEnding::Completed);
  ASSERT_EQ(result.tables.size(), 3u);
  EXPECT_EQ(result.tables[0].table, "types4");
  EXPECT_EQ(result.tables[0].records, 3);  // the deleted record stays behind
  EXPECT_TRUE(result.tables[0].complete);
  EXPECT_EQ(result.tables[2].records, 0);
  EXPECT_EQ(view_.log.front(), "enter");
  EXPECT_EQ(view_.log[1], "messages at 0");
  EXPECT_EQ(view_.log[2], "caption " + Fixture("synthetic/types4.dbf"));
  EXPECT_EQ(view_.log[view_.log.size() - 2], "hide");

  // Values as the source reads them, through another reader.
  bde::TTable check;
  check.SetDatabaseName(Fixture("synthetic/"));
  check.SetTableName("types4.dbf");
  check.Open();
  auto rows = Rows("types4");
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t r = 0; r < rows.size(); ++r, check.Next()) {
    for (int f = 0; f < check.FieldCount(); ++f) {
      SCOPED_TRACE("record " + std::to_string(r + 1) + " field " + check.Fields()[f].FieldName());
      core::Variant expected = check.Fields()[f].Value();
      if (expected.IsNull() && check.Fields()[f].DataType() == ds::ftBoolean)
        expected = core::Variant::FromBoolean(false);
      if (expected.IsNull()) {
        EXPECT_TRUE(rows[r][static_cast<std::size_t>(f)].IsNull());
      } else {
        EXPECT_EQ(rows[r][static_cast<std::size_t>(f)].ToString(), expected.ToString());
      }
    }
  }
  ExpectCleanCheck();
  if (daotest::HaveMdbTools()) {
    auto rows852 = daotest::MdbExport(destination_, "czech852");
    ASSERT_GE(rows852.size(), 2u);
  }
}

TEST_F(CopyRun, MessagesEveryTenRecordsAndTheInterruptBetweenRecords) {
  std::vector<std::vector<std::string>> records;
  for (int i = 1; i <= 25; ++i) records.push_back({std::to_string(i)});
  WriteDbf(dir_.Path("T25.DBF"), {{"N", 4}}, records);
  WriteDbf(dir_.Path("LATER.DBF"), {{"N", 4}}, {{"x"}});

  copy::CopyResult all = Run({dir_.Path("T25.DBF")});
  std::vector<std::string> messages;
  for (const auto& l : view_.log)
    if (l.rfind("messages", 0) == 0) messages.push_back(l);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"messages at 0", "messages at 10", "messages at 20"}));
  EXPECT_EQ(all.tables[0].records, 25);

  // An interrupt asked for after record 20 takes effect before record 21; later files are
  // skipped and the gauge is left shown.
  view_ = RecordingView{};
  view_.interrupt_at = 20;
  copy::CopyResult stopped = Run({dir_.Path("T25.DBF"), dir_.Path("LATER.DBF")});
  EXPECT_EQ(stopped.ending, copy::CopyEnding::Interrupted);
  ASSERT_EQ(stopped.tables.size(), 1u);
  EXPECT_EQ(stopped.tables[0].records, 20);
  EXPECT_FALSE(stopped.tables[0].complete);
  EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "hide"), 0);
  EXPECT_EQ(Rows("T25").size(), 20u);
  EXPECT_FALSE(database_.HasTable("LATER"));
  ExpectCleanCheck();
}

TEST_F(CopyRun, FieldErrorsFollowTheAnswers) {
  // The source reader refuses the date of the first record; the second is good.
  const std::string bad = Fixture("dbase/dbfread/invalid_value.dbf");

  // Yes: the field stays empty, the record is posted, the next failure asks again.
  view_.answers = {copy::kAnswerYes, copy::kAnswerYes};
  copy::CopyResult yes = Run({bad, bad});
  EXPECT_EQ(view_.prompts.size(), 2u);  // once per table: the answer does not carry over
  ASSERT_EQ(yes.tables.size(), 2u);
  EXPECT_EQ(yes.tables[0].records, 2);
  ASSERT_EQ(yes.tables[0].skipped.size(), 1u);
  EXPECT_EQ(yes.tables[0].skipped[0].record, 1);
  EXPECT_EQ(yes.tables[0].skipped[0].field, "BIRTHDATE");
  EXPECT_NE(view_.prompts[0].find("\r\nPokračovat?"), std::string::npos);
  EXPECT_EQ(yes.tables[1].replaced_source, bad);

  // No: the run ends with that error; the failing record is not posted.
  view_ = RecordingView{};
  view_.answers = {copy::kAnswerNo};
  copy::CopyResult no = Run({bad}, true);
  EXPECT_EQ(no.ending, copy::CopyEnding::Failed);
  EXPECT_NE(error_.find("BIRTHDATE"), std::string::npos) << error_;
  EXPECT_TRUE(Rows("invalid_value").empty());
  ExpectCleanCheck();
}

TEST_F(CopyRun, AnExistingDatabaseKeepsItsOtherTables) {
  ASSERT_TRUE(Run({Fixture("synthetic/memo3.dbf")}).tables[0].complete);
  WriteDbf(dir_.Path("MEMO3.DBF"), {{"A", 3}}, {{"x"}, {"y"}});
  WriteDbf(dir_.Path("OTHER.DBF"), {{"B", 3}}, {{"z"}});
  Run({dir_.Path("OTHER.DBF")});
  // The same name in another case replaces the table; the other table stays.
  Run({dir_.Path("MEMO3.DBF")});
  database_.Open();
  EXPECT_EQ(database_.TableNames().Text(), "MEMO3\r\nOTHER\r\n");
  database_.Close();
  EXPECT_EQ(Rows("MEMO3").size(), 2u);
  EXPECT_EQ(Rows("OTHER").size(), 1u);
  ExpectCleanCheck();
}

TEST_F(CopyRun, AnUnreadableSourceEndsTheRunAfterCleanUp) {
  std::ofstream(dir_.Path("BAD.DBF")) << "not a table";
  copy::CopyResult r = Run({Fixture("synthetic/memo3.dbf"), dir_.Path("BAD.DBF")}, true);
  EXPECT_EQ(r.ending, copy::CopyEnding::Failed);
  EXPECT_NE(error_.find("BAD.DBF"), std::string::npos) << error_;
  EXPECT_TRUE(r.tables[0].complete);
  EXPECT_EQ(Rows("memo3").size(), 2u);
}

// Digits a Currency column would cut go into a Decimal column; AutoNumber values arrive as the
// source has them, and the column numbers on after the largest.
TEST_F(CopyRun, NumbersKeepTheirDigitsAndAutoNumbersTheirValues) {
  // A dBase 7 table whose autoincrement field (big-endian, sign bit flipped) is patched to
  // hold 7, 3 and 100 in its first three records.
  const std::string dbf = dir_.Path("inventory.dbf");
  fs::copy_file(std::string(DATOVRAT_TESTDATA) + "/bde/dbase/javadbf/inventory.dbf", dbf);
  fs::copy_file(std::string(DATOVRAT_TESTDATA) + "/bde/dbase/javadbf/inventory.dbt",
                dir_.Path("inventory.dbt"));
  {
    std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char head[12];
    f.read(reinterpret_cast<char*>(head), sizeof head);
    const int header_size = head[8] | head[9] << 8;
    const int record_size = head[10] | head[11] << 8;
    const std::uint32_t ids[] = {7, 3, 100};
    for (int r = 0; r < 3; ++r) {
      const std::uint32_t v = ids[r] ^ 0x80000000u;
      const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                             static_cast<char>(v >> 8), static_cast<char>(v)};
      f.seekp(header_size + r * record_size + 1);
      f.write(bytes, 4);
    }
  }
  copy::CopyResult result = Run({Fixture("paradox/paradoxdriver/fields/bcd.db"), dbf});
  ASSERT_EQ(result.ending, copy::CopyEnding::Completed);
  ASSERT_EQ(result.tables.size(), 2u);
  EXPECT_EQ(result.tables[0].type_changes,
            std::vector<std::string>{
                "C: stored as Decimal(28,28) instead of Currency so that its values are kept "
                "whole"});
  EXPECT_TRUE(result.tables[1].changes.empty());

  auto engine = dao::DBEngine::Create();
  auto db = engine->OpenDatabase(destination_, false, false);
  // Two decimals fit Currency, as does none; 32 decimals need a Decimal (28 digits at most).
  auto bcd = db->TableDefs().Item("bcd");
  EXPECT_EQ(bcd->Fields().Item("A")->Type(), dao::dbCurrency);
  EXPECT_EQ(bcd->Fields().Item("B")->Type(), dao::dbCurrency);
  EXPECT_EQ(bcd->Fields().Item("C")->Type(), dao::dbDecimal);
  EXPECT_EQ(bcd->Fields().Item("C")->Precision(), 28);
  EXPECT_EQ(bcd->Fields().Item("C")->Scale(), 28);
  auto numbers = db->OpenRecordset("bcd", dao::dbOpenTable);
  EXPECT_EQ(numbers->Fields().Item("A")->Value().ToString(), "1.23");
  EXPECT_EQ(numbers->Fields().Item("C")->Value().ToString(), "0.123");
  numbers->MoveLast();
  EXPECT_EQ(numbers->Fields().Item("C")->Value().ToString(), "0.9999");

  auto items = db->OpenRecordset("inventory", dao::dbOpenTable);
  std::vector<std::int64_t> ids;
  for (; !items->Eof(); items->MoveNext())
    ids.push_back(items->Fields().Item("Item ID")->Value().ToInt64());
  EXPECT_EQ(ids, (std::vector<std::int64_t>{7, 3, 100, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // A record added later takes the number after the largest; numbers stay unchangeable.
  items->AddNew();
  items->Fields().Item("Description")->SetValue(core::Variant::FromString("later"));
  items->Update();
  items->MoveLast();
  EXPECT_EQ(items->Fields().Item("Item ID")->Value().ToInt64(), 101);
  items->Edit();
  EXPECT_THROW(items->Fields().Item("Item ID")->SetValue(core::Variant::FromLong(5)),
               core::Exception);
  items->CancelUpdate();
  items->Close();
  numbers->Close();
  db->Close();
  ExpectCleanCheck();
  if (daotest::HaveMdbTools()) {
    EXPECT_EQ(daotest::MdbExport(destination_, "inventory").size(), 14u);
  }
}

}  // namespace
