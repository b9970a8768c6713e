// Recordset editing: AddNew, Edit, Update, CancelUpdate and Delete.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/encoding.h"
#include "recordset_impl.h"

namespace dao {

// ---- editing ----

void Recordset::AddNew() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.type == dbOpenTable || r.type == dbOpenDynaset);
    if (!r.updatable) r.Fail(err::kReadOnly);
    const auto& cols = r.rows->columns;
    for (std::size_t c = 0; c < cols.size(); ++c) {
      r.filled[c] = 0;
      r.empty_text[c] = 0;
      if (!r.defaults[c]) continue;
      // The column's DefaultValue is in the new record from the start.
      core::Variant& v = r.buffer[c];
      v = core::Variant::Null();
      r.filled[c] = 1;
      try {
        core::Variant d = r.defaults[c]->Evaluate(jetsql::ValuesRow(r.row_scratch));
        core::Variant converted;
        if (ConvertToFieldType(d, cols[c].type, static_cast<std::uint32_t>(cols[c].size),
                               converted) == 0)
          v = std::move(converted);
      } catch (const std::exception&) {
        // As no default at all.
      }
      r.empty_text[c] = v.Type() == core::VarType::String && v.ToString().empty();
    }
    std::fill(r.touched.begin(), r.touched.end(), 0);
    std::fill(r.chunked.begin(), r.chunked.end(), 0);
    r.edit_mode = dbEditAdd;
  });
}

void Recordset::Edit() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.type == dbOpenTable || r.type == dbOpenDynaset);
    if (!r.updatable) r.Fail(err::kReadOnly);
    r.DiscardEdit();
    r.RequireCurrent(source::kRecordset);
    const auto& row = r.CurrentRow(source::kRecordset);
    r.buffer.assign(row.begin(), row.end());
    std::fill(r.touched.begin(), r.touched.end(), 0);
    std::fill(r.chunked.begin(), r.chunked.end(), 0);
    std::fill(r.filled.begin(), r.filled.end(), 1);
    for (std::size_t c = 0; c < r.buffer.size(); ++c)
      r.empty_text[c] =
          r.buffer[c].Type() == core::VarType::String && r.buffer[c].ToString().empty();
    r.edit_mode = dbEditInProgress;
  });
}

void Recordset::Update(int update_type, bool force) {
  (void)update_type;
  (void)force;
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    if (r.edit_mode == dbEditNone) r.Fail(err::kUpdateWithoutEdit);
    detail::TableState& ts = *r.rows->table;
    const auto& rules = r.db->Rules(ts);
    const auto& cols = r.rows->columns;
    for (std::size_t c = 0; c < cols.size(); ++c) {
      if (!r.filled[c]) {
        if (!r.buffer[c].IsNull()) r.buffer[c] = core::Variant::Null();
        r.filled[c] = 1;
      }
    }
    for (std::size_t c = 0; c < cols.size(); ++c) {
      const int st = cols[c].storage;
      if (st < 0) continue;
      const core::Variant& v = r.buffer[c];
      if (v.IsNullOrEmpty()) {
        if (rules[st].required && !cols[c].auto_increment)
          r.Fail(err::kRequiredNull, source::kRecordset, cols[c].name);
      } else if (r.empty_text[c] && !rules[st].allow_zero_length) {
        r.Fail(err::kZeroLengthString, source::kRecordset, cols[c].name);
      }
    }
    r.db->CheckWritable(source::kRecordset);
    const std::size_t storage_count = ts.table->Definition().columns.size();
    if (r.edit_mode == dbEditAdd) {
      jet::RowPointer where;
      if (r.storage_order) {
        // The buffer is the row as the storage wants it; a refused row leaves it pending.
        where = ts.table->Insert(r.buffer, &r.inserted);
      } else {
        // The buffer's values move into the row and come back if the storage refuses it, so
        // that the add stays pending with what was typed.
        r.storage_values.assign(storage_count, core::Variant());
        for (std::size_t c = 0; c < cols.size(); ++c)
          if (cols[c].storage >= 0) r.storage_values[cols[c].storage] = std::move(r.buffer[c]);
        try {
          where = ts.table->Insert(r.storage_values, &r.inserted);
        } catch (...) {
          for (std::size_t c = 0; c < cols.size(); ++c)
            if (cols[c].storage >= 0) r.buffer[c] = std::move(r.storage_values[cols[c].storage]);
          throw;
        }
      }
      ++ts.version;
      const std::size_t before = r.rows->Size();
      const bool was_empty = r.bof && r.eof;
      std::size_t ordinal = r.rows->Append(ts.MarkInserted(where.ToU32()));
      if (r.index) {
        // Placed by its stored values: an AutoNumber key has its number only now. (An index
        // read through its B-tree took the row when the table wrote it.)
        if (!r.index->cursor) r.PlaceInIndex(ordinal, r.inserted);
      } else if (r.high == before) {
        // A fully populated recordset counts the rows it adds at once.
        r.high = r.rows->Size();
      }
      r.last_modified = ordinal + 1;
      if (was_empty) {
        r.bof = false;
        r.eof = true;
      }
      // The new row is usually the next one read (a program moving to LastModified): the
      // current-row cache takes it as stored instead of reading it back.
      if (!r.rows->query && !r.rows->copy_rows) {
        r.rows->FromStorage(r.inserted, r.current);
        r.current_ordinal = ordinal;
        r.current_version = r.rows->version + ts.version;
      }
    } else {
      std::size_t ordinal = r.OrdinalAt(r.cur);
      if (!r.rows->Live(ordinal)) r.Fail(err::kRecordDeleted);
      r.storage_values.assign(storage_count, core::Variant());
      for (std::size_t c = 0; c < cols.size(); ++c)
        if (cols[c].storage >= 0 && r.touched[c]) r.storage_values[cols[c].storage] = r.buffer[c];
      jet::RowPointer where = jet::RowPointer::FromU32(r.rows->refs[ordinal].ptr);
      ts.table->Update(where, r.storage_values);
      ++ts.version;
      ++r.rows->version;
      if (r.index) {
        std::vector<core::Variant> stored = ts.table->Read(where);
        if (r.index->cursor) {
          // The record stays current at its new place in the order.
          r.index->entry = r.EntryOfRow(ordinal, stored);
        } else {
          r.RemoveFromIndex(ordinal);
          r.PlaceInIndex(ordinal, stored);
        }
      }
      r.last_modified = ordinal + 1;
    }
    r.edit_mode = dbEditNone;
  });
}

void Recordset::CancelUpdate(int update_type) {
  (void)update_type;
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    if (r.edit_mode == dbEditNone) r.Fail(err::kUpdateWithoutEdit);
    r.edit_mode = dbEditNone;
  });
}

void Recordset::Delete() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.type == dbOpenTable || r.type == dbOpenDynaset);
    if (!r.updatable) r.Fail(err::kReadOnly);
    r.DiscardEdit();
    if (!r.positioned || r.bof || r.eof) r.Fail(err::kNoCurrentRecord);
    if (r.deleted_current) r.Fail(err::kRecordDeleted);
    std::size_t ordinal = r.OrdinalAt(r.cur);
    if (!r.rows->Live(ordinal)) r.Fail(err::kRecordDeleted);
    r.db->CheckWritable(source::kRecordset);
    detail::TableState& ts = *r.rows->table;
    std::uint32_t ptr = r.rows->refs[ordinal].ptr;
    ts.table->Delete(jet::RowPointer::FromU32(ptr));
    ts.MarkDeleted(ptr);
    ++ts.version;
    r.rows->MarkDead(ordinal);
    r.deleted_current = true;
  });
}

}  // namespace dao
