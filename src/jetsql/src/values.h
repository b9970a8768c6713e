// Jet's operators over values: comparison, arithmetic, concatenation, logic, and the text and
// number forms values take along the way. Private to the layer.
//
// Jet hands operators and functions to the VBA expression service, so the rules are VBA's:
// Null propagates through arithmetic and comparisons, `&` treats Null as "", And/Or follow
// three-valued logic (bitwise on numbers), results take the "widest" operand type and are
// promoted instead of overflowing where VBA promotes (Byte -> Integer -> Long -> Double).
// Text compares without regard to case by the General sort order (collation.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ast.h"
#include "core/variant.h"

namespace jetsql::detail {

// ---- conversions ----

// Text form of a value as `&`, CStr and text parameters make it: Booleans "True"/"False",
// numbers with "." and at most 15 (Single: 7) significant digits, dates US style
// ("3/25/2024 2:05:00 PM"). Null and Empty give "".
std::string ToText(const core::Variant& v);
// Numbers as VBA prints them: "0.5", "-12", "1E+20", "1.5E-07".
std::string FormatDouble(double value, int significant_digits = 15);
// A value as a date-time: dates and numbers as they are, text by ParseDateText or as a
// number. Raises 3464 when the text is neither.
double ToDateValue(const core::Variant& v);
// A value as a number for arithmetic: text is read with "." as decimal separator (3464 when it
// is no number), Booleans are -1/0, Empty is 0. Null must be handled by the caller.
core::Variant ToNumeric(const core::Variant& v);
// Whether text reads as a number (leading/trailing blanks allowed).
bool ParseNumber(std::string_view text, double& out);

// ---- comparison ----

// -1, 0, 1, or nothing when either side is Null. `left_literal` / `right_literal` say which
// side is a constant of the statement: a constant number against text compares as text, a
// constant text against a number is read as a number (3464 when it is none).
std::optional<int> CompareValues(const core::Variant& a, const core::Variant& b,
                                 bool left_literal = false, bool right_literal = false);
// Apply a comparison operator to a three-way result; Null stays Null.
core::Variant ComparisonResult(Op op, std::optional<int> order);

// ---- arithmetic and text ----
core::Variant Arithmetic(Op op, const core::Variant& a, const core::Variant& b);
core::Variant Negate(const core::Variant& a);
core::Variant Concatenate(const core::Variant& a, const core::Variant& b);

// ---- logic ----
core::Variant Logic(Op op, const core::Variant& a, const core::Variant& b);
core::Variant LogicalNot(const core::Variant& a);
// How WHERE, ON, HAVING, IIf and the Find methods read a condition: only a true value counts;
// Null and False do not.
bool IsTrue(const core::Variant& v);

// ---- helpers shared with the functions ----
// The longest text an expression may build (characters); longer raises VBA's error 14.
inline constexpr std::size_t kMaxTextLength = 16u << 20;
void CheckTextLength(std::size_t length);
bool IsNumericKind(core::VarType t);      // numbers, Booleans and dates
double NumberOf(const core::Variant& v);  // numeric kinds only
std::int64_t RoundHalfEven(double v);
[[noreturn]] void Overflow();
[[noreturn]] void TypeMismatch();

}  // namespace jetsql::detail
