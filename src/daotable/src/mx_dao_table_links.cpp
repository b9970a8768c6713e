// TMxDaoTable: the index definitions and the choice of an index, Locate / Lookup / the Find
// operations through DAO's own search (Seek on an index, FindFirst with a criteria text, a
// filtered snapshot), sort and filter applied by DAO at open, the master-detail link, and the
// parameters of stored queries and SQL statements.
//
// Every search works on a clone of the recordset or on a snapshot, so the table's own position
// and buffers change only when something was found.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/datetime.h"
#include "core/errors.h"
#include "dao/convert.h"
#include "daodb/dao_utils.h"
#include "daotable/mx_dao_table.h"

namespace daotable {

namespace {

constexpr int kTableType = 1;
constexpr int kDynaset = 2;
constexpr int kSnapshot = 4;
constexpr int kDynamic = 16;
constexpr int kDbUseODBC = 1;
constexpr std::size_t kMaxSeekKeys = 13;

const char* const kKeyCountMessage =
    "Number of elements in the KeyValues array must be equal to the number of fields.";

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Names of a ";"-separated list, each trimmed; empty names are left out.
std::vector<std::string> SplitNames(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string name = Trim(text.substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameText(n, name); });
}

template <typename F>
void Quietly(F&& step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

std::string Doubled(std::string_view text, char quote) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == quote) out += c;
  }
  return out;
}

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

// mm/dd/yyyy, hh:nn:ss and both: the forms Jet reads between # marks, whatever the user's
// separators.
std::string UsDate(double value) {
  const core::DateParts p = core::DecodeDateTime(value);
  char year[8];
  std::snprintf(year, sizeof year, "%04d", p.year);
  return TwoDigits(p.month) + "/" + TwoDigits(p.day) + "/" + year;
}
std::string UsTime(double value) {
  const core::DateParts p = core::DecodeDateTime(value);
  return TwoDigits(p.hour) + ":" + TwoDigits(p.minute) + ":" + TwoDigits(p.second);
}

// The registry form of 16 GUID bytes in upper case; empty for anything else and for the
// all-zero GUID.
std::string RegistryGuid(const std::vector<std::uint8_t>& b) {
  if (b.size() != 16 || std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; }))
    return {};
  const std::string value = dao::GuidValueText(b.data());  // "{guid {…}}"
  return value.substr(6, value.size() - 7);
}

// The GUID text of a value: its 16 bytes in registry form, or a text that already is one.
std::string GuidTextOf(const core::Variant& v) {
  if (v.Type() == core::VarType::ByteArray) return RegistryGuid(v.Bytes());
  return v.ToString();
}

// Reads a value text as a date the way criteria do: the stray characters cleaned away first.
double CriteriaDate(std::string& text) {
  text = daodb::CleanDateTimeText(text);
  double value = 0;
  if (!core::TryParseDateTimeText(text, value))
    throw core::EConvertError("'" + text + "' is not a valid date and time");
  return value;
}

bool IsNumberType(ds::TFieldType t) {
  switch (t) {
    case ds::ftSmallint:
    case ds::ftInteger:
    case ds::ftWord:
    case ds::ftBoolean:
    case ds::ftFloat:
    case ds::ftCurrency:
    case ds::ftAutoInc:
      return true;
    default:
      return false;
  }
}

// A value text ready for SQL: our decimal separator is already ".", and numbers carry no
// thousands separators.
std::string SqlNumber(std::string_view text) {
  return std::string(text);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Index definitions

ds::TIndexDef* TMxDaoIndexDefs::Add(const std::string& name, const std::string& fields,
                                    ds::TIndexOptions options) {
  TMxDaoTable& t = *FTable;
  if (t.FTableName.empty()) return nullptr;
  ds::TIndexDef* def = &ds::TIndexDefs::Add(name, fields, options);
  daodb::TMxDaoDatabase* database = t.FDatabase;
  if (database == nullptr || !database->Connected() || !database->DaoDatabase()) return def;
  dao::Database& db = *database->DaoDatabase();
  auto find_table = [&]() -> std::shared_ptr<dao::TableDef> {
    dao::TableDefs& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      auto td = defs.Item(i);
      if (SameText(td->Name(), t.FTableName)) return td;
    }
    return nullptr;
  };
  auto td = find_table();
  if (!td) return def;
  dao::Indexes& indexes = td->Indexes();
  for (int i = 0; i < indexes.Count(); ++i)
    if (SameText(indexes.Item(i)->Name(), name)) return def;
  const std::vector<std::string> names = SplitNames(fields);
  for (const std::string& field : names) {
    bool known = false;
    dao::Fields& table_fields = td->Fields();
    for (int i = 0; i < table_fields.Count() && !known; ++i)
      known = SameText(table_fields.Item(i)->Name(), field);
    if (!known) return def;
  }
  const bool was_active = t.Active();
  if (was_active) t.Close();
  try {
    database->RefreshDefinitions();
    td = find_table();
    if (td) {
      auto index = td->CreateIndex(name);
      if (options.Contains(ds::ixPrimary)) index->SetPrimary(true);
      if (options.Contains(ds::ixUnique)) index->SetUnique(true);
      for (const std::string& field : names) {
        auto f = index->CreateField(field);
        if (options.Contains(ds::ixDescending))
          f->SetAttributes(f->Attributes() | dao::dbDescending);
        index->Fields().Append(f);
      }
      td->Indexes().Append(index);
      database->RefreshDefinitions();
    }
  } catch (...) {
    if (was_active) t.Open();
    throw;
  }
  if (was_active) t.Open();
  return def;
}

