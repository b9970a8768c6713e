#include "index_rows.h"

#include <deque>

#include "core/encoding.h"
#include "jet/database.h"
#include "text_util.h"

namespace jet {

IndexRowWalk TableRows(Table& table) {
  return [&table](const IndexRowVisitor& visit) {
    const TableDefinition& def = table.Definition();
    std::vector<int> by_number;
    for (std::size_t pos = 0; pos < def.columns.size(); ++pos) {
      const std::uint16_t number = def.columns[pos].number;
      if (by_number.size() <= number) by_number.resize(number + 1, -1);
      by_number[number] = static_cast<int>(pos);
    }
    Table::Scan scan = table.StartScan();
    std::deque<std::u16string> texts;
    while (scan.Next()) {
      texts.clear();
      const auto& slices = scan.Slices();
      RowValues values = [&](std::uint16_t number) -> KeyValue {
        if (number >= by_number.size() || by_number[number] < 0) return KeyValue::Null();
        const std::size_t pos = static_cast<std::size_t>(by_number[number]);
        const ColumnDefinition& column = def.columns[pos];
        const ColumnSlice& slice = slices[pos];
        if (column.IsBoolean()) return KeyValue::Boolean(slice.boolean);
        if (slice.null) return KeyValue::Null();
        if (column.IsLongValue()) {
          if (!column.IsText()) return KeyValue::Null();  // OLE objects are never indexed
          texts.push_back(core::Utf8ToUtf16(scan.Value(pos).ToString()));
          return KeyValue::Text(texts.back());
        }
        if (column.IsText()) {
          texts.push_back(DecodeJet4Text(slice.data, slice.size));
          return KeyValue::Text(texts.back());
        }
        return KeyValue::Stored({slice.data, slice.size});
      };
      const RowPointer where = scan.Position();
      visit(IndexRowPointer{where.page, where.row}, values);
    }
  };
}

}  // namespace jet
