// Appends records through the framework the way a copy run does (Append, assign every field
// from a source field, Post) and compares with the same values written straight into a plain
// vector of rows in the same process. Prints the ratio; nothing here asserts a time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "memory_dataset.h"

using namespace dstest;

namespace {

void Columns(TFieldDefs& defs) {
  defs.Add("ID", ftInteger);
  defs.Add("NAME", ftString, 30);
  defs.Add("PRICE", ftFloat);
  defs.Add("BORN", ftDate);
  defs.Add("OK", ftBoolean);
  defs.Add("NOTE", ftMemo);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  TMemoryDataset source;
  Columns(source.Schema());
  Fill(source, {{Variant(7), Variant("Žluťoučký kůň"), Variant(12.5), Variant::FromDate(36526),
                 Variant::FromBoolean(true), Variant("a short memo")}});

  // Baseline: the same native values copied into rows without the framework.
  auto t0 = std::chrono::steady_clock::now();
  std::vector<TMemoryDataset::Values> plain;
  plain.reserve(static_cast<std::size_t>(records));
  for (int i = 0; i < records; ++i) plain.push_back(source.Rows()[0].values);
  auto t1 = std::chrono::steady_clock::now();

  TMemoryDataset dest;
  Columns(dest.Schema());
  dest.Open();
  const int n = source.FieldCount();
  for (int i = 0; i < records; ++i) {
    dest.Append();
    for (int f = 0; f < n; ++f) dest.Fields()[f].Assign(source.Fields()[f]);
    dest.Post();
  }
  auto t2 = std::chrono::steady_clock::now();

  double base = Seconds(t1 - t0), framework = Seconds(t2 - t1);
  std::printf("records: %d\nplain rows: %.3f s\nframework: %.3f s\nratio framework/plain: %.1f\n",
              records, base, framework, framework / base);
  return dest.Rows().size() == static_cast<std::size_t>(records) ? 0 : 1;
}
