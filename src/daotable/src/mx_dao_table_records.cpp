// TMxDaoTable record buffers: the header, the value texts and their changed marks, the
// conversions between value texts and the framework's native forms, and copying a DAO record
// into a buffer.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/datetime.h"
#include "daotable/mx_dao_table.h"

namespace daotable {

using ds::TFieldType;

namespace {

bool IsCalcKind(const ds::TField* f) {
  return f->FieldKind() == ds::fkCalculated || f->FieldKind() == ds::fkLookup;
}

void AppendInt(std::string& out, std::int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void SetInt(std::string& out, std::int64_t value) {
  out.clear();
  AppendInt(out, value);
}

// "<day count> <milliseconds>"; false unless both parts are integers.
bool ParseStamp(std::string_view text, std::int64_t& days, std::int64_t& ms) {
  auto blank = text.find(' ');
  if (blank == std::string_view::npos) return false;
  return core::TryTextToInt64(text.substr(0, blank), days) &&
         core::TryTextToInt64(text.substr(blank + 1), ms);
}

void SetStamp(std::string& out, std::int64_t days, std::int64_t ms) {
  out.clear();
  AppendInt(out, days);
  out.push_back(' ');
  AppendInt(out, ms);
}

// The float text of the value texts: the shortest text that reads back to the same double, which
// is the 15-digit form whenever that one reads back (two 15-digit decimals never fall on one
// double). std::to_chars finds it far faster than trying precisions; its exponent and
// non-finite spellings differ from ours, so those go the long way.
void SetFloatText(std::string& out, double value) {
  if (core::FewDecimalsFloatText(value, out)) return;
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  if (r.ec == std::errc() && std::isfinite(value) && std::find(buf, r.ptr, 'e') == r.ptr) {
    out.assign(buf, r.ptr);
    return;
  }
  out = core::FloatToText(value);
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Buffers

ds::TRecordBuffer TMxDaoTable::AllocRecordBuffer() {
  auto size = static_cast<std::size_t>(FRecordSize);
  auto* buffer = new std::uint8_t[size]();
  TDaoRecInfo& info = RecInfo(buffer);
  info.Values = new TDaoValues(static_cast<std::size_t>(FieldDefs().Count()));
  return buffer;
}

void TMxDaoTable::FreeRecordBuffer(ds::TRecordBuffer& buffer) {
  if (buffer == nullptr) return;
  delete RecInfo(buffer).Values;
  delete[] buffer;
  buffer = nullptr;
}

// A buffer for the old values: the spare one when there is one (cleared as if new), so that an
// append loop does not allocate a block and a list per record.
ds::TRecordBuffer TMxDaoTable::NewBuffer() {
  if (FSpareBuffer == nullptr) return AllocRecordBuffer();
  ds::TRecordBuffer buffer = FSpareBuffer;
  FSpareBuffer = nullptr;
  TDaoValues* values = RecInfo(buffer).Values;
  std::memset(buffer, 0, static_cast<std::size_t>(FRecordSize));
  RecInfo(buffer).Values = values;
  for (TDaoValue& v : *values) {
    v.Text.clear();
    v.Changed = false;
  }
  return buffer;
}

void TMxDaoTable::DisposeBuffer(ds::TRecordBuffer& buffer) {
  FreeRecordBuffer(buffer);
}

void TMxDaoTable::FreeOldValues() {
  if (FOldValuesBuffer == nullptr) return;
  if (FSpareBuffer == nullptr) {
    FSpareBuffer = FOldValuesBuffer;
    FOldValuesBuffer = nullptr;
  } else {
    FreeRecordBuffer(FOldValuesBuffer);
  }
}

// OldValuesBuffer := a copy of the header and values of the active record, if any.
void TMxDaoTable::MakeOldValues() {
  FreeOldValues();
  FOldValuesBuffer = NewBuffer();
  ds::TRecordBuffer active = GetActiveRecordBuffer();
  if (active == nullptr) return;
  const TDaoRecInfo& from = RecInfo(active);
  TDaoRecInfo& to = RecInfo(FOldValuesBuffer);
  to.DaoBookmark = from.DaoBookmark;
  to.BookmarkFlag = from.BookmarkFlag;
  to.RecordIndex = from.RecordIndex;
  *to.Values = *from.Values;
}

ds::TRecordBuffer TMxDaoTable::GetActiveRecordBuffer() const {
  switch (State()) {
    case ds::dsBrowse:
    case ds::dsBlockRead:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case ds::dsCalcFields:
      return FLookupBuffer != nullptr ? FLookupBuffer : CalcBuffer();
    case ds::dsFilter:
      return FilterBuffer();
    case ds::dsOldValue:
      return FOldValuesBuffer != nullptr ? FOldValuesBuffer : ActiveBuffer();
    case ds::dsEdit:
    case ds::dsInsert:
    case ds::dsNewValue:
    case ds::dsCurValue:
      return ActiveBuffer();
    default:
      return nullptr;
  }
}

void TMxDaoTable::InternalInitRecord(ds::TRecordBuffer buffer) {
  MakeOldValues();
  TDaoRecInfo& info = RecInfo(buffer);
  TDaoValues& values = *info.Values;
  std::size_t n = std::min(values.size(), FDefFields.size());
  for (std::size_t i = 0; i < n; ++i) {
    TDaoValue& v = values[i];
    v.Changed = false;
    ds::TField* f = FDefFields[i];
    if (f != nullptr && !f->DefaultExpression().empty()) {
      std::string e = f->DefaultExpression();
      if (!e.empty() && e.front() == '\'') e.erase(0, 1);
      if (!e.empty() && e.back() == '\'') e.pop_back();
      FFieldDefaults[i] = std::move(e);
      v.Changed = true;
    }
    v.Text = i < FFieldDefaults.size() ? FFieldDefaults[i] : std::string();
  }
  for (std::size_t i = n; i < values.size(); ++i) {
    values[i].Text.clear();
    values[i].Changed = false;
  }
  info.BookmarkFlag = static_cast<std::uint8_t>(ds::bfInserted);
  info.DaoBookmark = 0;
  info.RecordIndex = -1;
}

bool TMxDaoTable::GetCurrentRecord(ds::TRecordBuffer buffer) {
  if (!FCursorOpen || IsEmpty() || buffer == nullptr) return false;
  ds::TRecordBuffer active = GetActiveRecordBuffer();
  if (active == nullptr) return false;
  // A buffer of ours gets its own copy of the values; sharing one list between two buffers
  // would free it twice.
  TDaoValues* own = RecInfo(buffer).Values;
  std::memcpy(buffer, active, static_cast<std::size_t>(FRecordSize));
  if (own != nullptr) {
    *own = *RecInfo(active).Values;
    RecInfo(buffer).Values = own;
  }
  return true;
}

void TMxDaoTable::ClearCalcFields(ds::TRecordBuffer buffer) {
  if (buffer == nullptr) return;
  std::memset(buffer + kDaoRecInfoSize, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

// ---------------------------------------------------------------------------------------------
// Field values

namespace {

// A text field whose value travels whole between the table's value texts and its callers: the
// framework's field buffers end at the first NUL, and a text may hold NULs.
class DaoStringField : public ds::TStringField {
 public:
  using ds::TStringField::TStringField;

 protected:
  std::string GetAsString() const override {
    std::string text;
    static_cast<const TMxDaoTable*>(DataSet())->FieldText(this, text);
    return text;
  }
  ds::Variant GetAsVariant() const override {
    std::string text;
    if (!static_cast<const TMxDaoTable*>(DataSet())->FieldText(this, text))
      return ds::Variant::Null();
    return ds::Variant(std::move(text));
  }
  void SetAsStringValue(const std::string& value) override {
    auto* table = static_cast<TMxDaoTable*>(DataSet());
    table->FPendingText = &value;
    try {
      ds::TStringField::SetAsStringValue(value);
    } catch (...) {
      table->FPendingText = nullptr;
      throw;
    }
    table->FPendingText = nullptr;
  }
};

}  // namespace

bool TMxDaoTable::FieldText(const ds::TField* field, std::string& text) const {
  text.clear();
  if (!FCursorOpen) return false;
  ds::TRecordBuffer record = GetActiveRecordBuffer();
  if (record == nullptr) return false;
  const TDaoValues& values = *RecInfo(record).Values;
  auto index = static_cast<std::size_t>(field->FieldNo() - 1);
  if (field->FieldNo() < 1 || index >= values.size()) return false;
  text = values[index].Text;
  return !text.empty();
}

void TMxDaoTable::CreateDaoFields() {
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const ds::TFieldDef& def = FieldDefs()[i];
    if (def.DataType() == ds::ftUnknown || def.Attributes().Contains(ds::faHiddenCol)) continue;
    if (def.DataType() != ds::ftString) {
      def.CreateField(this, this);
      continue;
    }
    auto field = std::make_unique<DaoStringField>(this);
    field->SetSize(def.Size());
    field->SetFieldName(def.Name());
    field->SetRequired(def.Required());
    field->SetReadOnly(def.Attributes().Contains(ds::faReadonly));
    field->SetDataSet(this);
    field.release();  // owned by the table from here on
  }
}

bool TMxDaoTable::GetFieldData(ds::TField* field, void* buffer) const {
  if (!FCursorOpen) return false;
  ds::TRecordBuffer record = GetActiveRecordBuffer();
  if (record == nullptr) return false;
  if (IsCalcKind(field)) {
    const std::uint8_t* at = record + kDaoRecInfoSize + field->Offset();
    if (at[0] == 0) return false;
    if (buffer != nullptr) std::memcpy(buffer, at + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }
  const TDaoValues& values = *RecInfo(record).Values;
  auto index = static_cast<std::size_t>(field->FieldNo() - 1);
  if (field->FieldNo() < 1 || index >= values.size()) return false;
  const std::string& text = values[index].Text;
  if (buffer == nullptr) return !text.empty();
  switch (field->DataType()) {
    case ds::ftString:
    case ds::ftFixedChar: {
      std::size_t n = text.size();
      auto cap = static_cast<std::size_t>(field->DataSize());
      if (cap > 0 && n >= cap) n = cap - 1;
      std::memcpy(buffer, text.data(), n);
      static_cast<char*>(buffer)[n] = '\0';
      return !text.empty();
    }
    case ds::ftSmallint:
    case ds::ftInteger:
    case ds::ftWord:
    case ds::ftAutoInc: {
      std::string_view t = text.empty() ? std::string_view("0") : std::string_view(text);
      std::int64_t v = 0;
      if (core::TryTextToInt64(t, v) && v >= std::numeric_limits<std::int32_t>::min() &&
          v <= std::numeric_limits<std::int32_t>::max()) {
        auto v32 = static_cast<std::int32_t>(v);
        std::memcpy(buffer, &v32, 4);
      } else {
        double d = 0;
        if (core::TryTextToFloat(t, d)) {
          double r = std::nearbyint(d);
          if (r >= std::numeric_limits<std::int32_t>::min() &&
              r <= std::numeric_limits<std::int32_t>::max()) {
            auto v32 = static_cast<std::int32_t>(r);
            std::memcpy(buffer, &v32, 4);
          }
        }
      }
      return !text.empty();
    }
    case ds::ftBoolean: {
      if (text.empty()) return false;
      std::string_view t(text);
      if (!t.empty() && t.front() == '=') t.remove_prefix(1);
      std::int64_t v = 0;
      bool known = true;
      if (SameTextAscii(t, "false") || SameTextAscii(t, "no") || SameTextAscii(t, "off"))
        v = 0;
      else if (SameTextAscii(t, "true") || SameTextAscii(t, "yes") || SameTextAscii(t, "on"))
        v = 1;
      else if (t == "-1")
        v = 1;
      else
        known = core::TryTextToInt64(t, v) && v >= -32768 && v <= 32767;
      if (known) {
        auto v16 = static_cast<std::int16_t>(v);
        std::memcpy(buffer, &v16, 2);
      }
      return true;
    }
    case ds::ftFloat:
    case ds::ftCurrency: {
      std::string_view t = text.empty() ? std::string_view("0") : std::string_view(text);
      double d = 0;
      if (core::TryTextToFloat(t, d)) std::memcpy(buffer, &d, 8);
      return !text.empty();
    }
    case ds::ftDate:
    case ds::ftTime:
    case ds::ftDateTime: {
      std::int64_t days = 0, ms = 0;
      if (!ParseStamp(text, days, ms)) return false;
      if (field->DataType() == ds::ftDateTime) {
        double v = static_cast<double>(days) * core::kMsPerDay + static_cast<double>(ms);
        std::memcpy(buffer, &v, 8);
      } else {
        std::int64_t part = field->DataType() == ds::ftDate ? days : ms;
        if (part < std::numeric_limits<std::int32_t>::min() ||
            part > std::numeric_limits<std::int32_t>::max())
          return false;
        auto v32 = static_cast<std::int32_t>(part);
        std::memcpy(buffer, &v32, 4);
      }
      return true;
    }
    case ds::ftBytes: {
      if (field->ValidChars() == GUIDChars()) {
        if (text.empty()) return false;
        std::string t = text;
        if (t.rfind("{guid ", 0) == 0) t.erase(0, 6);
        if (t.size() >= 2 && t.compare(t.size() - 2, 2, "}}") == 0) t.pop_back();
        for (char& c : t)
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        std::uint8_t bytes[16];
        if (!dao::ParseGuidValueText(t, bytes))
          throw core::EConvertError("'" + t + "' is not a valid GUID value");
        auto size = static_cast<std::size_t>(std::max(field->DataSize(), 0));
        std::memset(buffer, 0, size);
        std::memcpy(buffer, bytes, std::min<std::size_t>(16, size));
        return true;
      }
      auto size = static_cast<std::size_t>(std::max(field->DataSize(), 0));
      std::memset(buffer, 0, size);
      std::memcpy(buffer, text.data(), std::min(size, text.size()));
      return !text.empty();
    }
    default:
      return false;
  }
}

void TMxDaoTable::SetFieldData(ds::TField* field, const void* buffer) {
  ds::TRecordBuffer record = GetActiveRecordBuffer();
  if (record == nullptr) return;
  bool calc = IsCalcKind(field);
  if (field->FieldKind() == ds::fkData || field->FieldKind() == ds::fkInternalCalc)
    field->Validate(buffer);
  if (!calc) {
    if (field->ReadOnly()) return;
    TDaoValues& values = *RecInfo(record).Values;
    auto index = static_cast<std::size_t>(field->FieldNo() - 1);
    if (field->FieldNo() < 1 || index >= values.size()) return;
    TDaoValue& entry = values[index];
    std::string& t = entry.Text;
    if (buffer == nullptr) {
      t.clear();
    } else {
      switch (field->DataType()) {
        case ds::ftString:
        case ds::ftFixedChar:
          if (FPendingText)
            t.assign(*FPendingText);
          else
            t.assign(static_cast<const char*>(buffer));
          break;
        case ds::ftSmallint:
        case ds::ftInteger:
        case ds::ftWord:
        case ds::ftAutoInc: {
          std::int32_t v;
          std::memcpy(&v, buffer, 4);
          SetInt(t, v);
          break;
        }
        case ds::ftBoolean: {
          std::int16_t v;
          std::memcpy(&v, buffer, 2);
          t.assign(v != 0 ? "True" : "False");
          break;
        }
        case ds::ftFloat:
        case ds::ftCurrency:
        case ds::ftBCD: {
          double v;
          std::memcpy(&v, buffer, 8);
          SetFloatText(t, v);
          break;
        }
        case ds::ftDate: {
          std::int32_t v;
          std::memcpy(&v, buffer, 4);
          SetStamp(t, v, 0);
          break;
        }
        case ds::ftTime: {
          std::int32_t v;
          std::memcpy(&v, buffer, 4);
          SetStamp(t, core::kDateDelta, v);
          break;
        }
        case ds::ftDateTime: {
          double v;
          std::memcpy(&v, buffer, 8);
          double ms = std::nearbyint(v);
          // A value beyond the years DAO can hold is no date at all.
          if (!std::isfinite(ms) || ms < 0 || ms > 4.0e15) {
            t.clear();
          } else {
            auto total = static_cast<std::int64_t>(ms);
            SetStamp(t, total / core::kMsPerDay, total % core::kMsPerDay);
          }
          break;
        }
        case ds::ftBytes: {
          const auto* bytes = static_cast<const std::uint8_t*>(buffer);
          if (field->ValidChars() == GUIDChars()) {
            bool zero = true;
            int n = std::min(field->Size(), 16);
            for (int i = 0; i < n; ++i) zero = zero && bytes[i] == 0;
            if (zero || n < 16) {
              t.clear();
            } else {
              t = dao::GuidValueText(bytes);
            }
          } else {
            t.assign(reinterpret_cast<const char*>(bytes),
                     static_cast<std::size_t>(std::max(field->Size(), 0)));
          }
          break;
        }
        default:
          t.clear();
          break;
      }
    }
    entry.Changed = true;
  } else {
    std::uint8_t* at = record + kDaoRecInfoSize + field->Offset();
    at[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(at + 1, buffer, static_cast<std::size_t>(field->DataSize()));
  }
  ds::TDataSetState s = State();
  if (s != ds::dsCalcFields && s != ds::dsFilter && s != ds::dsNewValue && s != ds::dsInternalCalc)
    DataEvent(ds::deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

// ---------------------------------------------------------------------------------------------
// Reading a DAO record

bool TMxDaoTable::ReadRecord(dao::Recordset& recordset, bool use_cached_fields,
                             ds::TRecordBuffer buffer) {
  if (FDatabase != nullptr) FDatabase->Idle();
  TDaoRecInfo& info = RecInfo(buffer);
  info.DaoBookmark = FBookmarkable ? CurrentDaoBookmark(recordset) : 0;
  info.RecordIndex = FCursorPosition;
  info.BookmarkFlag = static_cast<std::uint8_t>(ds::bfCurrent);
  TDaoValues& values = *info.Values;
  std::size_t n = std::min(values.size(), FDefFields.size());
  dao::Fields* fields = use_cached_fields ? nullptr : &recordset.Fields();
  for (std::size_t i = 0; i < n; ++i) {
    ds::TField* f = FDefFields[i];
    if (f == nullptr) continue;
    TFieldType type = f->DataType();
    bool blob = f->IsBlob();
    bool fetch =
        !blob || (type == ds::ftMemo && FCacheMemos) || (type == ds::ftBlob && FCacheBlobs);
    std::shared_ptr<dao::Field> holder;
    dao::Field* df = nullptr;
    if (use_cached_fields && i < FFieldObjects.size()) {
      df = FFieldObjects[i].get();
    } else {
      holder = fields->Item(static_cast<int>(i));
      df = holder.get();
    }
    TDaoValue& entry = values[i];
    std::string& t = entry.Text;
    if (!fetch) {
      std::int32_t size = 0;
      try {
        size = df->FieldSize();
      } catch (const core::EOleException& e) {
        if (e.ErrorCode() == 3167) return false;
      }
      if (size == 0)
        t.clear();
      else
        SetInt(t, size);
      entry.Changed = false;
      continue;
    }
    core::Variant v;
    try {
      v = df->Value();
    } catch (const core::EOleException& e) {
      if (e.ErrorCode() == 3167) return false;
      v = core::Variant::Null();
    }
    if (v.IsNullOrEmpty()) {
      t.clear();
    } else if (type == ds::ftBlob) {
      std::int32_t size = df->FieldSize();
      if (v.Type() == core::VarType::ByteArray) {
        const auto& bytes = v.Bytes();
        std::size_t k = std::min(bytes.size(), static_cast<std::size_t>(std::max(size, 0)));
        t.assign(reinterpret_cast<const char*>(bytes.data()), k);
      } else {
        t = v.ToString();
      }
    } else if (v.Type() == core::VarType::ByteArray && !blob) {
      const auto& bytes = v.Bytes();
      t.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    } else if (type == ds::ftDate || type == ds::ftTime || type == ds::ftDateTime) {
      try {
        core::TimeStamp stamp = core::DateTimeToTimeStamp(v.ToDate());
        SetStamp(t, stamp.Date, stamp.Time);
      } catch (const std::exception&) {
        t.clear();
      }
    } else if (type == ds::ftBoolean) {
      bool b = false;
      try {
        b = v.ToBoolean();
      } catch (const std::exception&) {
      }
      t.assign(b ? "True" : "False");
    } else if (v.Type() == core::VarType::String) {
      t.assign(v.Text());  // into the entry's own room: no new text per record
    } else if (v.Type() == core::VarType::Double) {
      SetFloatText(t, v.ToDouble());
    } else {
      try {
        t = v.ToString();
      } catch (const std::exception&) {
        t.clear();
      }
    }
    if (FEncrypterActive && !t.empty() && (type == ds::ftString || blob)) t = Decrypt(t);
    entry.Changed = false;
  }
  return true;
}

}  // namespace daotable