void TMxDaoTable::UpdateIndexDefs() {
  ReadIndexDefs();
}

void TMxDaoTable::ReadIndexDefs() {
  FIndexDefs->Clear();
  if (FTableName.empty() || FTableType != kTableType || FDatabase == nullptr) return;
  if (FDatabase->EngineType() == kDbUseODBC || !FDatabase->DaoDatabase()) return;
  auto td = FDatabase->DaoDatabase()->TableDefs().Item(FTableName);
  dao::Indexes& indexes = td->Indexes();
  Quietly([&] { indexes.Refresh(); });
  const int count = indexes.Count();
  for (int k = 0; k < count; ++k) {
    auto index = indexes.Item(k);
    std::string list, descending;
    dao::Fields& fields = index->Fields();
    const int n = fields.Count();
    bool all_descending = n > 0;
    for (int i = 0; i < n; ++i) {
      auto f = fields.Item(i);
      list += f->Name();
      if (i + 1 < n) list += ';';
      if ((f->Attributes() & dao::dbDescending) != 0) {
        descending += f->Name() + ";";
      } else {
        all_descending = false;
      }
    }
    ds::TIndexOptions options;
    if (index->Primary()) options.Include(ds::ixPrimary);
    if (index->Unique()) options.Include(ds::ixUnique);
    if (all_descending) options.Include(ds::ixDescending);
    ds::TIndexDef* def = FIndexDefs->Add(index->Name(), list, options);
    if (!descending.empty()) descending.pop_back();
    if (def != nullptr) def->SetDescFields(descending);
  }
}

int TMxDaoTable::IndexFieldCount() const {
  FIndexFieldCount = 0;
  if (FTableType != kTableType || FDatabase == nullptr || !FDatabase->Connected() ||
      FTableName.empty() || FIndexName.empty() || !FDatabase->DaoDatabase())
    return 0;
  Quietly([&] {
    FIndexFieldCount = FDatabase->DaoDatabase()
                           ->TableDefs()
                           .Item(FTableName)
                           ->Indexes()
                           .Item(FIndexName)
                           ->Fields()
                           .Count();
  });
  return FIndexFieldCount;
}

