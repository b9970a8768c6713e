// Dataset searching: Locate, Lookup, FindRecord and FindFirst/Last/Next/Prior.
#include <algorithm>
#include <cstring>
#include <exception>

#include "core/scope_exit.h"
#include "dataset/db.h"
#include "internal.h"
#include "platform/hooks.h"

namespace ds {

using detail::IsTextType;

// ---------------------------------------------------------------------------------------------
// Searching

namespace {

std::vector<Variant> KeyList(const Variant& values, std::size_t count, const TDataSet* dataset) {
  std::vector<Variant> keys;
  if (count == 1 && values.Type() != core::VarType::Array)
    keys.push_back(values);
  else if (values.Type() == core::VarType::Array)
    keys = values.Elements();
  else
    keys.push_back(values);
  if (keys.size() != count)
    DatabaseError(
        "Number of elements in the KeyValues array must be equal to the number of fields.",
        dataset);
  return keys;
}

}  // namespace

bool TDataSet::MatchesKeys(const std::vector<TField*>& fields, const std::vector<Variant>& keys,
                           TLocateOptions options) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TField* f = fields[i];
    const Variant& key = keys[i];
    bool null = f->IsNull();
    if (key.IsNullOrEmpty()) {
      if (!null) return false;
      continue;
    }
    if (null) return false;
    if (IsTextType(f->DataType())) {
      std::string have = f->AsString();
      std::string want = key.ToString();
      if (options.Contains(loCaseInsensitive)) {
        have = detail::LowerUtf8(have);
        want = detail::LowerUtf8(want);
      }
      bool match =
          options.Contains(loPartialKey) ? have.compare(0, want.size(), want) == 0 : have == want;
      if (!match) return false;
      continue;
    }
    Variant value = f->Value();
    if (value == key) continue;
    try {
      if (f->DataType() == ftBoolean) {
        if (value.ToBoolean() != key.ToBoolean()) return false;
      } else if (value.IsNumeric() || value.Type() == core::VarType::Date) {
        if (value.ToDouble() != key.ToDouble()) return false;
      } else if (value.ToString() != key.ToString()) {
        return false;
      }
    } catch (const core::Exception&) {
      // A key that does not convert to the field's kind matches nothing.
      return false;
    }
  }
  return true;
}

bool TDataSet::LocateQuietly(const std::vector<TField*>& fields, const std::vector<Variant>& keys,
                             TLocateOptions options) {
  TBookmark saved = GetBookmark();
  DisableControls();
  ++scroll_events_suppressed_;
  bool found = false;
  try {
    First();
    while (!Eof()) {
      if (MatchesKeys(fields, keys, options)) {
        found = true;
        break;
      }
      Next();
    }
    if (!found && !saved.empty()) GotoBookmark(saved);
  } catch (...) {
    --scroll_events_suppressed_;
    EnableControls();
    throw;
  }
  --scroll_events_suppressed_;
  EnableControls();
  return found;
}

bool TDataSet::Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options) {
  CheckBrowseMode();
  std::vector<TField*> fields = GetFieldList(key_fields);
  std::vector<Variant> keys = KeyList(key_values, fields.size(), this);
  if (IsEmpty()) return false;
  DoBeforeScroll();
  bool found = LocateQuietly(fields, keys, options);
  if (found) DoAfterScroll();
  return found;
}

Variant TDataSet::Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields) {
  CheckBrowseMode();
  std::vector<TField*> fields = GetFieldList(key_fields);
  std::vector<Variant> keys = KeyList(key_values, fields.size(), this);
  GetFieldList(result_fields);  // unknown result names fail before anything moves
  if (IsEmpty()) return Variant::Null();
  TBookmark saved = GetBookmark();
  if (!LocateQuietly(fields, keys, {})) return Variant::Null();
  Variant result = FieldValues(result_fields);
  if (!saved.empty()) {
    DisableControls();
    ++scroll_events_suppressed_;
    try {
      GotoBookmark(saved);
    } catch (...) {
      --scroll_events_suppressed_;
      EnableControls();
      throw;
    }
    --scroll_events_suppressed_;
    EnableControls();
  }
  return result;
}

bool TDataSet::FindRecord(bool restart, bool go_forward) {
  if (!on_filter_record_) return false;
  CheckBrowseMode();
  if (IsEmpty()) return false;
  TBookmark saved = GetBookmark();
  auto accepted = [this] {
    bool accept = true;
    on_filter_record_(this, accept);
    return accept;
  };
  DoBeforeScroll();
  DisableControls();
  ++scroll_events_suppressed_;
  bool found = false;
  try {
    if (restart) {
      if (go_forward)
        First();
      else
        Last();
    } else {
      MoveBy(go_forward ? 1 : -1);
    }
    bool at_end = go_forward ? Eof() && !restart : Bof() && !restart;
    while (!at_end && !IsEmpty()) {
      if (accepted()) {
        found = true;
        break;
      }
      if (MoveBy(go_forward ? 1 : -1) == 0) break;
    }
    if (!found && !saved.empty()) GotoBookmark(saved);
  } catch (...) {
    --scroll_events_suppressed_;
    EnableControls();
    throw;
  }
  --scroll_events_suppressed_;
  EnableControls();
  if (found) DoAfterScroll();
  return found;
}

bool TDataSet::FindFirst() {
  return found_ = FindRecord(true, true);
}
bool TDataSet::FindLast() {
  return found_ = FindRecord(true, false);
}
bool TDataSet::FindNext() {
  return found_ = FindRecord(false, true);
}
bool TDataSet::FindPrior() {
  return found_ = FindRecord(false, false);
}

}  // namespace ds
