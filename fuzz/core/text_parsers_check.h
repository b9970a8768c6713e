// The properties the core text parsers must keep for any input, shared by the fuzz target
// and by the test that replays the inputs it once failed on. Returns "" when every property
// holds, otherwise what broke. Anything other than the documented exceptions escaping from
// here is a failure too.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/datetime.h"
#include "core/encoding.h"
#include "core/errors.h"
#include "core/variant.h"

namespace core::fuzz {

inline bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

inline std::string CheckTextParsers(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  double d = 0;
  const bool is_float = TryTextToFloat(text, d);
  if (is_float) {
    if (!SameDouble(TextToFloat(FloatToText(d)), d)) return "float text does not read back";
    if (!SameDouble(TextToFloat(text), d)) return "TextToFloat disagrees with TryTextToFloat";
    // Leading zeros change nothing, but push the text past the short-text path.
    std::string_view body = text;
    while (!body.empty() && (body.front() == ' ' || body.front() == '\t' || body.front() == '\r' ||
                             body.front() == '\n'))
      body.remove_prefix(1);
    std::string padded;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
      padded.push_back(body.front());
      body.remove_prefix(1);
    }
    if (!body.empty() && body.front() != 'n' && body.front() != 'N' && body.front() != 'i' &&
        body.front() != 'I') {
      padded.append(80, '0');
      padded.append(body);
      double long_form = 0;
      if (!TryTextToFloat(padded, long_form) || !SameDouble(long_form, d))
        return "long and short texts of one number read differently";
    }
  } else {
    try {
      TextToFloat(text);
      return "TextToFloat accepted what TryTextToFloat refused";
    } catch (const EConvertError&) {
    }
  }

  float f = 0;
  if (TryTextToSingle(text, f)) {
    float back = 0;
    if (!TryTextToSingle(SingleToText(f), back) ||
        (std::bit_cast<std::uint32_t>(back) != std::bit_cast<std::uint32_t>(f) && !std::isnan(f)))
      return "single text does not read back";
  }

  Currency c;
  if (TryTextToCurrency(text, c)) {
    Currency back;
    if (!TryTextToCurrency(CurrencyToText(c), back) || !(back == c))
      return "currency text does not read back";
    if (!is_float) return "a currency text that is no number";
  }

  Decimal dec;
  if (TryTextToDecimal(text, dec)) {
    if (dec.scale > 28) return "decimal scale beyond 28";
    Decimal back;
    if (!TryTextToDecimal(DecimalToText(dec), back) || DecimalToText(back) != DecimalToText(dec))
      return "decimal text does not read back";
    if (!is_float) return "a decimal text that is no number";
  }

  double date = 0;
  if (TryParseDateTimeText(text, date)) {
    double back = 0;
    if (!TryParseDateTimeText(FormatDateTimeText(date), back) || !SameDouble(back, date))
      return "date text does not read back";
  }

  // The variant conversions of a text raise EVariantError or nothing.
  const Variant v(text);
  try {
    v.ToBoolean();
  } catch (const EVariantError&) {
  }
  try {
    v.ToByte();
  } catch (const EVariantError&) {
  }
  try {
    v.ToInteger();
  } catch (const EVariantError&) {
  }
  try {
    v.ToLong();
  } catch (const EVariantError&) {
  }
  try {
    v.ToInt64();
  } catch (const EVariantError&) {
  }
  try {
    v.ToSingle();
  } catch (const EVariantError&) {
  }
  try {
    v.ToCurrency();
  } catch (const EVariantError&) {
  }
  try {
    v.ToDecimal();
  } catch (const EVariantError&) {
  }
  try {
    const double as_date = v.ToDate();
    (void)Variant::FromDate(as_date).ToString();
  } catch (const EVariantError&) {
  }

  // Eight bytes as a date-time double: either a clear error or a text that reads back.
  if (size >= 8) {
    double raw;
    std::memcpy(&raw, data, 8);
    try {
      const TimeStamp stamp = DateTimeToTimeStamp(raw);
      double back = 0;
      if (!TryParseDateTimeText(FormatDateTimeText(raw), back) ||
          DateTimeToTimeStamp(back) != stamp)
        return "date-time double does not survive its text";
    } catch (const EConvertError&) {
    }
  }

  // Text encodings: every byte survives a code page; valid UTF-8 survives UTF-16.
  const std::vector<int> pages = SupportedCodePages();
  const int page = pages[size % pages.size()];
  const std::string utf8 = DecodeToUtf8(page, text);
  if (!IsValidUtf8(utf8) || EncodeFromUtf8(page, utf8) != text) return "code page round trip";
  const std::u16string utf16 = Utf8ToUtf16(text);
  const std::string again = Utf16ToUtf8(utf16);
  if (!IsValidUtf8(again)) return "UTF-16 to UTF-8 gave invalid UTF-8";
  if (IsValidUtf8(text) && again != text) return "valid UTF-8 changed through UTF-16";
  if (Utf8Length(text) != Utf8Length(again)) return "code point count changed through UTF-16";
  bool lossless = true;
  const std::string encoded = EncodeFromUtf8(page, text, &lossless);
  if (lossless && IsValidUtf8(text) && DecodeToUtf8(page, encoded) != text)
    return "lossless encoding did not decode back";
  return {};
}

}  // namespace core::fuzz