std::string TMxDaoTable::IndexForFields(const std::string& text) const {
  if (FIndexDefs->Empty() || FTableType != kTableType || text.empty()) return {};
  std::string_view rest = text;
  const bool exact = rest.front() == '!';
  if (exact) rest.remove_prefix(1);
  if (rest.empty()) return {};
  const std::vector<std::string> wanted = SplitNames(rest);
  std::string result;
  for (int i = 0; i < FIndexDefs->Count(); ++i) {
    const ds::TIndexDef& def = FIndexDefs->Items(i);
    const std::vector<std::string> have = SplitNames(def.Fields());
    std::size_t found = 0;
    for (const std::string& w : wanted) found += Contains(have, w) ? 1 : 0;
    if (found != wanted.size()) continue;
    if (exact) {
      if (have.size() == wanted.size()) return def.Name();
      continue;
    }
    if (have.size() >= wanted.size()) {
      result = def.Name();
      if (!have.empty() && Contains(wanted, have.front())) return result;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Criteria

namespace {

// The comparison text of one key value for a field of this type; `locate` adds the options
// (lower case, LIKE for partial keys). Empty when the type has no criteria form.
std::string KeyComparison(const ds::TField& f, std::string& v, bool locate,
                          ds::TLocateOptions options) {
  const ds::TFieldType type = f.DataType();
  if (v == "NULL") return "IS NULL";
  if (type == ds::ftString || type == ds::ftMemo) {
    if (!locate) return " = \"" + Doubled(v, '"') + "\"";
    const bool insensitive = options.Contains(ds::loCaseInsensitive);
    if (insensitive) v = Lower(v);
    const std::string q = Doubled(v, '"');
    if (options.Contains(ds::loPartialKey)) {
      const std::string pattern = v.find('*') == std::string::npos ? q + "*" : q;
      return insensitive ? " LIKE LCASE(\"" + pattern + "\")" : " LIKE \"" + pattern + "\"";
    }
    return insensitive ? " = LCASE(\"" + q + "\")" : " = \"" + q + "\"";
  }
  if (IsNumberType(type)) return v.empty() ? " IS NULL" : " = " + SqlNumber(v);
  if (type == ds::ftDate || type == ds::ftTime || type == ds::ftDateTime) {
    if (v.empty()) return " IS NULL";
    const double d = CriteriaDate(v);
    const std::string text = type == ds::ftDate   ? UsDate(d)
                             : type == ds::ftTime ? UsTime(d)
                                                  : UsDate(d) + " " + UsTime(d);
    return " = #" + text + "#";
  }
  if (type == ds::ftBytes) {
    if (v.empty()) return " IS NULL";
    if (f.ValidChars() == GUIDChars()) return " = {guid " + v + "}";
    return " = \"" + v + "\"";
  }
  return {};
}

}  // namespace

std::string TMxDaoTable::KeyCriteria(const std::vector<std::string>& fields,
                                     std::vector<std::string>& values, bool locate,
                                     ds::TLocateOptions options) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string comparison =
        KeyComparison(FieldByName(fields[i]), values[i], locate, options);
    if (comparison.empty())
      ds::DatabaseError(locate ? "Unable to build Lookup Key SQL!" : "Unable to build Key SQL!");
    if (i > 0) out += " AND ";
    out +=
        "(" + (FUseBrackets ? daodb::BracketName(fields[i]) : fields[i]) + " " + comparison + ")";
  }
  return out;
}

std::string TMxDaoTable::BuildLocateCriteria(const std::vector<std::string>& fields,
                                             std::vector<std::string>& values,
                                             ds::TLocateOptions options) {
  return KeyCriteria(fields, values, true, options);
}

std::string TMxDaoTable::BuildKeyCriteria(const std::vector<std::string>& fields,
                                          std::vector<std::string>& values) {
  return KeyCriteria(fields, values, false, {});
}

void TMxDaoTable::SplitKeys(const std::string& key_fields, const ds::Variant& key_values,
                            std::vector<std::string>& fields,
                            std::vector<std::string>& values) const {
  fields = SplitNames(key_fields);
  values.clear();
  auto text_of = [](const core::Variant& v) {
    if (v.IsNullOrEmpty()) return std::string("NULL");
    if (v.Type() == core::VarType::ByteArray && v.Bytes().size() == 16) return GuidTextOf(v);
    return v.ToString();
  };
  if (key_values.Type() == core::VarType::Array) {
    for (const core::Variant& e : key_values.Elements()) values.push_back(text_of(e));
  } else {
    values.push_back(text_of(key_values));
  }
  if (values.size() != fields.size()) ds::DatabaseError(kKeyCountMessage);
  for (const std::string& name : fields) FieldByName(name);  // an unknown name raises here
}

// ---------------------------------------------------------------------------------------------
// Locate, Lookup and the Find operations

void TMxDaoTable::TakeOverMatch(dao::Recordset& copy, ds::TResyncMode resync) {
  const std::int32_t bookmark = CurrentDaoBookmark(copy);
  CheckBrowseMode();
  CursorPosChanged();
  DoBeforeScroll();
  std::int32_t position;
  if (FOpenTableType == kDynaset || FOpenTableType == kSnapshot || FOpenTableType == kDynamic)
    position = copy.AbsolutePosition();
  else
    position = PositionOfBookmark(copy, bookmark);
  GotoDaoBookmark(bookmark);
  FCursorPosition = position;
  Resync(resync);
  DoAfterScroll();
}

bool TMxDaoTable::Locate(const std::string& key_fields, const ds::Variant& key_values,
                         ds::TLocateOptions options) {
  if (IsEmpty() || RecordFilterInForce() || FDatabase == nullptr || !FDatabase->Connected())
    return false;
  std::vector<std::string> fields, values;
  SplitKeys(key_fields, key_values, fields, values);
  InternalSetToRecord(ActiveBuffer());
  const std::int32_t start = FCursorPosition;
  dao::Recordset& rs = *FRecordset;
  if (FBookmarkable) {
    std::string index;
    const std::string exact = IndexForFields("!" + key_fields);
    const std::string plain = IndexForFields(key_fields);
    const std::string* order[3] = {&exact, &plain, &FIndexName};
    if (!FAutoFindIndex) order[0] = &FIndexName, order[1] = &exact, order[2] = &plain;
    for (const std::string* choice : order) {
      if (!choice->empty()) {
        index = *choice;
        break;
      }
    }
    std::shared_ptr<dao::Recordset> copy;
    if (FOpenTableType == kTableType) {
      if (index.empty())
        ds::DatabaseError(
            "Index Property is Empty!\r\nYou must set an index before using Locate with "
            "StandardTables");
      auto index_object =
          FDatabase->DaoDatabase()->TableDefs().Item(FTableName)->Indexes().Item(index);
      dao::Fields& index_fields = index_object->Fields();
      const std::size_t n = static_cast<std::size_t>(index_fields.Count());
      std::vector<core::Variant> keys;
      std::size_t k = 0;
      bool named = false;
      for (std::size_t j = 0; j < n && j < kMaxSeekKeys; ++j) {
        const std::string name = index_fields.Item(static_cast<int>(j))->Name();
        core::Variant key = core::Variant::Null();
        for (std::size_t i = 0; i < fields.size(); ++i) {
          if (!SameText(fields[i], name)) continue;
          if (values[i] != "NULL") key = core::Variant::FromString(values[i]);
          k = j + 1;
          named = true;
          break;
        }
        keys.push_back(std::move(key));
      }
      if (!named) k = std::min(n, kMaxSeekKeys);
      keys.resize(std::min(k, keys.size()));
      const bool whole = fields.size() == n && !options.Contains(ds::loPartialKey);
      copy = rs.Clone();
      copy->SetIndex(index);
      Quietly([&] { copy->MoveFirst(); });
      copy->Seek(whole ? "=" : ">=", keys);
    } else {
      const std::string criteria = BuildLocateCriteria(fields, values, options);
      copy = rs.Clone();
      Quietly([&] {
        copy->MoveFirst();
        copy->Move(start);
      });
      copy->FindFirst(criteria);
    }
    bool found = false;
    try {
      if (!copy->NoMatch()) {
        found = true;
        TakeOverMatch(*copy, {});
      }
    } catch (...) {
      Quietly([&] { copy->Close(); });
      throw;
    }
    Quietly([&] { copy->Close(); });
    return found;
  }
  // No bookmarks (forward-only): scan and compare texts.
  CheckBrowseMode();
  CursorPosChanged();
  DoBeforeScroll();
  bool found = false;
  Quietly([&] { rs.MoveFirst(); });
  std::vector<int> ordinals;
  for (const std::string& name : fields) ordinals.push_back(FieldByName(name).FieldNo() - 1);
  for (std::int32_t count = 0; !rs.Eof(); ++count) {
    bool match = true;
    for (std::size_t i = 0; i < fields.size() && match; ++i) {
      std::string have = rs.Fields().Item(ordinals[i])->Value().ToString();
      std::string want = values[i];
      if (options.Contains(ds::loCaseInsensitive)) {
        have = Lower(have);
        want = Lower(want);
      }
      if (options.Contains(ds::loPartialKey)) {
        if (!want.empty() && want.back() == '*') want.pop_back();
        if (!want.empty() && want.front() == '*') want.erase(0, 1);
        match = have.find(want) != std::string::npos;
      } else {
        match = have == want;
      }
    }
    if (match) {
      DoBeforeScroll();
      FCursorPosition = count;
      found = true;
      Resync({});
      break;
    }
    rs.MoveNext();
  }
  if (!found) {
    Quietly([&] {
      rs.MoveFirst();
      rs.Move(start);
    });
    Resync({ds::rmExact, ds::rmCenter});
  }
  DoAfterScroll();
  return found;
}

ds::Variant TMxDaoTable::Lookup(const std::string& key_fields, const ds::Variant& key_values,
                                const std::string& result_fields) {
  ds::Variant result = ds::Variant::Null();
  if (IsEmpty()) return result;
  std::vector<std::string> fields, values;
  SplitKeys(key_fields, key_values, fields, values);
  const std::vector<std::string> results = SplitNames(result_fields);
  if (results.empty()) ds::DatabaseError("ResultFields are not defined");
  std::vector<int> ordinals;
  bool computed = false;
  for (const std::string& name : results) {
    ds::TField* f = FindField(name);
    if (f == nullptr) ds::DatabaseError("Invalid field name: " + name);
    ordinals.push_back(f->FieldNo() - 1);
    computed = computed || f->FieldKind() == ds::fkCalculated || f->FieldKind() == ds::fkLookup;
  }
  const std::string criteria = BuildKeyCriteria(fields, values);
  dao::Recordset& r = *FRecordset;
  std::shared_ptr<dao::Recordset> s;
  std::string old_filter;
  bool filter_set = false;
  // A table-type recordset takes no Filter in DAO: its rows come from a query instead.
  if (FOpenTableType == kTableType) {
    FDatabase->Idle();
    s = FDatabase->DaoDatabase()->OpenRecordset(
        "SELECT * FROM " + daodb::BracketName(FTableName) + " WHERE " + criteria, kSnapshot);
  } else {
    old_filter = r.Filter();
    r.SetFilter(criteria);
    filter_set = true;
    try {
      FDatabase->Idle();
      s = r.OpenRecordset(kSnapshot, 2);
    } catch (...) {
      Quietly([&] { r.SetFilter(old_filter); });
      throw;
    }
  }
  try {
    if (!(s->Eof() && s->Bof())) {
      s->MoveFirst();
      if (computed) {
        ds::TRecordBuffer buffer = TempBuffer();
        ReadRecord(*s, false, buffer);
        GetCalcFields(buffer);
        const ds::TDataSetState previous = SetTempState(ds::dsCalcFields);
        FLookupBuffer = buffer;
        try {
          result = FieldValues(result_fields);
        } catch (...) {
          FLookupBuffer = nullptr;
          RestoreState(previous);
          throw;
        }
        FLookupBuffer = nullptr;
        RestoreState(previous);
      } else if (ordinals.size() == 1) {
        result = s->Fields().Item(ordinals[0])->Value();
      } else {
        std::vector<core::Variant> elements;
        for (int ordinal : ordinals) elements.push_back(s->Fields().Item(ordinal)->Value());
        result = core::Variant::FromArray(std::move(elements));
      }
    }
  } catch (...) {
    Quietly([&] { s->Close(); });
    if (filter_set) Quietly([&] { r.SetFilter(old_filter); });
    throw;
  }
  Quietly([&] { s->Close(); });
  if (filter_set) r.SetFilter(old_filter);
  return result;
}

bool TMxDaoTable::FindKey(int which, const std::string& key_fields, const ds::Variant& key_values,
                          ds::TLocateOptions options) {
  if (IsEmpty() || RecordFilterInForce()) return false;
  std::vector<std::string> fields, values;
  SplitKeys(key_fields, key_values, fields, values);
  InternalSetToRecord(ActiveBuffer());
  const std::int32_t start = FCursorPosition;
  if (!FBookmarkable) return false;
  const std::string criteria = BuildLocateCriteria(fields, values, options);
  auto copy = FRecordset->Clone();
  bool found = false;
  try {
    Quietly([&] {
      copy->MoveFirst();
      copy->Move(start);
    });
    switch (which) {
      case 0:
        copy->FindFirst(criteria);
        break;
      case 1:
        copy->FindLast(criteria);
        break;
      case 2:
        copy->FindNext(criteria);
        break;
      default:
        copy->FindPrevious(criteria);
        break;
    }
    if (!copy->NoMatch()) {
      found = true;
      TakeOverMatch(*copy, {ds::rmExact, ds::rmCenter});
    }
  } catch (...) {
    Quietly([&] { copy->Close(); });
    throw;
  }
  Quietly([&] { copy->Close(); });
  return found;
}

bool TMxDaoTable::FindKeyFirst(const std::string& key_fields, const ds::Variant& key_values,
                               ds::TLocateOptions options) {
  return FindKey(0, key_fields, key_values, options);
}
bool TMxDaoTable::FindKeyLast(const std::string& key_fields, const ds::Variant& key_values,
                              ds::TLocateOptions options) {
  return FindKey(1, key_fields, key_values, options);
}
bool TMxDaoTable::FindKeyNext(const std::string& key_fields, const ds::Variant& key_values,
                              ds::TLocateOptions options) {
  return FindKey(2, key_fields, key_values, options);
}
bool TMxDaoTable::FindKeyPrior(const std::string& key_fields, const ds::Variant& key_values,
                               ds::TLocateOptions options) {
  return FindKey(3, key_fields, key_values, options);
}

// The table keeps no find keys of its own, so there is nothing to search for.
bool TMxDaoTable::FindRecord(bool, bool) {
  return false;
}

// ---------------------------------------------------------------------------------------------
// Sort and filter

void TMxDaoTable::SetFiltered(bool value) {
  if (value == Filtered()) return;
  ds::TDataSet::SetFiltered(value);
  if (FCursorOpen) {
    try {
      ReopenRecordset();
    } catch (...) {
      ds::TDataSet::SetFiltered(!value);
      throw;
    }
  }
}

void TMxDaoTable::SetFilterText(const std::string& text) {
  ds::TDataSet::SetFilterText(text);
  if (FCursorOpen && Filtered()) ReopenRecordset();
}

void TMxDaoTable::SetOnFilterRecord(ds::TFilterRecordEvent handler) {
  ds::TDataSet::SetOnFilterRecord(std::move(handler));
  if (FCursorOpen && Filtered()) ReopenRecordset();
}

std::shared_ptr<dao::Recordset> TMxDaoTable::OpenFromRecordset(dao::Recordset& from, bool with_type,
                                                               int options) {
  return from.OpenRecordset(with_type ? FTableType : 0, options);
}

void TMxDaoTable::ApplySortAndFilter() {
  if (FSortedBy.Count() > 0) {
    FSortText.clear();
    for (int i = 0; i < FSortedBy.Count(); ++i) {
      FSortText += FSortedBy[i];
      if (i + 1 < FSortedBy.Count()) FSortText += ',';
      FSortText += ' ';
    }
    FRecordset->SetSort(FSortText);
    auto sorted = OpenFromRecordset(*FRecordset, true, FRecordsetOptions);
    Quietly([&] { FRecordset->Close(); });
    FRecordset = std::move(sorted);
  }
  if (Filtered() && !Filter().empty()) {
    FRecordset->SetFilter(Filter());
    auto filtered = OpenFromRecordset(*FRecordset, true, FRecordsetOptions);
    Quietly([&] { FRecordset->Close(); });
    FRecordset = std::move(filtered);
  }
}

std::string TMxDaoTable::CombineWithFilter(const std::string& criteria) const {
  const std::string f = Filtered() ? Filter() : std::string();
  if (criteria.empty()) return f;
  if (f.empty()) return criteria;
  return "(" + criteria + ") AND (" + f + ")";
}

// ---------------------------------------------------------------------------------------------
// Master-detail

ds::TDataSource* TMxDaoTable::MasterSource() const {
  return FMasterLink ? FMasterLink->DataSource() : nullptr;
}

void TMxDaoTable::SetMasterSource(ds::TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) ds::DatabaseError("Circular links not allowed!");
  if (source == nullptr) FMasterFields.Clear();
  FMasterLink->SetDataSource(source);
  if (Active()) ReopenRecordset();
}

