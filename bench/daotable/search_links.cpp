// The table component's searches and links on big tables:
//  - a master-detail pair (Customers, MASTERS rows; Orders, DETAILS rows with an index on the
//    link field): the master moves through MOVES records and the detail follows; every detail
//    set is checked against the counts kept while the rows were written;
//  - Locate in the Orders table: on the indexed OrderNo of a table-type recordset (a Seek) and
//    on the unindexed Ref text of a dynaset (a FindFirst);
// each against a plain walk over the Orders dynaset (MoveFirst .. MoveLast through the
// component) measured in the same process. Prints time per operation, the ratios and the peak
// resident size after each phase.
//
//   bench_daotable_search_links [masters] [details] [moves] [locates] [directory]
// (defaults: 100000, 1000000, 1000, 200, /tmp)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/variant.h"
#include "dao/dao.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_daotable_search_links: %s\n", what.c_str());
  std::exit(1);
}

void AddIndex(dao::Database& db, const std::string& table, const std::string& name,
              const std::string& field, bool primary) {
  auto td = db.TableDefs().Item(table);
  auto index = td->CreateIndex(name);
  index->SetPrimary(primary);
  index->SetUnique(primary);
  index->Fields().Append(index->CreateField(field));
  td->Indexes().Append(index);
}

}  // namespace

