// Times the whole `datovrat-cli copy tables` process on a generated dBase table of ten fields,
// with and without a 200-byte memo per record, and pgdbf converting the same file in the same
// run; prints the ratios (copy time / pgdbf time), best of ROUNDS each.
//
//   bench_copy_tables [RECORDS] [DIR] [ROUNDS]     (defaults: 1000000, /tmp, 3)
//   bench_copy_tables --generate FILE.dbf RECORDS memo|plain
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Column {
  const char* name;
  char type;
  int length;
  int decimals;
};

// A business table's mix: numbers, texts with Czech letters (cp852), a date, a logical.
const Column kColumns[] = {{"ID", 'N', 9, 0},     {"NAME", 'C', 30, 0}, {"CITY", 'C', 20, 0},
                           {"PRICE", 'N', 12, 2}, {"QTY", 'N', 5, 0},   {"BORN", 'D', 8, 0},
                           {"ACTIVE", 'L', 1, 0}, {"RATE", 'N', 10, 4}, {"CODE", 'C', 10, 0},
                           {"NOTE", 'C', 40, 0}};

void Field(std::string& rec, std::size_t& at, int width, const std::string& text, bool right) {
  std::string f(static_cast<std::size_t>(width), ' ');
  std::size_t n = std::min(text.size(), f.size());
  std::memcpy(f.data() + (right ? f.size() - n : 0), text.data(), n);
  rec.replace(at, f.size(), f);
  at += f.size();
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// dBase III (+ a .dbt of 512-byte blocks when `memo`), language driver 0x64 (cp852).
void WriteTable(const std::string& path, int records, bool memo) {
  int fields = static_cast<int>(std::size(kColumns)) + (memo ? 1 : 0);
  int record_length = 1;
  for (const Column& c : kColumns) record_length += c.length;
  if (memo) record_length += 10;
  const int header_length = 32 + 32 * fields + 1;
  std::string header(32, '\0');
  header[0] = memo ? static_cast<char>(0x83) : 0x03;
  header[1] = 126;
  header[2] = 12;
  header[3] = 10;
  Put32(header, 4, static_cast<std::uint32_t>(records));
  header[8] = static_cast<char>(header_length & 0xFF);
  header[9] = static_cast<char>(header_length >> 8);
  header[10] = static_cast<char>(record_length & 0xFF);
  header[11] = static_cast<char>(record_length >> 8);
  header[29] = 0x64;
  auto descriptor = [&](const char* name, char type, int length, int decimals) {
    std::string d(32, '\0');
    std::memcpy(d.data(), name, std::strlen(name));
    d[11] = type;
    d[16] = static_cast<char>(length);
    d[17] = static_cast<char>(decimals);
    header += d;
  };
  for (const Column& c : kColumns) descriptor(c.name, c.type, c.length, c.decimals);
  if (memo) descriptor("POZN", 'M', 10, 0);
  header += '\x0D';

  std::ofstream out(path, std::ios::binary);
  std::ofstream dbt;
  std::string block(512, '\0');
  if (memo) {
    std::string dbt_path = path.substr(0, path.size() - 3) + "dbt";
    dbt.open(dbt_path, std::ios::binary);
    Put32(block, 0, static_cast<std::uint32_t>(records + 1));
    dbt.write(block.data(), 512);
  }
  out << header;
  // "Žluťoučký kůň" in cp852.
  const std::string czech = "\xA6lu\x9Cou\x9Fk\xEC k\x85\xE5";
  std::string rec(static_cast<std::size_t>(record_length), ' ');
  char text[64];
  for (int r = 0; r < records; ++r) {
    std::size_t at = 1;
    Field(rec, at, 9, std::to_string(r + 1), true);
    Field(rec, at, 30, czech + " " + std::to_string(r % 9973), false);
    Field(rec, at, 20, r % 3 ? "Brno" : "\x8E\xA7\xA0r nad S\xA0zavou", false);
    std::snprintf(text, sizeof text, "%d.%02d", r % 100000, r % 100);
    Field(rec, at, 12, text, true);
    Field(rec, at, 5, std::to_string(r % 1000), true);
    std::snprintf(text, sizeof text, "%04d%02d%02d", 1950 + r % 60, 1 + r % 12, 1 + r % 28);
    Field(rec, at, 8, text, false);
    Field(rec, at, 1, r % 2 ? "T" : "F", false);
    std::snprintf(text, sizeof text, "%d.%04d", r % 100, r % 10000);
    Field(rec, at, 10, text, true);
    Field(rec, at, 10, "K" + std::to_string(r % 100000), false);
    Field(rec, at, 40, "pozn\xA0mka " + std::to_string(r), false);
    if (memo) {
      Field(rec, at, 10, std::to_string(r + 1), true);
      std::fill(block.begin(), block.end(), '\0');
      std::string m = "Memo " + std::to_string(r) + ": ";
      while (m.size() < 200) m += czech + " ";
      m.resize(200);
      std::memcpy(block.data(), m.data(), m.size());
      block[200] = 0x1A;
      block[201] = 0x1A;
      dbt.write(block.data(), 512);
    }
    out.write(rec.data(), static_cast<std::streamsize>(rec.size()));
  }
  out << '\x1A';
}

double Seconds(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    std::exit(1);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--generate") == 0) {
    // bench_copy_tables --generate FILE.dbf RECORDS memo|plain: the table alone.
    WriteTable(argv[2], std::atoi(argv[3]), std::strcmp(argv[4], "memo") == 0);
    return 0;
  }
  const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const bool have_pgdbf = std::system("command -v pgdbf > /dev/null 2>&1") == 0;
  for (bool memo : {false, true}) {
    const std::string table = dir + (memo ? "/BENCHM.dbf" : "/BENCH.dbf");
    WriteTable(table, records, memo);
    const std::string mdb = dir + "/bench_copy.mdb";
    double copy_best = 1e100, pgdbf_best = 1e100;
    for (int round = 0; round < rounds; ++round) {
      std::filesystem::remove(mdb);
      copy_best = std::min(copy_best, Seconds(std::string(DATOVRAT_CLI) + " copy tables --quiet '" +
                                              mdb + "' '" + table + "' > /dev/null"));
      if (have_pgdbf)
        pgdbf_best = std::min(
            pgdbf_best,
            Seconds("pgdbf -s cp852 " +
                    std::string(memo ? "-m '" + table.substr(0, table.size() - 3) + "dbt' " : "") +
                    "'" + table + "' > /dev/null"));
    }
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("%s: %d records, copy %.2f s (%.0f records/s)", memo ? "with memo" : "no memo",
                records, copy_best, records / copy_best);
    if (have_pgdbf)
      std::printf(", pgdbf %.2f s, ratio copy/pgdbf %.2f", pgdbf_best, copy_best / pgdbf_best);
    std::printf(", peak child RSS %ld MB\n", usage.ru_maxrss / 1024);
    std::filesystem::remove(mdb);
    std::filesystem::remove(table);
    if (memo) std::filesystem::remove(table.substr(0, table.size() - 3) + "dbt");
  }
  return 0;
}