void TMxDaoTable::SetMasterFields(const ds::TStringList& lines) {
  FMasterFields.SetText(lines.Text());
  if (Active()) ReopenRecordset();
}

void TMxDaoTable::ParseMasterFields() {
  FDetailFieldList.Clear();
  FMasterFieldList.Clear();
  if (FMasterFields.Count() == 1 && FMasterFields[0].find(';') != std::string::npos) {
    for (const std::string& name : SplitNames(FMasterFields[0])) {
      FDetailFieldList.Add(name);
      FMasterFieldList.Add(name);
    }
  } else {
    for (int i = 0; i < FMasterFields.Count(); ++i) {
      const std::string& line = FMasterFields[i];
      const std::size_t arrow = line.find(" -> ");
      if (arrow == std::string::npos) continue;
      FDetailFieldList.Add(Trim(line.substr(0, arrow)));
      FMasterFieldList.Add(Trim(line.substr(arrow + 4)));
    }
  }
  std::string names;
  for (int i = 0; i < FMasterFieldList.Count(); ++i) {
    if (i > 0) names += ';';
    names += FMasterFieldList[i];
  }
  FMasterLink->SetFieldNames(names);
}

std::string TMxDaoTable::BuildMasterCriteria() {
  if (FDetailFieldList.Count() != FMasterFieldList.Count())
    ds::DatabaseError("The number of Master and Detail fields must be equal!");
  ds::TDataSet* master = MasterSource() != nullptr ? MasterSource()->DataSet() : nullptr;
  std::string out;
  for (int i = 0; i < FMasterFieldList.Count(); ++i) {
    if (master == nullptr) ds::DatabaseError("Field '" + FMasterFieldList[i] + "' not found");
    ds::TField& m = master->FieldByName(FMasterFieldList[i]);
    std::string comparison;
    const ds::TFieldType type = m.DataType();
    if (m.IsNull()) {
      comparison = "IS NULL";
    } else {
      const std::string text = m.AsString();
      switch (type) {
        case ds::ftString:
        case ds::ftMemo:
          comparison = " = \"" + Doubled(text, '"') + "\"";
          break;
        case ds::ftSmallint:
        case ds::ftInteger:
        case ds::ftWord:
        case ds::ftFloat:
        case ds::ftCurrency:
        case ds::ftAutoInc:
          comparison = text.empty() ? " IS NULL" : " = " + SqlNumber(text);
          break;
        case ds::ftBoolean:
          comparison = text.empty() ? " IS NULL" : (m.AsBoolean() ? " = True" : " = False");
          break;
        case ds::ftDate:
          comparison = " = #" + UsDate(m.AsDateTime()) + "#";
          break;
        case ds::ftTime:
          comparison = " = #" + UsTime(m.AsDateTime()) + "#";
          break;
        case ds::ftDateTime:
          comparison = " = #" + UsDate(m.AsDateTime()) + " " + UsTime(m.AsDateTime()) + "#";
          break;
        case ds::ftBytes:
          if (text.empty())
            comparison = " IS NULL";
          else if (m.ValidChars() == GUIDChars())
            comparison = " = {guid " + GuidTextOf(m.AsVariant()) + "}";
          else
            comparison = " = \"" + text + "\"";
          break;
        default:
          ds::DatabaseError("Unable to build Master/Detail SQL Relationship!");
      }
    }
    if (i > 0) out += " AND ";
    const std::string& name = FDetailFieldList[i];
    out += "(" + (FUseBrackets ? daodb::BracketName(name) : name) + " " + comparison + ")";
  }
  return out;
}

