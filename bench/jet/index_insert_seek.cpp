// Cost of indexes: inserting rows into a table with a Long primary key and an index on a
// Text(50) column, then Seeks of random keys, each against the same inserts into a table
// without indexes, measured in the same process. Prints ratios (and the raw times).
//
// Usage: bench_jet_index_insert_seek [ROWS] [SEEKS] [ORDER]
//   (default 1,000,000 and 100,000; ORDER "shuffled" (default) or "ascending" for the keys
//   as they are inserted)
// Times are the process's CPU time, so that other work on a shared machine counts less.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/file.h"
#include "jet/database.h"
#include "jet/index_cursor.h"

namespace {

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Names with Czech letters, so that text keys carry an accent part.
std::string Name(std::uint32_t n) {
  static const char* const syllables[] = {"no", "vá",  "k",   "ře", "zní", "ček", "Sou", "kup",
                                          "Ma", "rek", "ová", "ha", "Dvo", "řák", "ml",  "Ště"};
  std::string s;
  for (int i = 0; i < 5; ++i, n /= 16) s += syllables[n % 16];
  return s + " " + std::to_string(n);
}

jet::NewTable Spec(bool indexed) {
  jet::NewTable t;
  t.name = "Bench";
  jet::NewColumn id;
  id.name = "id";
  id.type = jet::column_type::kLong;
  jet::NewColumn name;
  name.name = "name";
  name.type = jet::column_type::kText;
  name.size = 50;
  jet::NewColumn amount;
  amount.name = "amount";
  amount.type = jet::column_type::kDouble;
  t.columns = {id, name, amount};
  if (indexed) {
    jet::NewIndex pk;
    pk.name = "PrimaryKey";
    pk.columns = {{"id", true}};
    pk.primary_key = true;
    jet::NewIndex by_name;
    by_name.name = "name";
    by_name.columns = {{"name", true}};
    t.indexes = {pk, by_name};
  }
  return t;
}

double Insert(core::MemoryFileSystem& fs, const std::string& path, bool indexed,
              const std::vector<std::uint32_t>& keys) {
  jet::OpenOptions options;
  options.file_system = &fs;
  auto db = jet::Database::Create(path, options);
  jet::Table& table = db->CreateTable(Spec(indexed));
  std::vector<core::Variant> values(3);
  const double start = CpuSeconds();
  for (std::uint32_t k : keys) {
    values[0] = core::Variant::FromLong(static_cast<std::int32_t>(k));
    values[1] = core::Variant::FromString(Name(k));
    values[2] = core::Variant::FromDouble(k * 0.25);
    table.Insert(values);
  }
  db->Close();
  return CpuSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t rows = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  const std::size_t seeks = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100000;
  std::mt19937 rng(42);
  std::vector<std::uint32_t> keys(rows);
  for (std::size_t i = 0; i < rows; ++i) keys[i] = static_cast<std::uint32_t>(i * 7 + 3);
  const bool ascending = argc > 3 && std::string(argv[3]) == "ascending";
  if (!ascending) std::shuffle(keys.begin(), keys.end(), rng);

  core::MemoryFileSystem fs;
  const double plain = Insert(fs, "plain.mdb", false, keys);
  const double indexed = Insert(fs, "indexed.mdb", true, keys);

  // Seeks through the primary key and the text index of the indexed table.
  jet::OpenOptions options;
  options.file_system = &fs;
  options.read_only = true;
  auto db = jet::Database::Open("indexed.mdb", options);
  jet::Table& table = db->OpenTable("Bench");
  const auto& def = table.Definition();
  std::vector<jet::IndexCursor> cursors;
  for (std::size_t i = 0; i < def.real_indexes.size(); ++i) cursors.emplace_back(table, i);
  jet::IndexCursor* by_id = nullptr;
  jet::IndexCursor* by_name = nullptr;
  for (auto& c : cursors) (c.Definition().primary_key ? by_id : by_name) = &c;
  std::size_t found = 0;
  const double start = CpuSeconds();
  std::vector<std::uint8_t> key;
  for (std::size_t i = 0; i < seeks; ++i) {
    const std::uint32_t k = keys[rng() % rows];
    jet::IndexCursor& cursor = i % 2 == 0 ? *by_id : *by_name;
    key.clear();
    if (i % 2 == 0) {
      std::uint8_t le[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                            static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
      jet::AppendKeySegment(by_id->Definition().columns[0].key, jet::KeyValue::Stored(le), key);
    } else {
      const std::string name = Name(k);
      std::u16string units;
      for (std::size_t p = 0; p < name.size();) {  // UTF-8 to UTF-16 (two-byte letters only here)
        const unsigned char c = static_cast<unsigned char>(name[p]);
        if (c < 0x80) {
          units += static_cast<char16_t>(c);
          p += 1;
        } else {
          units += static_cast<char16_t>(((c & 0x1F) << 6) | (name[p + 1] & 0x3F));
          p += 2;
        }
      }
      jet::AppendKeySegment(by_name->Definition().columns[0].key, jet::KeyValue::Text(units), key);
    }
    found += cursor.Seek(jet::SeekComparison::kEqual, key);
  }
  const double seek_time = CpuSeconds() - start;

  std::printf("rows %zu (%s keys), seeks %zu (%zu found; half by Long key, half by Text(50) key)\n",
              rows, ascending ? "ascending" : "shuffled", seeks, found);
  std::printf("insert without indexes: %.3f s\n", plain);
  std::printf("insert with both indexes: %.3f s  ratio %.2f\n", indexed, indexed / plain);
  std::printf("%zu seeks: %.3f s  ratio %.3f (to the inserts without indexes)\n", seeks, seek_time,
              seek_time / plain);
  return found == seeks ? 0 : 1;
}
