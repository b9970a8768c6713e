// What the DAO fuzz targets check, shared with the test that replays their findings.
//
// - CheckValueText: bytes from a source table assigned as text to a field of any DAO type.
//   The conversion must answer 0 or one of DAO's errors (3421, 3349, 3163), give the value
//   kind of the type, agree with the variant path, and give Currency values that read back.
// - CheckOpenFile: bytes opened as a database through DAO and walked as the components walk
//   it (table definitions, fields, properties, recordsets of every type, stored queries).
//   Every failure must come out as a DAO error (core::EOleException), never anything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "dao/dao.h"

namespace fuzz {

inline bool CheckValueText(const std::uint8_t* data, std::size_t size) {
  static const int kTypes[] = {dao::dbBoolean,  dao::dbByte,   dao::dbInteger,    dao::dbLong,
                               dao::dbCurrency, dao::dbSingle, dao::dbDouble,     dao::dbDate,
                               dao::dbBinary,   dao::dbText,   dao::dbLongBinary, dao::dbMemo,
                               dao::dbGUID,     dao::dbDecimal};
  static const core::VarType kKinds[] = {
      core::VarType::Boolean,   core::VarType::Byte,      core::VarType::Integer,
      core::VarType::Long,      core::VarType::Currency,  core::VarType::Single,
      core::VarType::Double,    core::VarType::Date,      core::VarType::ByteArray,
      core::VarType::String,    core::VarType::ByteArray, core::VarType::String,
      core::VarType::ByteArray, core::VarType::Decimal};
  if (size < 2) return true;
  const std::size_t which = data[0] % (sizeof kTypes / sizeof kTypes[0]);
  const int type = kTypes[which];
  const std::uint32_t limit = data[1];
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  core::Variant out;
  const int e = dao::TextToFieldValue(text, type, limit, out);
  if (e != 0 && e != dao::err::kConversionError && e != dao::err::kNumericOverflow &&
      e != dao::err::kFieldTooSmall)
    return false;
  core::Variant again;
  if (dao::ConvertToFieldType(core::Variant(text), type, limit, again) != e) return false;
  if (e != 0) return true;
  if (!(out == again)) return false;
  if (out.Type() != kKinds[which]) return false;
  if ((type == dao::dbText || type == dao::dbMemo) && out.ToString() != text) return false;
  if (type == dao::dbGUID && out.Bytes().size() != 16) return false;
  if (type == dao::dbCurrency) {
    // The fast reader and the core's general one agree on every text both take.
    core::Currency reference;
    if (!core::TryTextToCurrency(text, reference) || !(reference == out.ToCurrency())) return false;
    core::Currency back;
    if (!core::TryTextToCurrency(core::CurrencyToText(out.ToCurrency()), back)) return false;
    if (!(back == out.ToCurrency())) return false;
  }
  if (type == dao::dbDate) {
    double d = out.ToDate();
    if (!(d >= -657434.0 && d < 2958466.0)) return false;
  }
  return true;
}

namespace detail {

// Reads everything a recordset shows; DAO errors are the expected way out.
inline void Walk(dao::Recordset& rs, int limit) {
  for (int rows = 0; rows < limit && !rs.Eof(); ++rows) {
    for (int i = 0; i < rs.Fields().Count(); ++i) {
      auto f = rs.Fields().Item(i);
      try {
        f->Value();
        f->FieldSize();
      } catch (const core::EOleException&) {
      }
    }
    rs.MoveNext();
  }
}

}  // namespace detail

inline bool CheckOpenFile(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return true;
  core::MemoryFileSystem files;
  files.SetContents("/fuzz.mdb", std::vector<std::uint8_t>(data, data + size));
  auto engine = dao::DBEngine::Create(&files);
  try {
    auto db = engine->OpenDatabase("/fuzz.mdb", false, true);
    db->Version();
    db->CollatingOrder();
    auto& tables = db->TableDefs();
    for (int t = 0; t < tables.Count() && t < 64; ++t) {
      try {
        auto td = tables.Item(t);
        td->Attributes();
        for (int i = 0; i < td->Fields().Count(); ++i) {
          auto f = td->Fields().Item(i);
          f->Type();
          f->Size();
          f->Required();
          for (int p = 0; p < f->Properties().Count(); ++p) f->Properties().Item(p)->Value();
        }
        for (int i = 0; i < td->Indexes().Count(); ++i) td->Indexes().Item(i)->Fields().Count();
        for (int type : {dao::dbOpenTable, dao::dbOpenDynaset, dao::dbOpenSnapshot}) {
          try {
            auto rs = db->OpenRecordset(td->Name(), type);
            detail::Walk(*rs, 500);
            if (!(rs->Bof() && rs->Eof())) {
              rs->MoveLast();
              rs->RecordCount();
              rs->MoveFirst();
            }
          } catch (const core::EOleException&) {
          }
        }
      } catch (const core::EOleException&) {
      }
    }
    auto& queries = db->QueryDefs();
    for (int q = 0; q < queries.Count() && q < 64; ++q) {
      try {
        auto qd = queries.Item(q);
        qd->SQL();
        qd->Parameters().Count();
      } catch (const core::EOleException&) {
      }
    }
  } catch (const core::EOleException&) {
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace fuzz