std::string TMxDaoTable::DetailStatement(const std::string& criteria) const {
  std::string sql = "Select * From [" + FTableName + "] Where " + criteria;
  if (!FSortText.empty()) sql += " Order By " + FSortText;
  return sql + ";";
}

void TMxDaoTable::ApplyMasterRestriction() {
  ds::TDataSource* source = MasterSource();
  if (source == nullptr || source->DataSet() == nullptr) {
    FMasterDisabled = true;
  } else {
    FMasterDisabled = !FMasterLink->Active();
    if (!source->DataSet()->Active() && FMasterAutoActivate) {
      source->DataSet()->Open();
      FMasterDisabled = !FMasterLink->Active();
    }
  }
  if (source == nullptr || FMasterDisabled || !source->Enabled()) return;
  ParseMasterFields();
  if (FMasterFieldList.Count() == 0) return;
  const std::string criteria = CombineWithFilter(BuildMasterCriteria());
  if (!FTableName.empty()) {
    // The recordset goes: a statement over the table takes its place.
    Quietly([&] { FRecordset->Close(); });
    FRecordset = FDatabase->DaoDatabase()->OpenRecordset(DetailStatement(criteria), FTableType,
                                                         FRecordsetOptions, FLockType);
  } else {
    FRecordset->SetFilter(criteria);
    FBaseRecordset = FRecordset;
    FRecordset = OpenFromRecordset(*FBaseRecordset, true, FRecordsetOptions);
  }
}

