// A filtered, sorted SELECT over a Jet table of 1,000,000 rows (the condition on a column
// without an index, the order by two text columns), timed against a plain scan of the same
// table in the same run.
//
//   bench_jetsql_select_filter_sort [ROWS] [DIRECTORY]
//
// The table is written once into a new database in DIRECTORY (default: the temp directory);
// its building is not timed. Each measurement is the best of three runs.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "jet/database.h"
#include "jetsql/jet_catalog.h"
#include "jetsql/select.h"

namespace {

double BestOfThree(const std::function<std::size_t()>& run, std::size_t& rows) {
  double best = 1e100;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    rows = run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string dir;
  if (argc > 2) {
    dir = argv[2];
  } else {
    std::string pattern = (std::filesystem::temp_directory_path() / "jetsql-bench-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
  }
  const std::string path = dir + "/bench.mdb";
  std::filesystem::remove(path);

  auto db = jet::Database::Create(path);
  jet::NewTable spec;
  spec.name = "People";
  spec.columns = {{.name = "ID", .type = jet::column_type::kLong},
                  {.name = "Name", .type = jet::column_type::kText, .size = 30},
                  {.name = "City", .type = jet::column_type::kText, .size = 20},
                  {.name = "Amount", .type = jet::column_type::kCurrency},
                  {.name = "Born", .type = jet::column_type::kDateTime},
                  {.name = "Score", .type = jet::column_type::kDouble}};
  jet::Table& table = db->CreateTable(spec);
  const char* cities[] = {"Praha",          "Brno",     "Ostrava",          "Plzeň",
                          "Liberec",        "Olomouc",  "České Budějovice", "Hradec Králové",
                          "Ústí nad Labem", "Pardubice"};
  const char* names[] = {"Novák",  "Svoboda", "Novotný", "Dvořák", "Černý", "Procházka",
                         "Kučera", "Veselý",  "Horák",   "Němec",  "Marek", "Pospíšil"};
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  std::vector<core::Variant> values(6);
  for (long i = 0; i < rows; ++i) {
    values[0] = core::Variant::FromLong(static_cast<std::int32_t>(i));
    values[1] =
        core::Variant(std::string(names[next() % 12]) + " " + std::to_string(next() % 1000));
    values[2] = core::Variant(cities[next() % 10]);
    values[3] =
        core::Variant::FromCurrency(core::Currency{static_cast<std::int64_t>(next() % 10000000)});
    values[4] = core::Variant::FromDate(20000.0 + next() % 20000);
    values[5] = core::Variant::FromDouble((next() % 100000) / 100.0);
    table.Insert(values);
  }
  db->Flush();

  jetsql::JetCatalog catalog(*db);
  std::size_t n_scan = 0, n_select_all = 0, n_query = 0, n_snapshot = 0;

  // The floor: every row, every column, straight from the storage engine.
  const double scan = BestOfThree(
      [&] {
        std::size_t n = 0;
        auto s = table.StartScan();
        while (s.Next()) {
          for (std::size_t c = 0; c < 6; ++c) s.Value(c);
          ++n;
        }
        return n;
      },
      n_scan);
  const double select_all =
      BestOfThree([&] { return jetsql::ExecuteSelect("SELECT * FROM People", catalog).RowCount(); },
                  n_select_all);
  const char* sql = "SELECT * FROM People WHERE Amount > 500 ORDER BY City, Name";
  const double query =
      BestOfThree([&] { return jetsql::ExecuteSelect(sql, catalog).RowCount(); }, n_query);
  jetsql::QueryOptions snapshot;
  snapshot.kind = jetsql::ResultKind::kSnapshot;
  const double copied = BestOfThree(
      [&] { return jetsql::ExecuteSelect(sql, catalog, snapshot).RowCount(); }, n_snapshot);

  std::printf("rows in table: %ld\n", rows);
  std::printf("plain scan (storage engine, all columns): %8.3f s  %zu rows  1.00\n", scan, n_scan);
  std::printf("SELECT * (dynaset):                       %8.3f s  %zu rows  %.2f\n", select_all,
              n_select_all, select_all / scan);
  std::printf("filtered sorted SELECT (dynaset):         %8.3f s  %zu rows  %.2f\n", query, n_query,
              query / scan);
  std::printf("filtered sorted SELECT (snapshot):        %8.3f s  %zu rows  %.2f\n", copied,
              n_snapshot, copied / scan);
  db->Close();
  if (argc <= 2) std::filesystem::remove_all(dir);
  return 0;
}
