// Recordset index order: the current index of a table-type recordset and Seek.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/encoding.h"
#include "recordset_impl.h"

namespace dao {

// ---- indexes ----

std::string Recordset::Index() const {
  return impl_->index ? impl_->index->name : std::string();
}

void Recordset::SetIndex(const std::string& name) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.IsTable());
    r.DiscardEdit();
    if (name.empty()) {
      r.index.reset();
    } else {
      std::optional<detail::IndexOrder> old = std::move(r.index);
      r.index.reset();
      try {
        r.LoadIndex(name);
      } catch (...) {
        r.index = std::move(old);
        throw;
      }
    }
    // A new order starts at its first record.
    r.bof = r.eof = true;
    if (r.OnTree()) {
      if (r.TreeStep(true, true)) r.LandOnCursor();
    } else if (auto p = r.NextLive(0)) {
      r.Land(*p);
    }
  });
}

void Recordset::Seek(const std::string& comparison, const std::vector<core::Variant>& keys) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.IsTable());
    if (!r.index) r.Fail(err::kNoCurrentIndex);
    jet::SeekComparison cmp;
    if (comparison == "=")
      cmp = jet::SeekComparison::kEqual;
    else if (comparison == ">=")
      cmp = jet::SeekComparison::kGreaterEqual;
    else if (comparison == ">")
      cmp = jet::SeekComparison::kGreater;
    else if (comparison == "<=")
      cmp = jet::SeekComparison::kLessEqual;
    else if (comparison == "<")
      cmp = jet::SeekComparison::kLess;
    else
      r.Fail(err::kInvalidArgument);
    const auto& cols = r.index->definition.columns;
    if (keys.empty() || keys.size() > 13) r.Fail(err::kInvalidArgument);
    // Keys beyond the index's columns are ignored; missing ones leave a shorter prefix.
    const jet::TableDefinition& def = r.rows->table->table->Definition();
    std::vector<std::uint8_t> prefix;
    std::vector<std::uint8_t> scratch;
    for (std::size_t i = 0; i < keys.size() && i < cols.size(); ++i) {
      const jet::ColumnDefinition* col = def.ColumnByNumber(cols[i].column_number);
      core::Variant v;
      int type = col ? detail::DaoTypeOfColumn(col->type) : dbText;
      if (ConvertToFieldType(keys[i], type, 0, v) != 0) r.Fail(err::kConversionError);
      if (v.IsNullOrEmpty()) {
        jet::AppendKeySegment(cols[i].key, jet::KeyValue::Null(), prefix);
      } else if (col->IsBoolean()) {
        jet::AppendKeySegment(cols[i].key, jet::KeyValue::Boolean(v.ToBoolean()), prefix);
      } else if (col->IsText()) {
        std::u16string units = core::Utf8ToUtf16(v.ToString());
        jet::AppendKeySegment(cols[i].key, jet::KeyValue::Text(units), prefix);
      } else {
        scratch.clear();
        jet::EncodedValue e = jet::EncodeColumnValue(*col, v, scratch);
        jet::AppendKeySegment(cols[i].key,
                              jet::KeyValue::Stored({scratch.data() + e.offset, e.size}), prefix);
      }
    }
    r.DiscardEdit();
    if (r.OnTree()) {
      // A descent of the index: the pages on one path from the root, and the row found.
      const bool found = r.index->cursor->Seek(cmp, prefix);
      r.no_match = !found;
      if (found) r.LandOnCursor();
      return;
    }
    const auto& ks = r.index->keys;
    auto starts_with = [&](const std::vector<std::uint8_t>& key) {
      return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
    };
    auto less_prefix = [&](const std::vector<std::uint8_t>& key,
                           const std::vector<std::uint8_t>& p) {
      return std::lexicographical_compare(key.begin(), key.begin() + std::min(key.size(), p.size()),
                                          p.begin(), p.end());
    };
    std::size_t lo = static_cast<std::size_t>(
        std::partition_point(ks.begin(), ks.end(),
                             [&](const auto& k) { return less_prefix(k, prefix); }) -
        ks.begin());
    std::size_t hi = lo;
    while (hi < ks.size() && starts_with(ks[hi])) ++hi;
    std::optional<std::size_t> found;
    auto forward = [&](std::size_t from, bool must_match) {
      for (std::size_t p = from; p < ks.size(); ++p) {
        if (must_match && !starts_with(ks[p])) return;
        if (r.LiveAt(p)) {
          found = p;
          return;
        }
      }
    };
    auto backward = [&](std::size_t before) {
      for (std::size_t p = before; p-- > 0;)
        if (r.LiveAt(p)) {
          found = p;
          return;
        }
    };
    switch (cmp) {
      case jet::SeekComparison::kEqual:
        forward(lo, true);
        break;
      case jet::SeekComparison::kGreaterEqual:
        forward(lo, false);
        break;
      case jet::SeekComparison::kGreater:
        forward(hi, false);
        break;
      case jet::SeekComparison::kLessEqual:
        backward(hi);
        break;
      case jet::SeekComparison::kLess:
        backward(lo);
        break;
    }
    r.no_match = !found;
    if (found) r.Land(*found);
  });
}

}  // namespace dao