void TMxDaoTable::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  if (!FMasterLink->Active() || FMasterLink->FieldNames().empty()) return;
  if (FSQL.Count() > 0) CopyMasterValuesToParams();
  if (ComponentState().Contains(ds::csDestroying)) return;
  FMasterDisabled = !FMasterLink->Active();
  ds::TDataSource* source = MasterSource();
  if (source == nullptr || FMasterDisabled || !source->Enabled() || source->State() == ds::dsEdit ||
      FMasterFieldList.Count() == 0)
    return;
  CheckBrowseMode();
  ClearBuffers();
  CloseDaoRecordset();
  if (FSQL.Count() == 0) {
    try {
      RequeryDetail();
    } catch (const std::exception&) {
      OpenDaoRecordset();
    }
  } else {
    OpenDaoRecordset();
  }
  ActivateBuffers();
  First();
}

void TMxDaoTable::MasterDisabledChanged() {
  if (Active()) CheckBrowseMode();
  FMasterDisabled = !FMasterLink->Active();
}

void TMxDaoTable::RequeryDetail() {
  ClearBookmarkLists();
  std::string criteria = BuildMasterCriteria();
  if (!FTableName.empty()) {
    criteria = CombineWithFilter(criteria);
    FRecordset = FDatabase->DaoDatabase()->OpenRecordset(DetailStatement(criteria), FTableType,
                                                         FRecordsetOptions, FLockType);
  } else {
    if (!FBaseRecordset) ds::DatabaseError("TMxDaoTable.RequeryDetail: no base recordset");
    FBaseRecordset->Requery();
    FBaseRecordset->SetFilter(criteria);
    FRecordset = OpenFromRecordset(*FBaseRecordset, false, 9);
  }
  dao::Fields& fields = FRecordset->Fields();
  const int n = fields.Count();
  FFieldObjects.assign(static_cast<std::size_t>(n), nullptr);
  for (int i = 0; i < n; ++i) FFieldObjects[static_cast<std::size_t>(i)] = fields.Item(i);
  ResetCursorState();
  GetRecordCount();
  FDatabase->Idle();
}

