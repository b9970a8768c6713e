// The copy run's road through the table component: definitions assigned from a source,
// CreateTable, open, and per record Append, every field assigned by position, Post. The file
// is read back by our own reader, the storage engine's check, mdbtools and mdb-reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "core/datetime.h"
#include "jet/check.h"
#include "jet/database.h"
#include "memory_dataset.h"
#include "table_fixture.h"

namespace daotabletest {
namespace {

constexpr int kRecords = 100000;

struct Expected {
  std::optional<std::string> name;
  std::optional<std::int32_t> number;
  std::int32_t small;
  double amount;
  std::int64_t price_scaled;  // currency * 10,000
  double born;
  double day;
  bool valid;
  std::optional<std::string> memo;
  std::optional<std::string> blob;
};

std::string CzechText(int r, std::size_t length) {
  static const char* words[] = {"Příliš ", "žluťoučký ", "kůň ", "úpěl ", "ďábelské ", "ódy. "};
  std::string out;
  for (int i = 0; out.size() < length; ++i) out += words[(r + i) % 6];
  return out;
}

Expected Make(int r) {
  Expected e;
  if (r % 13 != 7) e.name = (r % 2 ? "Zákazník č. " : "Čeněk Šťastný ") + std::to_string(r);
  if (r % 17 != 3) e.number = r * 37 - 1000000;
  e.small = static_cast<std::int32_t>(r % 60000) - 30000;
  e.amount = r * 1.25 + 0.1;
  e.price_scaled = static_cast<std::int64_t>(r % 100000) * 100;
  e.born =
      core::EncodeDateTime({1900 + r % 150, 1 + r % 12, 1 + r % 28, r % 24, r % 60, (r * 7) % 60});
  e.day = core::EncodeDateTime({2000 + r % 20, 1 + r % 12, 1 + r % 28});
  e.valid = r % 3 == 0;
  if (r % 7 != 3)
    e.memo = r % 5000 == 0 ? CzechText(r, 70000 + r % 100) : "Poznámka " + std::to_string(r);
  if (r % 11 != 5) {
    std::size_t n = r % 1000 == 0 ? 100000 : 16;
    std::string b(n, '\0');
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>((r + i * 31) & 0xFF);
    e.blob = b;
  }
  return e;
}

core::Variant Opt(const std::optional<std::string>& s) {
  return s ? core::Variant(*s) : core::Variant::Null();
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string DateText(double d) {
  core::DateParts p = core::DecodeDateTime(d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

TEST_F(TableTest, CopyRoadOfEveryCopyableSourceTypeReadsBackEqual) {
  dstest::TMemoryDataset source;
  ds::TFieldDefs& schema = source.Schema();
  schema.Add("NAZEV", ds::ftString, 40);
  schema.Add("CISLO", ds::ftInteger);
  schema.Add("MALE", ds::ftSmallint);
  schema.Add("CASTKA", ds::ftFloat);
  schema.Add("CENA", ds::ftCurrency);
  schema.Add("NAROZEN", ds::ftDateTime);
  schema.Add("DEN", ds::ftDate);
  schema.Add("PLATI", ds::ftBoolean);
  schema.Add("POZNAMKA", ds::ftMemo);
  schema.Add("DATA", ds::ftBlob);
  source.Open();
  for (int r = 0; r < kRecords; ++r) {
    Expected e = Make(r);
    std::vector<core::Variant> row = {
        Opt(e.name),
        e.number ? core::Variant(*e.number) : core::Variant::Null(),
        core::Variant(e.small),
        core::Variant(e.amount),
        core::Variant(static_cast<double>(e.price_scaled) / 10000.0),
        core::Variant::FromDate(e.born),
        core::Variant::FromDate(e.day),
        core::Variant(e.valid),
        Opt(e.memo),
        e.blob ? core::Variant::FromBytes(std::vector<std::uint8_t>(e.blob->begin(), e.blob->end()))
               : core::Variant::Null()};
    source.AppendRecord(row);
  }
  source.First();

  TMxDaoTable* dest = NewTable();
  dest->SetTableName("KOPIE");
  dest->FieldDefs().Assign(source.FieldDefs());
  dest->CreateTable();
  dest->Open();
  ASSERT_EQ(dest->FieldCount(), source.FieldCount());
  while (!source.Eof()) {
    dest->Append();
    for (int i = 0; i < dest->FieldCount(); ++i) dest->Fields()[i].Assign(source.Fields()[i]);
    dest->Post();
    source.Next();
  }
  EXPECT_EQ(dest->RecordCount(), kRecords);
  dest->Close();
  db->Close();

  {
    auto engine = dao::DBEngine::Create();
    auto rdb = engine->OpenDatabase(path, false, true);
    auto rs = rdb->OpenRecordset("KOPIE", dao::dbOpenSnapshot);
    int r = 0;
    for (; !rs->Eof(); rs->MoveNext(), ++r) {
      Expected e = Make(r);
      auto v = [&](int i) { return rs->Fields().Item(i)->Value(); };
      ASSERT_EQ(v(0).IsNull(), !e.name) << r;
      if (e.name) {
        ASSERT_EQ(v(0).ToString(), *e.name) << r;
      }
      ASSERT_EQ(v(1).IsNull(), !e.number) << r;
      if (e.number) {
        ASSERT_EQ(v(1).ToLong(), *e.number) << r;
      }
      ASSERT_EQ(v(2).ToLong(), e.small) << r;
      ASSERT_EQ(v(3).ToDouble(), e.amount) << r;
      ASSERT_EQ(v(4).ToCurrency().scaled, e.price_scaled) << r;
      ASSERT_EQ(v(5).ToDate(), e.born) << r;
      ASSERT_EQ(v(6).ToDate(), e.day) << r;
      ASSERT_EQ(v(7).ToBoolean(), e.valid) << r;
      ASSERT_EQ(v(8).IsNull(), !e.memo) << r;
      if (e.memo) {
        ASSERT_EQ(v(8).ToString(), *e.memo) << r;
      }
      ASSERT_EQ(v(9).IsNull(), !e.blob) << r;
      if (e.blob) {
        const auto& bytes = v(9).Bytes();
        ASSERT_EQ(std::string(bytes.begin(), bytes.end()), *e.blob) << r;
      }
    }
    EXPECT_EQ(r, kRecords);
  }
  {
    auto jdb = jet::Database::Open(path);
    jet::CheckReport report = jet::CheckDatabase(*jdb);
    EXPECT_TRUE(report.Clean()) << (report.problems.empty() ? "" : report.problems[0]);
  }

  if (daotest::HaveMdbTools()) {
    auto rows = daotest::MdbExport(path, "KOPIE");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecords + 1));
    for (int r = 0; r < kRecords; ++r) {
      Expected e = Make(r);
      bool sample = r % 101 == 0 || r % 5000 == 0;
      if (!sample) continue;
      const auto& row = rows[static_cast<std::size_t>(r) + 1];
      ASSERT_EQ(row.size(), 10u) << r;
      EXPECT_EQ(row[0], e.name.value_or("")) << r;
      EXPECT_EQ(row[1], e.number ? std::to_string(*e.number) : "") << r;
      EXPECT_EQ(row[2], std::to_string(e.small)) << r;
      EXPECT_NEAR(std::stod(row[3]), e.amount, 1e-9 * std::max(1.0, std::fabs(e.amount))) << r;
      EXPECT_NEAR(std::stod(row[4]), static_cast<double>(e.price_scaled) / 10000.0, 1e-6) << r;
      EXPECT_EQ(row[5], DateText(e.born)) << r;
      EXPECT_EQ(row[6].substr(0, 10), DateText(e.day).substr(0, 10)) << r;
      EXPECT_EQ(row[7] != "0", e.valid) << r << " " << row[7];
      EXPECT_EQ(row[8], e.memo.value_or("")) << r;
    }
  } else {
    ADD_FAILURE() << "mdbtools are missing";
  }

  if (daotest::HaveMdbReader()) {
    auto rows = daotest::MdbReaderRows(path, "KOPIE");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecords));
    for (int r = 0; r < kRecords; r += 997) {
      Expected e = Make(r);
      const std::string& row = rows[static_cast<std::size_t>(r)];
      std::string head = "[" + (e.name ? JsonString(*e.name) : "null") + "," +
                         (e.number ? std::to_string(*e.number) : "null") + "," +
                         std::to_string(e.small) + ",";
      EXPECT_EQ(row.rfind(head, 0), 0u) << row.substr(0, 200);
      EXPECT_NE(row.find(e.valid ? ",true," : ",false,"), std::string::npos) << r;
      if (e.memo) {
        EXPECT_NE(row.find(JsonString(*e.memo)), std::string::npos) << r;
      }
      if (e.blob) {
        EXPECT_NE(row.find("\"0x" + Hex(*e.blob) + "\""), std::string::npos) << r;
      }
    }
    // The rows with the long memos and blobs.
    for (int r = 0; r < kRecords; r += 5000) {
      Expected e = Make(r);
      const std::string& row = rows[static_cast<std::size_t>(r)];
      if (e.memo) {
        EXPECT_NE(row.find(JsonString(*e.memo)), std::string::npos) << r;
      }
      if (e.blob) {
        EXPECT_NE(row.find("\"0x" + Hex(*e.blob) + "\""), std::string::npos) << r;
      }
    }
  } else {
    ADD_FAILURE() << "mdb-reader is missing (tests/oracles)";
  }
}

}  // namespace
}  // namespace daotabletest
