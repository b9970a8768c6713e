// Values assigned to fields and parameters, converted to the field's type as DAO converts
// them, and the value a field reads back.
//
// The copy run hands every value over as text (numbers with "." or the user's decimal comma,
// "True"/"False", dates as date variants), so text is the hot path: it is read straight into
// the stored kind, Currency digit by digit and never through a double. The functions here
// do not raise; they return 0 or the DAO error number of the failure (3421 conversion error,
// 3349 numeric overflow, 3163 field too small), and the caller raises it for its object.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/variant.h"

namespace dao {

// What a field of type `dao_type` stores: Boolean, Byte, Integer, Long, Currency, Single,
// Double, Date, Decimal as those variant kinds; Text and Memo as strings; Binary and Long
// binary as byte arrays; GUID as its 16 bytes in Windows memory order. Null and Empty stay
// Null. `size` limits Text (characters) and Binary (bytes); 0 means no limit.
//
// Text accepted per type (blanks around it are ignored):
// - Boolean: True/False, Yes/No, On/Off in any letter case, or a number (0 is False);
// - integers: a number with "." or "," as decimal separator and an optional exponent,
//   rounded half to even; beyond the type's range 3349;
// - Currency: read exactly, rounded half to even at four decimals; beyond ±922337203685477.5807
//   3349;
// - Single, Double: a number; beyond the type's range 3349;
// - Date: the forms of core::TryParseDateTimeText; outside the years 100 to 9999 3421;
// - GUID: "{guid {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}}" or the braced GUID alone;
// - Binary, Long binary: the text's UTF-16 units, as OLE turns a string into bytes.
int ConvertToFieldType(const core::Variant& value, int dao_type, std::uint32_t size,
                       core::Variant& out);
int TextToFieldValue(std::string_view text, int dao_type, std::uint32_t size, core::Variant& out);

// A GUID's text as DAO's Field.Value gives it: "{guid {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}}".
// `bytes` are the 16 stored bytes (Windows memory order).
std::string GuidValueText(const std::uint8_t* bytes);
// Reads "{guid {…}}" or "{…}"; false when the text is no GUID.
bool ParseGuidValueText(std::string_view text, std::uint8_t out[16]);

}  // namespace dao