void TMxDaoTable::DoOnNewRecord() {
  if (FMasterLink->Active() && !FMasterLink->FieldNames().empty()) {
    const std::vector<ds::TField*>& masters = FMasterLink->Fields();
    for (int i = 0; i < FDetailFieldList.Count() && static_cast<std::size_t>(i) < masters.size();
         ++i)
      FieldByName(FDetailFieldList[i]).Assign(*masters[static_cast<std::size_t>(i)]);
  }
  ds::TDataSet::DoOnNewRecord();
}

// ---------------------------------------------------------------------------------------------
// Stored-query and SQL parameters

std::string TMxDaoTable::QueryDefType() const {
  if (FDatabase == nullptr || !FDatabase->Connected() || FQueryDefName.empty() ||
      !FDatabase->DaoDatabase())
    return {};
  int type = -1;
  Quietly([&] { type = FDatabase->DaoDatabase()->QueryDefs().Item(FQueryDefName)->Type(); });
  return std::string(dao::QueryDefTypeName(type));
}

void TMxDaoTable::AssignQueryDefParameters(dao::QueryDef& query) {
  try {
    dao::Parameters& params = query.Parameters();
    const int n = params.Count();
    int k = 0;
    for (int i = 0; i < n; ++i) {
      auto p = params.Item(i);
      const int direction = p->Direction();
      if (direction != dao::dbParamInput && direction != dao::dbParamInputOutput) continue;
      const std::string& line = FQueryDefParameters.Strings(k);
      p->SetValue(line == "NULL" ? core::Variant::Null() : core::Variant::FromString(line));
      ++k;
    }
  } catch (const std::exception&) {
    ds::DatabaseError(
        "TMxDaoTable.OpenDaoRecordset: Invalid number of QueryDef parameters or parameter is not "
        "in valid format!");
  }
}

