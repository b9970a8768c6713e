// The copy run's road through TMxDaoTable (TableName, FieldDefs assigned, CreateTable, Open,
// then per record Append, every field assigned by position, Post; Close) against the DAO
// layer's own AddNew / Field.Value / Update loop writing the same rows into the same table
// shape. Both write a fresh file and close it; the rounds alternate and the fastest of each
// counts. The resident size is sampled every 100,000 records of the table road, to show that
// it stays flat.
//
//   bench_daotable_copy_road [records] [directory] [rounds] [table|dao]
// (defaults: 1000000, /tmp, 2, both; naming one side runs it alone, for a profiler)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/variant.h"
#include "dao/dao.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"

namespace {

// Ten columns: their values in native form (what the table's fields are given) and as the texts
// DAO is handed in its own loop.
struct Rows {
  int n = 0;
  std::vector<std::string> name, city, note;
  std::vector<std::int32_t> qty, small, code;
  std::vector<double> amount, price, born;
  std::vector<bool> active;
  std::vector<std::string> qty_text, small_text, code_text, amount_text, price_text;
};

Rows MakeRows(int n) {
  Rows r;
  r.n = n;
  static const char* names[] = {"Žluťoučký kůň ", "Zákazník ", "Čeněk Šťastný ", "Ředitelství "};
  static const char* cities[] = {"Praha", "Brno", "České Budějovice", "Ústí nad Labem", "Plzeň"};
  for (int i = 0; i < n; ++i) {
    r.name.push_back(names[i % 4] + std::to_string(i));
    r.city.push_back(cities[i % 5]);
    r.note.push_back("Poznámka k záznamu " + std::to_string(i * 3));
    r.qty.push_back(i);
    r.small.push_back(i % 30000);
    r.code.push_back(i * 7 % 1000003);
    r.amount.push_back(i * 1.25 + 0.5);
    r.price.push_back(static_cast<double>(i % 1000000) / 100.0);
    r.born.push_back(
        core::EncodeDateTime({1900 + i % 200, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 59, 0}));
    r.active.push_back(i % 3 != 0);
    r.qty_text.push_back(std::to_string(r.qty.back()));
    r.small_text.push_back(std::to_string(r.small.back()));
    r.code_text.push_back(std::to_string(r.code.back()));
    r.amount_text.push_back(core::FloatToText(r.amount.back()));
    r.price_text.push_back(core::FloatToText(r.price.back()));
  }
  return r;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Processor time of the process (user + system): the machine is shared, so wall time alone
// says as much about the neighbours as about the code.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double g_cpu = 0;

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The field definitions a source table would hand over.
void DefineFields(ds::TFieldDefs& defs) {
  defs.Add("NAME", ds::ftString, 40);
  defs.Add("CITY", ds::ftString, 30);
  defs.Add("QTY", ds::ftInteger);
  defs.Add("SMALL", ds::ftSmallint);
  defs.Add("AMOUNT", ds::ftFloat);
  defs.Add("PRICE", ds::ftCurrency);
  defs.Add("BORN", ds::ftDateTime);
  defs.Add("ACTIVE", ds::ftBoolean);
  defs.Add("NOTE", ds::ftMemo);
  defs.Add("CODE", ds::ftInteger);
}

std::vector<long> g_rss, g_dao_rss;

double RunTable(const Rows& rows, const std::string& path) {
  std::filesystem::remove(path);
  g_rss.clear();
  double cpu = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  {
    ds::TComponent owner;
    auto* db = new daodb::TMxDaoDatabase(&owner);
    db->Loaded();
    db->CreateAccessDatabase(path);
    db->SetDatabase(path);
    db->Open();
    auto* table = new daotable::TMxDaoTable(&owner);
    table->SetDatabase(db);
    table->SetTableName("KLIENT");
    ds::TFieldDefs source(nullptr);
    DefineFields(source);
    table->FieldDefs().Assign(source);
    table->CreateTable();
    table->Open();
    ds::TFields& f = table->Fields();
    for (int i = 0; i < rows.n; ++i) {
      auto k = static_cast<std::size_t>(i);
      table->Append();
      f[0].SetAsString(rows.name[k]);
      f[1].SetAsString(rows.city[k]);
      f[2].SetAsInteger(rows.qty[k]);
      f[3].SetAsInteger(rows.small[k]);
      f[4].SetAsFloat(rows.amount[k]);
      f[5].SetAsCurrency(rows.price[k]);
      f[6].SetAsDateTime(rows.born[k]);
      f[7].SetAsBoolean(rows.active[k]);
      f[8].SetAsString(rows.note[k]);
      f[9].SetAsInteger(rows.code[k]);
      table->Post();
      if ((i + 1) % 100000 == 0) g_rss.push_back(ResidentKiB());
    }
    table->Close();
    db->Close();
  }
  g_cpu = CpuSeconds() - cpu;
  return Seconds(std::chrono::steady_clock::now() - start);
}

double RunDao(const Rows& rows, const std::string& path) {
  std::filesystem::remove(path);
  g_dao_rss.clear();
  double cpu = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  {
    auto engine = dao::DBEngine::Create();
    auto ws = engine->CreateWorkspace("DaoWorkspace", "Admin", "", dao::dbUseJet);
    engine->Workspaces().Append(ws);
    ws->CreateDatabase(path, dao::dbLangGeneral, dao::dbVersion40)->Close();
    auto db = ws->OpenDatabase(path, false, false, ";UID=Admin;PWD=;");
    auto td = db->CreateTableDef("KLIENT");
    const std::pair<const char*, int> fields[] = {
        {"NAME", dao::dbText},     {"CITY", dao::dbText},      {"QTY", dao::dbLong},
        {"SMALL", dao::dbInteger}, {"AMOUNT", dao::dbDouble},  {"PRICE", dao::dbCurrency},
        {"BORN", dao::dbDate},     {"ACTIVE", dao::dbBoolean}, {"NOTE", dao::dbMemo},
        {"CODE", dao::dbLong}};
    for (auto [name, type] : fields) {
      int size = std::string(name) == "NAME" ? 40 : std::string(name) == "CITY" ? 30 : 0;
      td->Fields().Append(td->CreateField(name, type, size));
    }
    db->TableDefs().Append(td);
    auto rs = db->OpenRecordset("KLIENT", dao::dbOpenDynaset, 0, dao::dbOptimistic);
    std::vector<std::shared_ptr<dao::Field>> f;
    for (int i = 0; i < rs->Fields().Count(); ++i) f.push_back(rs->Fields().Item(i));
    for (int i = 0; i < rows.n; ++i) {
      auto k = static_cast<std::size_t>(i);
      rs->AddNew();
      f[0]->SetValue(std::string_view(rows.name[k]));
      f[1]->SetValue(std::string_view(rows.city[k]));
      f[2]->SetValue(std::string_view(rows.qty_text[k]));
      f[3]->SetValue(std::string_view(rows.small_text[k]));
      f[4]->SetValue(std::string_view(rows.amount_text[k]));
      f[5]->SetValue(std::string_view(rows.price_text[k]));
      f[6]->SetValue(core::Variant::FromDate(rows.born[k]));
      f[7]->SetValue(std::string_view(rows.active[k] ? "True" : "False"));
      f[8]->SetValue(std::string_view(rows.note[k]));
      f[9]->SetValue(std::string_view(rows.code_text[k]));
      rs->Update();
      if ((i + 1) % 100000 == 0) g_dao_rss.push_back(ResidentKiB());
    }
    rs->Close();
    db->Close();
  }
  g_cpu = CpuSeconds() - cpu;
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
  std::string only = argc > 4 ? argv[4] : "";
  Rows rows = MakeRows(n);
  long rss_before = ResidentKiB();
  std::string a = dir + "/bench_daotable_table.mdb", b = dir + "/bench_daotable_dao.mdb";
  double table = 1e100, dao_time = 1e100, table_cpu = 1e100, dao_cpu = 1e100;
  for (int round = 0; round < rounds; ++round) {
    if (only != "dao") {
      table = std::min(table, RunTable(rows, a));
      table_cpu = std::min(table_cpu, g_cpu);
    }
    if (only != "table") {
      dao_time = std::min(dao_time, RunDao(rows, b));
      dao_cpu = std::min(dao_cpu, g_cpu);
    }
  }
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  std::printf("records                         %d (ten columns)\n", n);
  if (only != "dao")
    std::printf("TMxDaoTable copy road           %.3f s  (%.0f rows/s), processor %.3f s\n", table,
                n / table, table_cpu);
  if (only != "table")
    std::printf("DAO AddNew/Value/Update loop    %.3f s  (%.0f rows/s), processor %.3f s\n",
                dao_time, n / dao_time, dao_cpu);
  if (only.empty()) {
    std::printf("ratio table / DAO               %.2f\n", table / dao_time);
    std::printf("ratio table / DAO, processor    %.2f\n", table_cpu / dao_cpu);
  }
  std::printf("resident before the runs        %ld KiB (the prepared rows)\n", rss_before);
  if (!g_rss.empty()) {
    std::printf("resident per 100,000 (table)    ");
    for (long kib : g_rss) std::printf("%ld ", kib);
    std::printf("KiB\n");
  }
  if (!g_dao_rss.empty()) {
    std::printf("resident per 100,000 (DAO)      ");
    for (long kib : g_dao_rss) std::printf("%ld ", kib);
    std::printf("KiB\n");
  }
  std::printf("peak resident                   %ld KiB\n", PeakKiB());
  return 0;
}
