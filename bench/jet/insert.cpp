// Inserting rows: 1,000,000 rows of ten mixed columns (text, integers, currency, dates, a
// Boolean and a short memo) into a new table, against the floor of writing a file of the
// same size sequentially with buffered fwrite.
//
//   bench_jet_insert [ROWS] [DIRECTORY] [ROUNDS]
//
// Each round inserts into a new file, then writes the floor file; the best time of each
// over the rounds (3 by default) is compared, so that a moment of load from other programs
// on the machine does not decide the figure. Prints rows per second, the processor time
// the inserts took, and the ratio of the insert time to the fwrite time.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/datetime.h"
#include "core/variant.h"
#include "jet/database.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Processor time used so far: user, system.
std::pair<double, double> CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {seconds(u.ru_utime), seconds(u.ru_stime)};
}

// Inserts the rows into a new database at `file`; returns the seconds it took, Close
// (which writes and syncs everything) included.
double InsertRows(const std::string& file, long rows) {
  using core::Variant;
  namespace ct = jet::column_type;
  const char* cities[] = {"Praha", "Brno", "Ostrava", "Plzeň", "České Budějovice", "Olomouc"};
  const char* names[] = {"Novák", "Svoboda", "Novotný", "Dvořák", "Černý", "Procházka", "Kučera"};
  std::filesystem::remove(file);
  auto start = Clock::now();
  {
    auto db = jet::Database::Create(file);
    jet::NewTable spec;
    spec.name = "Bench";
    spec.columns = {{.name = "ID", .type = ct::kLong, .auto_increment = true},
                    {.name = "Name", .type = ct::kText, .size = 50},
                    {.name = "City", .type = ct::kText, .size = 30},
                    {.name = "Quantity", .type = ct::kLong},
                    {.name = "Small", .type = ct::kInteger},
                    {.name = "Price", .type = ct::kCurrency},
                    {.name = "Born", .type = ct::kDateTime},
                    {.name = "Ratio", .type = ct::kDouble},
                    {.name = "Active", .type = ct::kBoolean},
                    {.name = "Note", .type = ct::kMemo}};
    jet::Table& table = db->CreateTable(spec);
    std::vector<Variant> row(10);
    for (long i = 0; i < rows; ++i) {
      row[0] = Variant();
      row[1] = Variant::FromString(std::string(names[i % 7]) + " " + std::to_string(i % 1000));
      row[2] = Variant::FromString(cities[i % 6]);
      row[3] = Variant::FromLong(static_cast<std::int32_t>(i * 7));
      row[4] = Variant::FromInteger(static_cast<std::int16_t>(i % 30000));
      row[5] = Variant::FromCurrency(core::Currency{i * 125});
      row[6] = Variant::FromDate(20000.0 + static_cast<double>(i % 20000) + 0.25);
      row[7] = Variant::FromDouble(static_cast<double>(i) / 3.0);
      row[8] = Variant::FromBoolean(i % 2 == 0);
      row[9] = Variant::FromString(i % 5 == 0 ? "short memo" : "");
      table.Insert(row);
    }
    db->Close();
  }
  return Seconds(start, Clock::now());
}

// The floor: `size` bytes written sequentially through stdio, flushed and synced.
double WriteFloor(const std::string& file, std::uintmax_t size) {
  auto start = Clock::now();
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return -1;
  std::vector<char> page(4096, 'x');
  for (std::uintmax_t done = 0; done < size; done += page.size())
    std::fwrite(page.data(), 1, page.size(), f);
  std::fflush(f);
  fdatasync(fileno(f));
  std::fclose(f);
  return Seconds(start, Clock::now());
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  const std::filesystem::path dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  const int rounds = argc > 3 ? std::max(1, std::stoi(argv[3])) : 3;
  const std::string file = (dir / "bench_jet_insert.mdb").string();
  const std::string floor_file = (dir / "bench_jet_insert.fwrite").string();

  double best_insert = 1e300, best_floor = 1e300, best_user = 1e300, best_system = 1e300;
  std::uintmax_t size = 0;
  for (int round = 0; round < rounds; ++round) {
    const auto cpu_before = CpuSeconds();
    const double insert_s = InsertRows(file, rows);
    const auto cpu_after = CpuSeconds();
    best_user = std::min(best_user, cpu_after.first - cpu_before.first);
    best_system = std::min(best_system, cpu_after.second - cpu_before.second);
    size = std::filesystem::file_size(file);
    std::filesystem::remove(file);
    const double floor_s = WriteFloor(floor_file, size);
    std::filesystem::remove(floor_file);
    if (floor_s < 0) return 1;
    std::printf("round %d: insert %.3f s, fwrite %.3f s\n", round + 1, insert_s, floor_s);
    best_insert = std::min(best_insert, insert_s);
    best_floor = std::min(best_floor, floor_s);
  }
  std::printf("rows: %ld, file: %.1f MiB\n", rows, static_cast<double>(size) / (1 << 20));
  std::printf("insert: %.3f s, %.0f rows/s, processor time %.3f s user + %.3f s system\n",
              best_insert, rows / best_insert, best_user, best_system);
  std::printf("fwrite floor: %.3f s\n", best_floor);
  std::printf("ratio insert/fwrite: %.2f\n", best_insert / best_floor);
  return 0;
}
