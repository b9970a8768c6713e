// The copy run's per-record DAO sequence (AddNew, Field.Value = text for every field, Update,
// MoveLast, MoveNext, LastModified, Bookmark := that bookmark) against inserting the same rows
// straight through jet::Table::Insert with ready-made values. Both write a fresh file and close
// it; each is run three times, alternating, and the fastest run of each counts.
//
//   bench_dao_copy_sequence [records] [directory] [dao|storage]
// (defaults: 1000000, /tmp, both; naming one side runs it alone, for a profiler)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "dao/dao.h"
#include "jet/database.h"

namespace {

struct Record {
  std::string name, amount, active, note, num;
  double born;
  // The same values ready for the storage engine.
  core::Variant v_name, v_amount, v_born, v_active, v_note, v_num;
};

std::vector<Record> MakeRecords(int n) {
  std::vector<Record> out(static_cast<std::size_t>(n));
  for (int r = 0; r < n; ++r) {
    Record& x = out[static_cast<std::size_t>(r)];
    x.name = (r % 7 == 0 ? "Žluťoučký kůň " : "Zákazník ") + std::to_string(r);
    long long cents = (static_cast<long long>(r) * 7919) % 100000000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld.%04lld", cents / 10000, cents % 10000);
    x.amount = buf;
    x.born = core::EncodeDateTime({1900 + r % 200, 1 + r % 12, 1 + r % 28, r % 24, r % 60, 0, 0});
    x.active = r % 3 ? "True" : "False";
    x.note = "Poznámka " + std::to_string(r * 3);
    x.num = std::to_string(r);
    x.v_name = core::Variant::FromString(x.name);
    core::Currency c;
    core::TryTextToCurrency(x.amount, c);
    x.v_amount = core::Variant::FromCurrency(c);
    x.v_born = core::Variant::FromDate(x.born);
    x.v_active = core::Variant::FromBoolean(r % 3 != 0);
    x.v_note = core::Variant::FromString(x.note);
    x.v_num = core::Variant::FromLong(r);
  }
  return out;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double RunStorage(const std::vector<Record>& records, const std::string& path) {
  std::filesystem::remove(path);
  auto start = std::chrono::steady_clock::now();
  auto db = jet::Database::Create(path);
  jet::NewTable spec;
  spec.name = "KLIENT";
  auto col = [](const char* name, std::uint8_t type, std::uint16_t size = 255) {
    jet::NewColumn c;
    c.name = name;
    c.type = type;
    c.size = size;
    c.allow_zero_length = false;
    return c;
  };
  spec.columns = {
      col("ID", jet::column_type::kLong),         col("NAME", jet::column_type::kText, 40),
      col("AMOUNT", jet::column_type::kCurrency), col("BORN", jet::column_type::kDateTime),
      col("ACTIVE", jet::column_type::kBoolean),  col("NOTE", jet::column_type::kMemo),
      col("NUM", jet::column_type::kLong)};
  spec.columns[0].auto_increment = true;
  jet::Table& t = db->CreateTable(spec);
  std::vector<core::Variant> row(7);
  for (const Record& x : records) {
    row[0] = core::Variant();
    row[1] = x.v_name;
    row[2] = x.v_amount;
    row[3] = x.v_born;
    row[4] = x.v_active;
    row[5] = x.v_note;
    row[6] = x.v_num;
    t.Insert(row);
  }
  db->Close();
  return Seconds(std::chrono::steady_clock::now() - start);
}

double RunDao(const std::vector<Record>& records, const std::string& path) {
  std::filesystem::remove(path);
  auto start = std::chrono::steady_clock::now();
  auto engine = dao::DBEngine::Create();
  auto ws = engine->CreateWorkspace("DaoWorkspace", "Admin", "", dao::dbUseJet);
  engine->Workspaces().Append(ws);
  ws->CreateDatabase(path, dao::dbLangGeneral, dao::dbVersion40);
  auto db = ws->OpenDatabase(path, false, false, ";UID=Admin;PWD=;");
  auto td = db->CreateTableDef("KLIENT");
  const std::pair<const char*, int> fields[] = {{"ID", dao::dbLong},         {"NAME", dao::dbText},
                                                {"AMOUNT", dao::dbCurrency}, {"BORN", dao::dbDate},
                                                {"ACTIVE", dao::dbBoolean},  {"NOTE", dao::dbMemo},
                                                {"NUM", dao::dbLong}};
  for (auto [name, type] : fields)
    td->Fields().Append(td->CreateField(name, type, type == dao::dbText ? 40 : 0));
  td->Fields().Item("ID")->SetAttributes(dao::dbAutoIncrField);
  db->TableDefs().Append(td);
  auto rs = db->OpenRecordset("KLIENT", dao::dbOpenDynaset, 0, dao::dbOptimistic);
  std::vector<std::shared_ptr<dao::Field>> f;
  for (int i = 0; i < rs->Fields().Count(); ++i) f.push_back(rs->Fields().Item(i));
  for (const Record& x : records) {
    rs->AddNew();
    f[1]->SetValue(std::string_view(x.name));
    f[2]->SetValue(std::string_view(x.amount));
    f[3]->SetValue(core::Variant::FromDate(x.born));
    f[4]->SetValue(std::string_view(x.active));
    f[5]->SetValue(std::string_view(x.note));
    f[6]->SetValue(std::string_view(x.num));
    rs->Update();
    rs->MoveLast();
    rs->MoveNext();
    core::Variant last = rs->LastModified();
    const auto& b = last.Bytes();
    rs->SetBookmark(core::Variant::FromBytes({b[0], b[1], b[2], b[3]}));
    engine->Idle(dao::dbFreeLocks);
    engine->Idle(dao::dbRefreshCache);
  }
  rs->Close();
  db->Close();
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  std::vector<Record> records = MakeRecords(n);
  std::string a = dir + "/bench_dao_storage.mdb", b = dir + "/bench_dao_copy.mdb";
  std::string only = argc > 3 ? argv[3] : "";
  double storage = 1e100, dao_time = 1e100;
  for (int round = 0; round < 3; ++round) {
    if (only != "dao") storage = std::min(storage, RunStorage(records, a));
    if (only != "storage") dao_time = std::min(dao_time, RunDao(records, b));
  }
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  std::printf("records                      %d\n", n);
  std::printf("jet::Table::Insert           %.3f s  (%.0f rows/s)\n", storage, n / storage);
  std::printf("DAO copy sequence            %.3f s  (%.0f rows/s)\n", dao_time, n / dao_time);
  std::printf("ratio DAO / storage engine   %.2f\n", dao_time / storage);
  return 0;
}