int main(int argc, char** argv) {
  const int masters = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int details = argc > 2 ? std::atoi(argv[2]) : 1000000;
  const int moves = argc > 3 ? std::atoi(argv[3]) : 1000;
  const int locates = argc > 4 ? std::atoi(argv[4]) : 200;
  const std::string dir = argc > 5 ? argv[5] : "/tmp";
  if (masters < 1 || details < 1 || moves < 1 || locates < 1) Fail("counts must be positive");
  const std::string path = dir + "/bench_search_links.mdb";
  std::filesystem::remove(path);

  ds::TComponent owner;
  auto* db = new daodb::TMxDaoDatabase(&owner);
  db->Loaded();
  db->CreateAccessDatabase(path);
  db->SetDatabase(path);
  db->Open();
  dao::Database& dao = *db->DaoDatabase();

  // The tables, written through DAO; the detail count of every customer is kept.
  auto t0 = std::chrono::steady_clock::now();
  {
    auto td = dao.CreateTableDef("Customers");
    td->Fields().Append(td->CreateField("CustNo", dao::dbLong));
    td->Fields().Append(td->CreateField("Name", dao::dbText, 40));
    dao.TableDefs().Append(td);
    auto od = dao.CreateTableDef("Orders");
    od->Fields().Append(od->CreateField("OrderNo", dao::dbLong));
    od->Fields().Append(od->CreateField("CustNo", dao::dbLong));
    od->Fields().Append(od->CreateField("Ref", dao::dbText, 20));
    od->Fields().Append(od->CreateField("Amount", dao::dbDouble));
    dao.TableDefs().Append(od);
    AddIndex(dao, "Customers", "PrimaryKey", "CustNo", true);
    AddIndex(dao, "Orders", "PrimaryKey", "OrderNo", true);
    AddIndex(dao, "Orders", "ByCustomer", "CustNo", false);
  }
  std::vector<int> per_customer(static_cast<std::size_t>(masters) + 1, 0);
  {
    auto rs = dao.OpenRecordset("Customers", dao::dbOpenTable);
    for (int c = 1; c <= masters; ++c) {
      rs->AddNew();
      rs->Fields().Item(0)->SetValue(core::Variant::FromLong(c));
      rs->Fields().Item(1)->SetValue(std::string_view("Customer " + std::to_string(c)));
      rs->Update();
    }
    rs->Close();
    std::mt19937 random(12345);
    auto os = dao.OpenRecordset("Orders", dao::dbOpenTable);
    for (int o = 1; o <= details; ++o) {
      const int c = 1 + static_cast<int>(random() % static_cast<unsigned>(masters));
      ++per_customer[static_cast<std::size_t>(c)];
      os->AddNew();
      os->Fields().Item(0)->SetValue(core::Variant::FromLong(o));
      os->Fields().Item(1)->SetValue(core::Variant::FromLong(c));
      os->Fields().Item(2)->SetValue(std::string_view("R" + std::to_string(o * 7919 % 1000003)));
      os->Fields().Item(3)->SetValue(core::Variant::FromDouble(o * 0.5));
      os->Update();
    }
    os->Close();
  }
  db->RefreshDefinitions();
  std::printf("%d customers, %d orders written in %.1f s; peak %ld MiB\n", masters, details,
              Seconds(t0), PeakKiB() / 1024);

  // Baseline: a walk over every order through the component.
  double walk = 0;
  {
    auto* orders = new daotable::TMxDaoTable(&owner);
    orders->SetDatabase(db);
    orders->SetTableName("Orders");
    orders->Open();
    auto t = std::chrono::steady_clock::now();
    int n = 0;
    for (orders->First(); !orders->Eof(); orders->Next()) ++n;
    walk = Seconds(t);
    if (n != details) Fail("the walk saw " + std::to_string(n) + " orders");
    orders->Close();
    delete orders;
  }
  std::printf("walk over %d orders: %.3f s; peak %ld MiB\n", details, walk, PeakKiB() / 1024);

  // Master-detail: the master moves, the detail follows.
  {
    auto* customers = new daotable::TMxDaoTable(&owner);
    customers->SetDatabase(db);
    customers->SetTableName("Customers");
    auto* source = new ds::TDataSource(&owner);
    source->SetDataSet(customers);
    auto* orders = new daotable::TMxDaoTable(&owner);
    orders->SetDatabase(db);
    orders->SetTableName("Orders");
    ds::TStringList fields;
    fields.Add("CustNo;");
    orders->SetMasterFields(fields);
    orders->SetMasterSource(source);
    auto t = std::chrono::steady_clock::now();
    orders->Open();
    long rows = 0;
    for (int m = 0; m < moves; ++m) {
      if (m > 0) customers->Next();
      if (customers->Eof()) Fail("fewer customers than moves");
      const int c = customers->FieldByName("CustNo").AsInteger();
      int n = 0;
      for (orders->First(); !orders->Eof(); orders->Next()) {
        if (orders->FieldByName("CustNo").AsInteger() != c) Fail("an order of another customer");
        ++n;
      }
      if (n != per_customer[static_cast<std::size_t>(c)])
        Fail("customer " + std::to_string(c) + ": " + std::to_string(n) + " orders, not " +
             std::to_string(per_customer[static_cast<std::size_t>(c)]));
      rows += n;
    }
    const double linked = Seconds(t);
    std::printf(
        "master-detail: %d master moves, %ld detail rows read: %.3f ms per move "
        "(ratio %.4f to the walk); peak %ld MiB\n",
        moves, rows, linked * 1000 / moves, linked / moves / walk, PeakKiB() / 1024);
    orders->Close();
    customers->Close();
  }

  // Locate: indexed (table-type, Seek) and unindexed (dynaset, FindFirst). The indexed one
  // runs twice: with record numbers (the table works out where the found record stands in
  // the index order, a walk over the index) and without (UseGetRecNo off: the Seek alone).
  std::mt19937 random(777);
  for (const bool numbers : {false, true}) {
    auto* orders = new daotable::TMxDaoTable(&owner);
    orders->SetDatabase(db);
    orders->SetTableName("Orders");
    orders->SetTableType(1);
    orders->SetUseGetRecNo(numbers);
    orders->Open();
    auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < locates; ++i) {
      const int o = 1 + static_cast<int>(random() % static_cast<unsigned>(details));
      if (!orders->Locate("OrderNo", core::Variant::FromLong(o), {}) ||
          orders->FieldByName("OrderNo").AsInteger() != o)
        Fail("indexed Locate missed order " + std::to_string(o));
    }
    const double indexed = Seconds(t);
    std::printf(
        "Locate on the indexed OrderNo%s: %.3f ms each (ratio %.5f to the walk); peak %ld MiB\n",
        numbers ? ", with record numbers" : "", indexed * 1000 / locates, indexed / locates / walk,
        PeakKiB() / 1024);
    orders->Close();
  }
  {
    auto* orders = new daotable::TMxDaoTable(&owner);
    orders->SetDatabase(db);
    orders->SetTableName("Orders");
    orders->Open();
    const int n = std::max(1, locates / 20);
    auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
      const int o = 1 + static_cast<int>(random() % static_cast<unsigned>(details));
      const std::string ref = "R" + std::to_string(o * 7919 % 1000003);
      if (!orders->Locate("Ref", core::Variant::FromString(ref), {}) ||
          orders->FieldByName("Ref").AsString() != ref)
        Fail("unindexed Locate missed " + ref);
    }
    const double plain = Seconds(t);
    std::printf(
        "Locate on the unindexed Ref: %.3f ms each (ratio %.3f to the walk); peak %ld MiB\n",
        plain * 1000 / n, plain / n / walk, PeakKiB() / 1024);
    orders->Close();
  }
  db->Close();
  std::filesystem::remove(path);
  return 0;
}
