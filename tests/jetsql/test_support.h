// Helpers shared by the SQL layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/variant.h"
#include "jetsql/errors.h"

namespace jetsql::testing {

inline core::Variant Date(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  core::DateParts p;
  p.year = y;
  p.month = m;
  p.day = d;
  p.hour = h;
  p.minute = n;
  p.second = s;
  return core::Variant::FromDate(core::EncodeDateTime(p));
}

inline core::Variant Cur(std::int64_t scaled) {
  return core::Variant::FromCurrency(core::Currency{scaled});
}

inline std::string Show(const core::Variant& v) {
  static const char* kNames[] = {"Empty",    "Null", "Integer", "Long", "Single", "Double",
                                 "Currency", "Date", "String",  "?",    "?",      "Boolean"};
  const auto t = static_cast<unsigned>(v.Type());
  std::string kind = t < 12 ? kNames[t]
                            : (v.Type() == core::VarType::Byte
                                   ? "Byte"
                                   : (v.Type() == core::VarType::Decimal ? "Decimal" : "Array"));
  if (v.IsNullOrEmpty()) return kind;
  try {
    return kind + " " + v.ToString();
  } catch (...) {
    return kind;
  }
}

// Same kind and value; floats within a relative 1e-12 (Single: 1e-6).
inline ::testing::AssertionResult SameValue(const core::Variant& actual,
                                            const core::Variant& expected) {
  if (actual.Type() != expected.Type()) {
    return ::testing::AssertionFailure() << "got " << Show(actual) << ", want " << Show(expected);
  }
  if (actual.Type() == core::VarType::Double || actual.Type() == core::VarType::Single ||
      actual.Type() == core::VarType::Date) {
    const double a = actual.ToDouble(), e = expected.ToDouble();
    const double tolerance =
        (actual.Type() == core::VarType::Single ? 1e-6 : 1e-12) * std::max(1.0, std::fabs(e));
    if (std::fabs(a - e) <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << Show(actual) << ", want " << Show(expected);
  }
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << Show(actual) << ", want " << Show(expected);
}

// Runs `f` and returns the DAO number of the SqlError it raises (0 when none), keeping the
// text for further checks.
inline int ErrorNumberOf(const std::function<void()>& f, std::string* text = nullptr,
                         std::string* source = nullptr) {
  try {
    f();
  } catch (const SqlError& e) {
    if (text) *text = e.Description();
    if (source) *source = e.Source();
    return e.Number();
  }
  return 0;
}

}  // namespace jetsql::testing
