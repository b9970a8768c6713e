// Fuzzes the SQL text entry points: statements, filters, criteria, sort clauses and stored
// queries (see sql_text_check.h).
#include <cstdio>
#include <cstdlib>

#include "sql_text_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = jetsql::fuzz::CheckSqlText(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "jetsql sql text: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
