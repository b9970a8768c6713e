#include "jetsql/expression.h"

#include <bit>
#include <cstring>

#include "binders.h"
#include "compile.h"
#include "jetsql/collation.h"
#include "parser.h"
#include "values.h"

namespace jetsql {

using detail::ExprPtr;

namespace {

std::string_view TrimText(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

[[noreturn]] void Rethrow(const SqlError& e, std::string_view source) {
  throw SqlError(e.Number(), e.Description(), source);
}

// Text and binary key bytes are escaped so that a 00 byte only ends a segment: 00 -> 01 01,
// 01 -> 01 02. That keeps segments prefix-free, so several columns' keys concatenate and a
// descending column can simply be complemented.
void AppendEscaped(std::string_view bytes, std::string& key) {
  key.reserve(key.size() + bytes.size() + 1);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x01) {
      key += '\x01';
      key += static_cast<char>(b + 1);
    } else {
      key += c;
    }
  }
  key += '\0';
}

}  // namespace

void AppendSortKey(const core::Variant& value, bool descending, std::string& key) {
  const std::size_t start = key.size();
  const core::VarType t = value.Type();
  if (value.IsNullOrEmpty()) {
    key += '\0';
  } else if (detail::IsNumericKind(t)) {
    double d = detail::NumberOf(value);
    if (d == 0) d = 0;  // -0 sorts with 0
    std::uint64_t bits = std::bit_cast<std::uint64_t>(d);
    bits = (bits & 0x8000000000000000ull) ? ~bits : (bits | 0x8000000000000000ull);
    key += '\x01';
    for (int i = 7; i >= 0; --i) key += static_cast<char>((bits >> (8 * i)) & 0xFF);
  } else if (t == core::VarType::String) {
    key += '\x02';
    thread_local std::string text_key;  // keys are built for every row sorted
    text_key.clear();
    AppendTextSortKey(value.ToString(), text_key);
    AppendEscaped(text_key, key);
  } else if (t == core::VarType::ByteArray) {
    key += '\x03';
    const std::vector<std::uint8_t>& b = value.Bytes();
    AppendEscaped(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()), key);
  } else {
    detail::TypeMismatch();
  }
  if (descending) {
    for (std::size_t i = start; i < key.size(); ++i) key[i] = static_cast<char>(~key[i]);
  }
}

// ---- CompiledExpression ----

struct CompiledExpression::Impl {
  std::string text;
  ExprPtr expr;
  jet::SortOrder order = jet::kGeneralSortOrder;
};

CompiledExpression::CompiledExpression() = default;
CompiledExpression::~CompiledExpression() = default;
CompiledExpression::CompiledExpression(const CompiledExpression&) = default;
CompiledExpression& CompiledExpression::operator=(const CompiledExpression&) = default;

CompiledExpression CompiledExpression::Compile(std::string_view text,
                                               const std::vector<ColumnInfo>& columns,
                                               TextKind kind, std::string_view source) {
  auto impl = std::make_shared<Impl>();
  impl->text = std::string(text);
  impl->order = CollationOf(columns);
  try {
    detail::ColumnListBinder binder(columns, kind == TextKind::kCriteria);
    try {
      detail::NodePtr node = detail::ParseExpression(text);
      impl->expr = detail::Compile(*node, binder, text);
    } catch (const detail::SyntaxError& e) {
      if (kind == TextKind::kCriteria) ThrowError(dao_error::kExpression, e.phrase);
      ThrowError(dao_error::kQueryExpression, e.phrase, TrimText(text));
    }
    binder.CheckNoParameters();
  } catch (const SqlError& e) {
    Rethrow(e, source);
  }
  CompiledExpression out;
  out.impl_ = std::move(impl);
  return out;
}

core::Variant CompiledExpression::Evaluate(const RowView& row) const {
  if (!impl_) return core::Variant::Null();
  const CollationScope collation(impl_->order);
  detail::EvalState state;
  state.call.now = detail::CurrentDateTime();
  return impl_->expr->Eval(row, state);
}

bool CompiledExpression::Matches(const RowView& row) const {
  return detail::IsTrue(Evaluate(row));
}

const std::string& CompiledExpression::Text() const {
  static const std::string empty;
  return impl_ ? impl_->text : empty;
}

DataType CompiledExpression::Type() const {
  return impl_ ? impl_->expr->type : DataType::kValue;
}

// ---- SortSpec ----

struct SortSpec::Impl {
  std::string text;
  std::vector<ExprPtr> keys;
  std::vector<bool> descending;
  jet::SortOrder order = jet::kGeneralSortOrder;
};

SortSpec::SortSpec() = default;
SortSpec::~SortSpec() = default;
SortSpec::SortSpec(const SortSpec&) = default;
SortSpec& SortSpec::operator=(const SortSpec&) = default;

SortSpec SortSpec::Compile(std::string_view sort_text, const std::vector<ColumnInfo>& columns,
                           std::string_view source) {
  auto impl = std::make_shared<Impl>();
  impl->text = std::string(sort_text);
  impl->order = CollationOf(columns);
  try {
    std::vector<detail::OrderItem> items = detail::ParseOrderList(sort_text);
    detail::ColumnListBinder binder(columns, false);
    for (detail::OrderItem& item : items) {
      ExprPtr e;
      // A bare number is a column position (ORDER BY 2).
      if (item.expr->kind == detail::NodeKind::kLiteral &&
          item.expr->value.Type() == core::VarType::Long) {
        const std::int64_t n = item.expr->value.ToInt64();
        if (n < 1 || static_cast<std::size_t>(n) > columns.size()) {
          ThrowError(dao_error::kOrderByClause);
        }
        e = detail::MakeColumn(static_cast<int>(n - 1),
                               columns[static_cast<std::size_t>(n - 1)].type);
      } else {
        try {
          e = detail::Compile(*item.expr, binder, sort_text);
        } catch (const detail::SyntaxError& err) {
          ThrowError(dao_error::kQueryExpression, err.phrase, item.text);
        }
      }
      if (e->column >= 0) {
        const ColumnInfo& c = columns[static_cast<std::size_t>(e->column)];
        if (c.type == DataType::kMemo || c.type == DataType::kLongBinary) {
          ThrowError(dao_error::kCannotSortMemo, c.name);
        }
      }
      impl->keys.push_back(std::move(e));
      impl->descending.push_back(item.descending);
    }
    binder.CheckNoParameters();
  } catch (const SqlError& e) {
    Rethrow(e, source);
  }
  SortSpec out;
  out.impl_ = std::move(impl);
  return out;
}

void SortSpec::AppendKey(const RowView& row, std::string& key) const {
  if (!impl_) return;
  const CollationScope collation(impl_->order);
  detail::EvalState state;
  for (std::size_t i = 0; i < impl_->keys.size(); ++i) {
    AppendSortKey(impl_->keys[i]->Eval(row, state), impl_->descending[i], key);
  }
}

int SortSpec::Compare(const RowView& a, const RowView& b) const {
  std::string ka, kb;
  AppendKey(a, ka);
  AppendKey(b, kb);
  const int c = ka.compare(kb);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

const std::string& SortSpec::Text() const {
  static const std::string empty;
  return impl_ ? impl_->text : empty;
}

bool SortSpec::IsEmpty() const {
  return !impl_ || impl_->keys.empty();
}

}  // namespace jetsql
