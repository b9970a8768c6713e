// Reads a 1,000,000-record dBase table of ten columns through TTable, field by field, and
// compares the time with pgdbf converting the same file and with reading its bytes plainly,
// all in the same run. TTable and pgdbf run in turn ROUNDS times and their medians are
// compared, because a shared machine's speed drifts from one second to the next.
// Usage: bench_bde_read_table [RECORDS] [DIRECTORY] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bde/table.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Column {
  const char* name;
  char type;
  int length;
  int decimals;
};

// ID N(9), NAME C(30), CITY C(20), PRICE N(12,2), QTY N(5), BORN D, ACTIVE L, RATE F(10,4),
// CODE C(10), NOTE C(40): the mix of a typical business table.
const Column kColumns[] = {{"ID", 'N', 9, 0},     {"NAME", 'C', 30, 0}, {"CITY", 'C', 20, 0},
                           {"PRICE", 'N', 12, 2}, {"QTY", 'N', 5, 0},   {"BORN", 'D', 8, 0},
                           {"ACTIVE", 'L', 1, 0}, {"RATE", 'F', 10, 4}, {"CODE", 'C', 10, 0},
                           {"NOTE", 'C', 40, 0}};

void Put(std::string& rec, std::size_t& at, int width, const char* text, bool right) {
  const int n = static_cast<int>(std::strlen(text));
  std::string field(static_cast<std::size_t>(width), ' ');
  std::memcpy(field.data() + (right ? width - n : 0), text,
              static_cast<std::size_t>(std::min(n, width)));
  rec.replace(at, static_cast<std::size_t>(width), field);
  at += static_cast<std::size_t>(width);
}

// A dBase III table with cp852 Czech text (language driver 0x64).
void WriteTable(const std::string& path, int records) {
  const int fields = static_cast<int>(std::size(kColumns));
  int record_length = 1;
  for (const Column& c : kColumns) record_length += c.length;
  const int header_length = 32 + 32 * fields + 1;
  std::string header(static_cast<std::size_t>(header_length), '\0');
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 1;
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>((records >> (8 * i)) & 0xFF);
  header[8] = static_cast<char>(header_length & 0xFF);
  header[9] = static_cast<char>(header_length >> 8);
  header[10] = static_cast<char>(record_length & 0xFF);
  header[11] = static_cast<char>(record_length >> 8);
  header[0x1D] = 0x64;
  for (int f = 0; f < fields; ++f) {
    char* d = header.data() + 32 + 32 * f;
    std::strncpy(d, kColumns[f].name, 10);
    d[11] = kColumns[f].type;
    d[16] = static_cast<char>(kColumns[f].length);
    d[17] = static_cast<char>(kColumns[f].decimals);
  }
  header[static_cast<std::size_t>(header_length - 1)] = 0x0D;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fwrite(header.data(), 1, header.size(), out);
  static const char* kNames[] = {"Nov\xA0k Jan", "Dvo\xFD\xA0k Anton\xA1n",
                                 "\xE6\x9C"
                                 "astn\xEC Petr",
                                 "Kub\xA0t Tom\xA0\xE7", "Smith John"};
  static const char* kCities[] = {"Praha", "Brno", "Ostrava", "Plze\xE5",
                                  "\xAC"
                                  "esk\x82 Bud\xD8jovice"};
  std::string rec(static_cast<std::size_t>(record_length), ' ');
  char text[64];
  for (int r = 0; r < records; ++r) {
    std::size_t at = 1;
    rec[0] = r % 97 == 0 ? '*' : ' ';
    std::snprintf(text, sizeof text, "%d", r + 1);
    Put(rec, at, 9, text, true);
    Put(rec, at, 30, kNames[r % 5], false);
    Put(rec, at, 20, kCities[r % 5], false);
    std::snprintf(text, sizeof text, "%.2f", (r % 100000) * 1.25);
    Put(rec, at, 12, text, true);
    std::snprintf(text, sizeof text, "%d", r % 10000);
    Put(rec, at, 5, text, true);
    std::snprintf(text, sizeof text, "%04d%02d%02d", 1950 + r % 60, 1 + r % 12, 1 + r % 28);
    Put(rec, at, 8, text, false);
    Put(rec, at, 1, r % 3 ? "T" : "F", false);
    std::snprintf(text, sizeof text, "%.4f", (r % 1000) / 7.0);
    Put(rec, at, 10, text, true);
    std::snprintf(text, sizeof text, "K%07d", r);
    Put(rec, at, 10, text, false);
    Put(rec, at, 40, r % 4 ? "pozn\xA0mka k z\xA0znamu" : "", false);
    std::fwrite(rec.data(), 1, rec.size(), out);
  }
  std::fputc(0x1A, out);
  std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  const std::string path = dir + "/bench_bde_table.dbf";
  WriteTable(path, records);
  std::printf("table: %s, %d records of 10 fields, %.1f MB\n", path.c_str(), records,
              static_cast<double>(std::filesystem::file_size(path)) / 1e6);

  // Floor: the file's bytes read sequentially.
  auto start = Clock::now();
  {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    std::vector<char> buffer(1 << 20);
    std::size_t sum = 0;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in)) sum += buffer[n - 1];
    std::fclose(in);
    if (sum == 42) std::puts("");
  }
  const double floor_s = Seconds(start);

  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const bool have_pgdbf = std::system("command -v pgdbf > /dev/null 2>&1") == 0;
  std::vector<double> table_runs, pgdbf_runs;
  bool pgdbf_failed = false;
  std::size_t live = 0, bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    // TTable, every field of every record through its variant value.
    start = Clock::now();
    live = bytes = 0;
    {
      bde::TTable table;
      table.SetDatabaseName(dir + "/");
      table.SetTableName("bench_bde_table.dbf");
      table.Open();
      const int n = table.FieldCount();
      for (; !table.Eof(); table.Next()) {
        for (int i = 0; i < n; ++i) {
          core::Variant v = table.Fields()[i].AsVariant();
          bytes += v.Type() == core::VarType::String ? v.ToString().size() : 1;
        }
        ++live;
      }
    }
    table_runs.push_back(Seconds(start));

    // pgdbf converting the same file to PostgreSQL's dump format.
    if (have_pgdbf) {
      start = Clock::now();
      const int status = std::system(("pgdbf -s cp852 " + path + " > /dev/null").c_str());
      pgdbf_runs.push_back(Seconds(start));
      pgdbf_failed = pgdbf_failed || status != 0;
    }
  }
  const double table_s = Median(table_runs);
  const double pgdbf_s = pgdbf_runs.empty() || pgdbf_failed ? -1 : Median(pgdbf_runs);

  std::printf("plain read:   %.3f s\n", floor_s);
  std::printf("(medians of %d alternating rounds)\n", rounds);
  std::printf("TTable:       %.3f s, %.0f records/s (%zu live records, %zu value bytes)\n", table_s,
              static_cast<double>(live) / table_s, live, bytes);
  if (pgdbf_s > 0) {
    std::printf("pgdbf:        %.3f s\n", pgdbf_s);
    std::printf("ratio TTable / pgdbf: %.2f (below 1 is faster than pgdbf)\n", table_s / pgdbf_s);
  } else {
    std::printf("pgdbf:        not available\n");
  }
  std::printf("ratio TTable / plain read: %.1f\n", table_s / floor_s);
  std::filesystem::remove(path);
  return 0;
}