void TMxDaoTable::CopyMasterValuesToParams() {
  if (!FMasterLink) return;
  // A statement's parameters need the master's values before the statement is opened: a
  // master that opens with its detail opens first, and the link learns its fields.
  ds::TDataSource* source = MasterSource();
  if (source != nullptr && source->DataSet() != nullptr && !source->DataSet()->Active() &&
      FMasterAutoActivate)
    source->DataSet()->Open();
  if (FMasterLink->FieldNames().empty()) ParseMasterFields();
  for (ds::TField* field : FMasterLink->Fields()) {
    ds::TParam* param = FParams.FindParam(field->FieldName());
    if (param == nullptr) continue;
    if (param->DataType() == ds::ftUnknown) param->SetDataType(field->DataType());
    param->SetValue(field->AsVariant());
  }
}

std::string TMxDaoTable::SubstitutedSQL() const {
  std::string text;
  for (int i = 0; i < FSQL.Count(); ++i) {
    if (i > 0) text += ' ';
    text += FSQL[i];
  }
  if (!FParamCheck) return text;
  auto identifier = [&](char c) { return FIdentifierChars.find(c) != std::string::npos; };
  for (int i = 0; i < FParams.Count(); ++i) {
    const ds::TParam& p = FParams[i];
    std::string literal;
    if (p.IsNull()) {
      literal = " IS NULL";
    } else {
      const ds::TFieldType type = p.DataType();
      std::string quote;
      if (type == ds::ftString) quote = "\"";
      if (type == ds::ftDate || type == ds::ftTime || type == ds::ftDateTime) quote = "#";
      std::string value;
      switch (type) {
        case ds::ftString:
          value = Doubled(p.AsString(), '"');
          break;
        case ds::ftFloat:
        case ds::ftCurrency:
          value = SqlNumber(p.AsString());
          break;
        case ds::ftDate:
          value = UsDate(p.AsDateTime());
          break;
        case ds::ftTime:
          value = UsTime(p.AsDateTime());
          break;
        case ds::ftDateTime:
          value = UsDate(p.AsDateTime()) + " " + UsTime(p.AsDateTime());
          break;
        case ds::ftBytes: {
          const core::Variant& v = p.Value();
          value = "{guid " +
                  (v.Type() == core::VarType::ByteArray ? RegistryGuid(v.Bytes()) : std::string()) +
                  "}";
          break;
        }
        default:
          value = p.AsString();
      }
      literal = quote + value + quote;
    }
    // Whole-word, case-free replacement of ":name"; after each occurrence the rest of the text
    // is searched as if a blank preceded it.
    const std::string target = ":" + Lower(p.Name());
    std::string out;
    std::size_t pos = 0;
    const std::string lower = Lower(text);
    while (true) {
      const std::size_t at = lower.find(target, pos);
      if (at == std::string::npos) break;
      const char before = at == pos ? ' ' : text[at - 1];
      const std::size_t end = at + target.size();
      const char after = end < text.size() ? text[end] : ' ';
      out.append(text, pos, at - pos);
      if (!identifier(before) && !identifier(after))
        out += literal;
      else
        out.append(text, at, target.size());
      pos = end;
    }
    out.append(text, pos, std::string::npos);
    text = std::move(out);
  }
  return text;
}

}  // namespace daotable
