// Inserting rows: 1,000,000 rows of ten mixed columns into a new table, against the floor
// of writing a file of the same size sequentially with buffered fwrite.
//
//   bench_jet_insert [ROWS] [DIRECTORY]
//
// Prints rows per second and the ratio of the insert time to the fwrite time, both measured
// in this run on this machine.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/variant.h"
#include "jet/database.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::filesystem::path dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  std::string file = (dir / "bench_jet_insert.mdb").string();
  std::string floor_file = (dir / "bench_jet_insert.fwrite").string();
  std::filesystem::remove(file);
  std::filesystem::remove(floor_file);

  using core::Variant;
  namespace ct = jet::column_type;
  const char* cities[] = {"Praha", "Brno", "Ostrava", "Plzeň", "České Budějovice", "Olomouc"};
  const char* names[] = {"Novák", "Svoboda", "Novotný", "Dvořák", "Černý", "Procházka", "Kučera"};

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
  auto inserted = Clock::now();
  std::uintmax_t size = std::filesystem::file_size(file);

  // The floor: the same number of bytes written sequentially through stdio, then flushed.
  auto floor_start = Clock::now();
  {
    std::FILE* f = std::fopen(floor_file.c_str(), "wb");
    if (!f) return 1;
    std::vector<char> page(4096, 'x');
    for (std::uintmax_t done = 0; done < size; done += page.size())
      std::fwrite(page.data(), 1, page.size(), f);
    std::fflush(f);
    fdatasync(fileno(f));
    std::fclose(f);
  }
  auto floor_end = Clock::now();

  double insert_s = Seconds(start, inserted), floor_s = Seconds(floor_start, floor_end);
  std::printf("rows: %ld, file: %.1f MiB\n", rows, static_cast<double>(size) / (1 << 20));
  std::printf("insert: %.3f s, %.0f rows/s\n", insert_s, rows / insert_s);
  std::printf("fwrite floor: %.3f s\n", floor_s);
  std::printf("ratio insert/fwrite: %.2f\n", insert_s / floor_s);
  std::filesystem::remove(file);
  std::filesystem::remove(floor_file);
  return 0;
}
