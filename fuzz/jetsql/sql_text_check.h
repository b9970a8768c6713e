// The properties the SQL layer must keep for any text, shared by the fuzz target and by the
// test that replays inputs it once failed on. Returns "" when they hold, otherwise what broke.
//
// The text is tried as a whole statement (prepared and run over a small table), as a Filter,
// as a Find criteria and as a Sort clause. The only error allowed out is SqlError (DAO's
// numbered errors): anything else escaping, or a crash, is a failure. A statement that can be
// stored must read back as SQL that stores the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jetsql/errors.h"
#include "jetsql/expression.h"
#include "jetsql/select.h"
#include "jetsql/source.h"
#include "jetsql/stored_query.h"

namespace jetsql::fuzz {

inline std::shared_ptr<MemoryTable> FuzzTable() {
  auto t =
      std::make_shared<MemoryTable>("T", std::vector<ColumnInfo>{{"A", DataType::kLong, ""},
                                                                 {"B", DataType::kText, ""},
                                                                 {"C", DataType::kDate, ""},
                                                                 {"D", DataType::kCurrency, ""},
                                                                 {"E", DataType::kBoolean, ""},
                                                                 {"F", DataType::kMemo, ""}});
  t->AddRow({core::Variant::FromLong(1), core::Variant("čaj"), core::Variant::FromDate(45376.5),
             core::Variant::FromCurrency(core::Currency{12345}), core::Variant::FromBoolean(true),
             core::Variant("memo")});
  t->AddRow({core::Variant::FromLong(-7), core::Variant::Null(), core::Variant::Null(),
             core::Variant::Null(), core::Variant::FromBoolean(false), core::Variant::Null()});
  t->AddIndex("PrimaryKey", {0}, true);
  return t;
}

inline std::string Describe(const std::exception& e) {
  return std::string("unexpected exception: ") + e.what();
}

inline std::string CheckSqlText(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto table = FuzzTable();
  MemoryCatalog catalog;
  catalog.AddTable(table);
  catalog.AddQuery("Q", "SELECT A, B FROM T WHERE A > [P]");

  // As a statement. Many tables in one FROM would multiply rows without bound; such texts
  // are only prepared.
  std::size_t mentions = 0;
  for (std::size_t at = text.find('T'); at != std::string::npos; at = text.find('T', at + 1)) {
    ++mentions;
  }
  try {
    PreparedQuery q = PreparedQuery::Prepare(text, catalog);
    QueryOptions o;
    for (const ParameterInfo& p : q.Parameters())
      o.parameters.emplace_back(p.name, core::Variant("1"));
    if (mentions <= 4) {
      for (ResultKind kind : {ResultKind::kDynaset, ResultKind::kSnapshot}) {
        o.kind = kind;
        QueryResult r = q.Execute(o);
        for (std::size_t i = 0; i < r.RowCount(); ++i) r.Row(i);
      }
    }
  } catch (const SqlError&) {
  } catch (const std::exception& e) {
    return "statement: " + Describe(e);
  }

  // As a stored query: what is written reads back as SQL that writes the same rows.
  try {
    const std::vector<QueryRow> rows = RowsForSelect(text);
    const std::string again = QueryFromRows("q", rows).sql;
    try {
      if (QueryFromRows("q", RowsForSelect(again)).sql != again) {
        return "stored query does not read back the same: " + again;
      }
    } catch (const SqlError& e) {
      return "stored query reads back as SQL that does not parse: " + again + " (" +
             e.Description() + ")";
    }
  } catch (const SqlError&) {
  } catch (const std::exception& e) {
    return "stored query: " + Describe(e);
  }

  // As a filter, a criteria and a sort over the table's columns.
  const std::vector<ColumnInfo>& columns = table->Columns();
  for (TextKind kind : {TextKind::kFilter, TextKind::kCriteria}) {
    try {
      CompiledExpression e = CompiledExpression::Compile(text, columns, kind);
      std::unique_ptr<RowCursor> cursor = table->Scan();
      while (cursor->Next()) e.Matches(*cursor);
    } catch (const SqlError&) {
    } catch (const std::exception& e) {
      return "expression: " + Describe(e);
    }
  }
  try {
    SortSpec s = SortSpec::Compile(text, columns);
    std::unique_ptr<RowCursor> cursor = table->Scan();
    std::string key;
    while (cursor->Next()) s.AppendKey(*cursor, key);
  } catch (const SqlError&) {
  } catch (const std::exception& e) {
    return "sort: " + Describe(e);
  }
  return {};
}

}  // namespace jetsql::fuzz
