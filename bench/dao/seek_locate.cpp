// Locating records of a table-type recordset by index: SetIndex and Seek on a table of a
// million rows (an indexed Long column, an unindexed Text column), against a plain
// MoveFirst..MoveLast walk of the same recordset in the same process. Prints the time to
// set the index, the time per Seek (random keys), the walk, their ratios, and the peak
// resident set (VmHWM) after each step.
//
//   bench_dao_seek_locate [records] [directory] [seeks]
// (defaults: 1000000, /tmp, 10000)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "dao/dao.h"
#include "jet/database.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A line of /proc/self/status in KiB (VmHWM: the peak resident set so far).
long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  return -1;
}

void Memory(const char* when) {
  std::printf("  %-28s VmHWM %7.1f MiB  VmRSS %7.1f MiB\n", when, StatusKiB("VmHWM") / 1024.0,
              StatusKiB("VmRSS") / 1024.0);
}

// The table, written straight through the storage engine (its building is not measured).
void Build(const std::string& path, int records) {
  std::filesystem::remove(path);
  auto db = jet::Database::Create(path);
  jet::NewTable spec;
  spec.name = "T";
  jet::NewColumn id;
  id.name = "K";
  id.type = jet::column_type::kLong;
  jet::NewColumn text;
  text.name = "Txt";
  text.type = jet::column_type::kText;
  text.size = 40;
  spec.columns = {id, text};
  jet::NewIndex by_key;
  by_key.name = "ByK";
  by_key.columns = {{"K", true}};
  spec.indexes = {by_key};
  jet::Table& t = db->CreateTable(spec);
  std::vector<core::Variant> row(2);
  for (int r = 0; r < records; ++r) {
    // Keys scattered over the file, every one twice apart from the odd ones: duplicates too.
    const long long key = (static_cast<long long>(r) * 7919) % records / 2 * 2;
    row[0] = core::Variant::FromLong(static_cast<std::int32_t>(key));
    row[1] = core::Variant::FromString("row " + std::to_string(r) + " of the table");
    t.Insert(row);
  }
  db->Close();
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const int seeks = argc > 3 ? std::atoi(argv[3]) : 10000;
  const std::string path = dir + "/bench_seek_locate.mdb";
  std::printf("building %d rows in %s ...\n", records, path.c_str());
  // Built in a child process, so that the peak resident set below is the DAO session's.
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    Build(path, records);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "building the table failed\n");
    return 1;
  }

  auto engine = dao::DBEngine::Create();
  auto db = engine->OpenDatabase(path);
  Memory("start");
  auto t0 = std::chrono::steady_clock::now();
  auto rs = db->OpenRecordset("T", dao::dbOpenTable);
  const double open = Seconds(std::chrono::steady_clock::now() - t0);
  Memory("after OpenRecordset");
  auto key_field = rs->Fields().Item("K");
  auto text_field = rs->Fields().Item("Txt");

  // The plain walk, in table order, reading both fields of every record.
  t0 = std::chrono::steady_clock::now();
  long long walked = 0, sum = 0;
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    sum += key_field->Value().ToLong();
    sum += static_cast<long long>(text_field->Value().ToString().size());
    ++walked;
  }
  const double walk = Seconds(std::chrono::steady_clock::now() - t0);
  Memory("after the plain walk");

  t0 = std::chrono::steady_clock::now();
  rs->SetIndex("ByK");
  const double set_index = Seconds(std::chrono::steady_clock::now() - t0);
  Memory("after SetIndex");

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pick(0, records - 1);
  int found = 0;
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < seeks; ++i) {
    rs->Seek("=", {core::Variant(pick(random))});
    if (!rs->NoMatch()) {
      ++found;
      sum += text_field->Value().ToString().size();
    }
  }
  const double seek = Seconds(std::chrono::steady_clock::now() - t0);
  Memory("after the Seeks");

  // The same walk in index order.
  t0 = std::chrono::steady_clock::now();
  long long indexed = 0;
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    sum += key_field->Value().ToLong();
    ++indexed;
  }
  const double index_walk = Seconds(std::chrono::steady_clock::now() - t0);
  Memory("after the walk in index order");

  std::printf("rows %lld (index order %lld), checksum %lld\n", walked, indexed, sum);
  std::printf("OpenRecordset                %9.3f ms\n", open * 1e3);
  std::printf("plain walk MoveFirst..EOF    %9.3f ms  (%.3f us/row)\n", walk * 1e3,
              walk * 1e6 / static_cast<double>(walked));
  std::printf("SetIndex                     %9.3f ms  (ratio to the walk %.6f)\n", set_index * 1e3,
              set_index / walk);
  std::printf(
      "Seek \"=\" x %d (%d found)  %9.3f us/seek  (ratio to the walk %.8f, to a row "
      "of it %.2f)\n",
      seeks, found, seek * 1e6 / seeks, seek / seeks / walk,
      seek / seeks / (walk / static_cast<double>(walked)));
  std::printf("walk in index order          %9.3f ms  (ratio to the plain walk %.3f)\n",
              index_walk * 1e3, index_walk / walk);
  rs->Close();
  db->Close();
  std::filesystem::remove(path);
  return 0;
}
