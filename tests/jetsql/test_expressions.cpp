// Expressions against the values Jet gives by its documented rules (VBA operator and function
// reference, Access SQL reference), through the front door a recordset uses.
#include <gtest/gtest.h>

#include "jetsql/expression.h"
#include "test_support.h"

namespace jetsql {
namespace {

using core::Variant;
using testing::Cur;
using testing::Date;
using testing::ErrorNumberOf;
using testing::SameValue;

const std::vector<ColumnInfo> kColumns = {
    {"Name", DataType::kText, "Goods"},      {"Qty", DataType::kLong, "Goods"},
    {"Price", DataType::kCurrency, "Goods"}, {"When", DataType::kDate, "Goods"},
    {"Flag", DataType::kBoolean, "Goods"},   {"Note", DataType::kMemo, "Goods"},
    {"Ratio", DataType::kSingle, "Goods"},   {"Small", DataType::kInteger, "Goods"},
    {"Tiny", DataType::kByte, "Goods"},      {"Code", DataType::kText, "Goods"},
};

std::vector<Variant> Row() {
  return {Variant("Čaj zelený"),
          Variant::FromLong(12),
          Cur(25000),
          Date(2024, 3, 25, 14, 5, 0),
          Variant::FromBoolean(true),
          Variant::Null(),
          Variant::FromSingle(0.1f),
          Variant::FromInteger(32000),
          Variant::FromByte(200),
          Variant("12")};
}

Variant Eval(std::string_view text) {
  const std::vector<Variant> values = Row();
  return CompiledExpression::Compile(text, kColumns).Evaluate(ValuesRow(values));
}

struct Case {
  const char* text;
  Variant expected;
};

void CheckAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      EXPECT_TRUE(SameValue(Eval(c.text), c.expected));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "raised: " << e.what();
    }
  }
}

const Variant T = Variant::FromBoolean(true);
const Variant F = Variant::FromBoolean(false);
const Variant N = Variant::Null();

TEST(SqlLiterals, NumbersStringsDatesConstants) {
  CheckAll({
      {"42", Variant::FromLong(42)},
      {"3000000000", Variant::FromDouble(3000000000.0)},
      {"12.5", Variant::FromDouble(12.5)},
      {".5", Variant::FromDouble(0.5)},
      {"1.5E3", Variant::FromDouble(1500.0)},
      {"\"O\"\"Brien\"", Variant("O\"Brien")},
      {"'O''Brien'", Variant("O'Brien")},
      {"'say \"hi\"'", Variant("say \"hi\"")},
      {"True", T},
      {"yes", T},
      {"On", T},
      {"FALSE", F},
      {"No", F},
      {"off", F},
      {"Null", N},
      // Dates are month/day/year whatever the locale; ISO order is read as such.
      {"#3/25/2024#", Date(2024, 3, 25)},
      {"#03/05/2001#", Date(2001, 3, 5)},
      {"#2024-03-25#", Date(2024, 3, 25)},
      {"#2024/3/25#", Date(2024, 3, 25)},
      {"#3/25/2024 14:05:00#", Date(2024, 3, 25, 14, 5, 0)},
      {"#3/25/2024 2:05:09 PM#", Date(2024, 3, 25, 14, 5, 9)},
      {"#12:30 AM#", Date(1899, 12, 30, 0, 30, 0)},
      {"#18:15:42#", Date(1899, 12, 30, 18, 15, 42)},
      {"#1 Jan 93#", Date(1993, 1, 1)},
      {"#January 1, 1993#", Date(1993, 1, 1)},
      {"#12/31/2003#", Date(2003, 12, 31)},
      // Two-digit years: 00-29 are 2000-2029, 30-99 are 1930-1999.
      {"#1/1/29#", Date(2029, 1, 1)},
      {"#1/1/30#", Date(1930, 1, 1)},
      // An impossible month/day is read as day/month instead of failing.
      {"#13/10/01#", Date(2001, 10, 13)},
      {"#25.3.2024#", Date(2024, 3, 25)},
  });
}

TEST(SqlLiterals, GuidLiteralComparesWithRowBytes) {
  // A GUID column holds the first three groups little-endian.
  const std::vector<ColumnInfo> columns = {{"Id", DataType::kGuid, ""}};
  const std::vector<Variant> row = {
      Variant::FromBytes({0x78, 0x56, 0x34, 0x12, 0xAB, 0x90, 0xEF, 0xCD, 0x12, 0x34, 0x56, 0x78,
                          0x90, 0xAB, 0xCD, 0xEF})};
  const auto match = [&](const char* text) {
    return CompiledExpression::Compile(text, columns).Matches(ValuesRow(row));
  };
  EXPECT_TRUE(match("[Id] = {guid {12345678-90AB-CDEF-1234-567890ABCDEF}}"));
  EXPECT_TRUE(match("[Id] = {GUID{12345678-90ab-cdef-1234-567890abcdef}}"));
  EXPECT_FALSE(match("[Id] = {guid {12345678-90AB-CDEF-1234-567890ABCDEE}}"));
  EXPECT_TRUE(match("[Id] = '{12345678-90ab-CDEF-1234-567890ABCDEF}'"));
}

TEST(SqlOperators, PrecedenceFollowsVba) {
  CheckAll({
      {"-2^2", Variant::FromDouble(-4)},
      {"2^-1", Variant::FromDouble(0.5)},
      {"2^3^2", Variant::FromDouble(64)},
      {"2+3*4", Variant::FromLong(14)},
      {"(2+3)*4", Variant::FromLong(20)},
      {"7 \\ 2 * 2", Variant::FromLong(1)},  // * before \: 7 \ 4
      {"7 Mod 3 + 1", Variant::FromLong(2)},
      {"10 - 7 Mod 4", Variant::FromLong(7)},
      {"1 + 2 & 3", Variant("33")},
      {"Not 1 = 2", T},
      {"True Or False And False", T},
      {"True Xor True Or True", F},      // Or binds tighter than Xor
      {"False Imp False Eqv False", T},  // Eqv before Imp: False Imp True
      {"3 > 2 = True", T},
  });
}

TEST(SqlOperators, ThreeValuedLogicTable) {
  // The documented truth table, rows (a, b) and columns And, Or, Xor, Eqv, Imp.
  struct LogicRow {
    const char* a;
    const char* b;
    Variant and_, or_, xor_, eqv, imp;
  };
  const LogicRow table[] = {
      {"True", "True", T, T, F, T, T},   {"True", "False", F, T, T, F, F},
      {"True", "Null", N, T, N, N, N},   {"False", "True", F, T, T, F, T},
      {"False", "False", F, F, F, T, T}, {"False", "Null", F, N, N, N, T},
      {"Null", "True", N, T, N, N, T},   {"Null", "False", F, N, N, N, N},
      {"Null", "Null", N, N, N, N, N},
  };
  for (const LogicRow& r : table) {
    const std::string a = r.a, b = r.b;
    SCOPED_TRACE(a + ", " + b);
    EXPECT_TRUE(SameValue(Eval(a + " And " + b), r.and_));
    EXPECT_TRUE(SameValue(Eval(a + " Or " + b), r.or_));
    EXPECT_TRUE(SameValue(Eval(a + " Xor " + b), r.xor_));
    EXPECT_TRUE(SameValue(Eval(a + " Eqv " + b), r.eqv));
    EXPECT_TRUE(SameValue(Eval(a + " Imp " + b), r.imp));
  }
  CheckAll({
      {"Not Null", N},
      {"Not True", F},
      // On numbers the operators are bitwise.
      {"12 And 10", Variant::FromInteger(8)},
      {"12 Or 3", Variant::FromInteger(15)},
      {"Not 0", Variant::FromInteger(-1)},
  });
}

TEST(SqlOperators, NullPropagatesExceptThroughAmpersandAndIsNull) {
  CheckAll({
      {"Null + 1", N},
      {"[Note] * 2", N},
      {"Null = Null", N},
      {"[Note] <> 'x'", N},
      {"'a' & Null", Variant("a")},
      {"Null & Null", N},
      {"'a' + Null", N},
      {"[Note] Is Null", T},
      {"[Note] Is Not Null", F},
      {"[Name] Is Null", F},
      {"[Note] Like '*'", N},
      {"[Note] Between 1 And 2", N},
  });
}

TEST(SqlComparison, NumbersAcrossTypes) {
  CheckAll({
      {"[Qty] = 12", T},
      {"[Qty] = 12.0", T},
      {"[Price] = 2.5", T},      // Currency against Double
      {"[Price] = 2.49995", T},  // the Double is made Currency first, halves to even
      {"[Price] > 2.49994", T},
      {"[Price] = 2.50004", T},
      {"[Ratio] = 0.1", T},  // Single against Double: compared at Single precision
      {"[Flag] = -1", T},    // Booleans are -1/0
      {"[Flag] = True", T},
      {"[Small] > [Tiny]", T},
      {"[When] > #3/25/2024#", T},  // dates compare as their serial numbers
      {"[When] < #3/26/2024#", T},
      {"#12/30/1899# = 0", T},
      {"#12/31/1899# = 1", T},
  });
}

TEST(SqlComparison, TextIgnoresCaseAndFollowsTheGeneralSortOrder) {
  CheckAll({
      {"'abc' = 'ABC'", T},
      {"'čaj' = 'ČAJ'", T},
      {"[Name] = 'ČAJ ZELENÝ'", T},
      {"'Žluťoučký kůň' = 'žluťoučký KŮŇ'", T},
      // Accents count: a sorts before á, which sorts before b.
      {"'a' = 'á'", F},
      {"'a' < 'á'", T},
      {"'á' < 'b'", T},
      {"'čaj' < 'd'", T},
      {"'caj' < 'čaj'", T},
      // General order: "ch" is c then h, not the Czech letter after h.
      {"'chata' < 'hrad'", T},
      {"'chata' < 'cihla'", T},
      {"'chata' > 'cesta'", T},
      {"'Z' > 'a'", T},
      {"'a' < 'B'", T},
      {"'10' < '9'", T},
      // Trailing blanks do not count, as in index keys (adopted for =; unconfirmed for Jet).
      {"'abc ' = 'abc'", T},
      {"' abc' = 'abc'", F},
  });
}

TEST(SqlComparison, MixedTextAndNumbers) {
  CheckAll({
      // A constant text against a number column is read as a number...
      {"[Qty] = '12'", T},
      {"[Qty] > ' 3 '", T},
      {"[When] = '2024-03-25 14:05:00'", T},
      {"[When] > '3/24/2024'", T},
      // ...and a constant number against a text column compares as text.
      {"[Code] = 12", T},
      {"[Code] < 9", T},
  });
  // Text that is no number cannot be compared with a number column.
  EXPECT_EQ(ErrorNumberOf([] { Eval("[Qty] = 'abc'"); }), dao_error::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { Eval("[When] = 'soon'"); }), dao_error::kTypeMismatch);
}

TEST(SqlLike, DocumentedExamplesAndWildcards) {
  CheckAll({
      // The Access SQL reference's table.
      {"'aBBBa' Like 'a*a'", T},
      {"'aBC' Like 'a*a'", F},
      {"'a*a' Like 'a[*]a'", T},
      {"'aaa' Like 'a[*]a'", F},
      {"'a3a' Like 'a?a'", T},
      {"'a10a' Like 'a#a'", F},
      {"'An9' Like 'a[!b-m]#'", T},
      {"'aj0' Like 'a[!b-m]#'", F},
      // Whole-string match, case ignored, digits only for #.
      {"'abc' Like 'ab'", F},
      {"'ABC' Like 'abc'", T},
      {"'čaj' Like 'ČA*'", T},
      {"'x5' Like 'x#'", T},
      {"'xa' Like 'x#'", F},
      // % and _ are ordinary characters in DAO.
      {"'100%' Like '100%'", T},
      {"'1000' Like '100%'", F},
      {"'a_b' Like 'a_b'", T},
      {"'axb' Like 'a_b'", F},
      // Sets, ranges by the sort order, literal - at the ends, [] matching nothing.
      {"'b' Like '[abc]'", T},
      {"'d' Like '[abc]'", F},
      {"'Q' Like '[a-z]'", T},
      {"'á' Like '[a-c]'", T},
      {"'-' Like '[a-]'", T},
      {"'-' Like '[!a]'", T},
      {"'ab' Like 'a[]b'", T},
      {"'x' Like '[!x]'", F},
      {"'' Like '*'", T},
      {"'' Like '?'", F},
      {"'abcabc' Like '*b*c'", T},
      {"'ab' Not Like 'a*'", F},
      {"[Name] Like LCase('čaj*')", T},
  });
  EXPECT_EQ(ErrorNumberOf([] { Eval("'a' Like '[a'"); }), dao_error::kInvalidPattern);
  EXPECT_EQ(ErrorNumberOf([] { Eval("'a' Like '[z-a]'"); }), dao_error::kInvalidPattern);
}

TEST(SqlInBetween, ListsAndRanges) {
  CheckAll({
      {"[Qty] In (1, 12, 30)", T},
      {"[Qty] In (1, 2)", F},
      {"[Qty] Not In (1, 2)", T},
      {"'B' In ('a', 'b')", T},
      {"[Qty] In (1, Null)", N},
      {"[Qty] In (12, Null)", T},
      {"[Note] In (1, 2)", N},
      {"[Qty] Between 10 And 20", T},
      {"[Qty] Between 20 And 10", T},  // bounds in either order
      {"[Qty] Between 12 And 12", T},
      {"[Qty] Not Between 1 And 11", T},
      {"[Qty] Between Null And 20", N},
      {"'b' Between 'A' And 'C'", T},
      {"'*' Between 'a' And 'z'", F},  // no wildcards here
      {"[When] Between #3/25/2024# And #3/26/2024#", T},
  });
}

TEST(SqlArithmetic, ResultTypesAndPromotion) {
  CheckAll({
      {"[Tiny] + 1", Variant::FromLong(201)},           // Long literal wins
      {"[Tiny] + [Tiny]", Variant::FromInteger(400)},   // Byte overflows into Integer
      {"[Small] + [Small]", Variant::FromLong(64000)},  // Integer into Long
      {"2147483647 + 1", Variant::FromDouble(2147483648.0)},
      {"[Small] * 2", Variant::FromLong(64000)},
      {"[Price] + 1", Cur(35000)},
      {"[Price] * 3", Cur(75000)},
      {"[Price] * 0.5", Variant::FromDouble(1.25)},             // * ranks Currency below Double
      {"[Price] + 0.5", Cur(30000)},                            // + ranks Currency above Double
      {"[Ratio] + 1", Variant::FromDouble(1.100000001490116)},  // Single with Long is Double
      {"7 / 2", Variant::FromDouble(3.5)},
      {"[Small] / 2", Variant::FromDouble(16000)},
      {"[Tiny] / [Tiny]", Variant::FromSingle(1.0f)},  // Byte/Integer/Single operands: Single
      {"7 \\ 2", Variant::FromLong(3)},
      {"5.5 \\ 2", Variant::FromLong(3)},  // 5.5 rounds half to even: 6 \ 2
      {"4.5 \\ 2", Variant::FromLong(2)},
      {"7 Mod -3", Variant::FromLong(1)},
      {"-7 Mod 3", Variant::FromLong(-1)},
      {"2 ^ 10", Variant::FromDouble(1024)},
      {"-[Qty]", Variant::FromLong(-12)},
      {"-[Tiny]", Variant::FromInteger(-200)},
      {"'3' + 4", Variant::FromDouble(7)},
      {"'3' + '4'", Variant("34")},
      {"'3' - '1'", Variant::FromDouble(2)},
      {"True + True", Variant::FromInteger(-2)},
      {"#3/25/2024# + 1", Date(2024, 3, 26)},
      {"#3/25/2024# - 1.5", Date(2024, 3, 23, 12, 0, 0)},
      {"#3/26/2024# - #3/25/2024#", Variant::FromDouble(1)},
      {"[Qty] & 'x'", Variant("12x")},
      {"1.5 & ''", Variant("1.5")},
      {"True & ''", Variant("True")},
      {"#3/25/2024 14:05:00# & ''", Variant("3/25/2024 2:05:00 PM")},
  });
  EXPECT_EQ(ErrorNumberOf([] { Eval("1 / 0"); }), dao_error::kDivisionByZero);
  EXPECT_EQ(ErrorNumberOf([] { Eval("1 \\ 0"); }), dao_error::kDivisionByZero);
  EXPECT_EQ(ErrorNumberOf([] { Eval("5 Mod 0"); }), dao_error::kDivisionByZero);
  EXPECT_EQ(ErrorNumberOf([] { Eval("0 / 0"); }), dao_error::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { Eval("'abc' + 1"); }), dao_error::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { Eval("(-8) ^ 0.5"); }), dao_error::kInvalidProcedureCall);
  // Currency overflows are errors; a Double result does not overflow there.
  EXPECT_EQ(ErrorNumberOf([] { Eval("922337203685477 + [Price]"); }), dao_error::kOverflow);
  EXPECT_TRUE(
      SameValue(Eval("[Price] * 922337203685477"), Variant::FromDouble(2305843009213692.5)));
}

TEST(SqlFunctions, TextFunctions) {
  CheckAll({
      {"LCase('ČAJ Zelený')", Variant("čaj zelený")},
      {"UCase('žluťoučký kůň')", Variant("ŽLUŤOUČKÝ KŮŇ")},
      {"UCase(Null)", N},
      {"Left('abcdef', 3)", Variant("abc")},
      {"Left('abc', 0)", Variant("")},
      {"Left('abc', 10)", Variant("abc")},
      {"Right('abcdef', 2)", Variant("ef")},
      {"Right('čaj', 2)", Variant("aj")},
      {"Mid('abcdef', 2, 3)", Variant("bcd")},
      {"Mid('abcdef', 4)", Variant("def")},
      {"Mid('abc', 5)", Variant("")},
      {"Len('čaj')", Variant::FromLong(3)},
      {"Len([Qty])", Variant::FromLong(2)},
      {"Len(Null)", N},
      {"Trim('  a b  ')", Variant("a b")},
      {"LTrim('  a ')", Variant("a ")},
      {"RTrim('  a ')", Variant("  a")},
      {"InStr('abcabc', 'c')", Variant::FromLong(3)},
      {"InStr(4, 'abcabc', 'c')", Variant::FromLong(6)},
      {"InStr('abc', 'B')", Variant::FromLong(2)},        // the database's comparison
      {"InStr(1, 'abc', 'B', 0)", Variant::FromLong(0)},  // binary
      {"InStr('abc', '')", Variant::FromLong(1)},
      {"InStr('', 'a')", Variant::FromLong(0)},
      {"InStr(5, 'abc', 'a')", Variant::FromLong(0)},
      {"InStr('abc', Null)", N},
      {"StrComp('a', 'B')", Variant::FromInteger(-1)},
      {"StrComp('a', 'A')", Variant::FromInteger(0)},
      {"Replace('a-b-c', '-', '+')", Variant("a+b+c")},
      {"Space(3)", Variant("   ")},
      {"String(3, 'xy')", Variant("xxx")},
      {"Asc('A')", Variant::FromInteger(65)},
      {"Chr(65)", Variant("A")},
      {"Hex(255)", Variant("FF")},
  });
  EXPECT_EQ(ErrorNumberOf([] { Eval("Left('abc', -1)"); }), dao_error::kInvalidProcedureCall);
  EXPECT_EQ(ErrorNumberOf([] { Eval("Mid('abc', 0)"); }), dao_error::kInvalidProcedureCall);
  EXPECT_EQ(ErrorNumberOf([] { Eval("InStr(Null, 'a', 'b')"); }), dao_error::kInvalidUseOfNull);
}

TEST(SqlFunctions, ConversionsRoundHalfToEven) {
  CheckAll({
      {"CInt(0.5)", Variant::FromInteger(0)},
      {"CInt(1.5)", Variant::FromInteger(2)},
      {"CInt(2.5)", Variant::FromInteger(2)},
      {"CInt(-2.5)", Variant::FromInteger(-2)},
      {"CLng('12')", Variant::FromLong(12)},
      {"CLng(2.5)", Variant::FromLong(2)},
      {"CByte(255)", Variant::FromByte(255)},
      {"CDbl('1.25')", Variant::FromDouble(1.25)},
      {"CCur(1.23456)", Cur(12346)},
      {"CCur('0.00005')", Cur(0)},  // 0.5 of the last place rounds to even
      {"CSng(0.1)", Variant::FromSingle(0.1f)},
      {"CStr(12)", Variant("12")},
      {"CStr(True)", Variant("True")},
      {"CStr(0.1 + 0.2)", Variant("0.3")},  // 15 significant digits
      {"CStr(1E+20)", Variant("1E+20")},
      {"CBool(5)", T},
      {"CBool(0)", F},
      {"CBool('True')", T},
      {"CDate('2024-03-25')", Date(2024, 3, 25)},
      {"CDate(45376)", Date(2024, 3, 25)},
      {"CVDate(Null)", N},
      {"Val('  1 2 3abc')", Variant::FromDouble(123)},
      {"Val('1,5')", Variant::FromDouble(1)},
      {"Val('1.5E2x')", Variant::FromDouble(150)},
      {"Val('&HFF')", Variant::FromDouble(255)},
      {"Val('&HFFFF')", Variant::FromDouble(-1)},
      {"Val('&O17')", Variant::FromDouble(15)},
      {"Val('abc')", Variant::FromDouble(0)},
      {"Str(5)", Variant(" 5")},
      {"Str(-5)", Variant("-5")},
      {"Str(0.5)", Variant(" 0.5")},
      {"Str(Null)", N},
  });
  EXPECT_EQ(ErrorNumberOf([] { Eval("CInt(32768)"); }), dao_error::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { Eval("CByte(-1)"); }), dao_error::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { Eval("CStr(Null)"); }), dao_error::kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { Eval("CLng(Null)"); }), dao_error::kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { Eval("CLng('abc')"); }), dao_error::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { Eval("Val(Null)"); }), dao_error::kInvalidUseOfNull);
}

TEST(SqlFunctions, NumbersAndConditions) {
  CheckAll({
      {"Abs(-3)", Variant::FromLong(3)},
      {"Abs([Price] * -1)", Cur(25000)},
      {"Abs(Null)", N},
      {"Int(-8.4)", Variant::FromDouble(-9)},
      {"Fix(-8.4)", Variant::FromDouble(-8)},
      {"Int(8.7)", Variant::FromDouble(8)},
      {"Int([Price])", Cur(20000)},
      {"Round(2.5)", Variant::FromDouble(2)},
      {"Round(3.5)", Variant::FromDouble(4)},
      {"Round(-2.5)", Variant::FromDouble(-2)},
      {"Round(1.2345, 2)", Variant::FromDouble(1.23)},
      {"Round(Null)", N},
      {"Sgn(-7)", Variant::FromInteger(-1)},
      {"Sqr(16)", Variant::FromDouble(4)},
      {"IsNull([Note])", T},
      {"IsNull(0)", F},
      {"IsNumeric('1.5')", T},
      {"IsNumeric('x')", F},
      {"IsDate('2024-03-25')", T},
      // IIf evaluates only the branch it takes; a Null condition takes the false part.
      {"IIf(1 = 1, 'yes', 'no')", Variant("yes")},
      {"IIf(0 = 0, 0, 1 / 0)", Variant::FromLong(0)},
      {"IIf([Note] = 1, 'yes', 'no')", Variant("no")},
      {"IIf(Null, 1, 2)", Variant::FromLong(2)},
      {"Switch(1 = 2, 'a', 2 = 2, 'b')", Variant("b")},
      {"Choose(2, 'a', 'b', 'c')", Variant("b")},
  });
}

TEST(SqlFunctions, Dates) {
  CheckAll({
      {"Year([When])", Variant::FromInteger(2024)},
      {"Month([When])", Variant::FromInteger(3)},
      {"Day([When])", Variant::FromInteger(25)},
      {"Hour([When])", Variant::FromInteger(14)},
      {"Minute([When])", Variant::FromInteger(5)},
      {"Second(#1:02:03#)", Variant::FromInteger(3)},
      {"Year(Null)", N},
      {"Weekday(#3/24/2024#)", Variant::FromInteger(1)},     // a Sunday
      {"Weekday(#3/25/2024#, 2)", Variant::FromInteger(1)},  // Monday first
      {"DateValue([When])", Date(2024, 3, 25)},
      {"DateValue('3/25/2024 14:05')", Date(2024, 3, 25)},
      {"TimeValue([When])", Date(1899, 12, 30, 14, 5, 0)},
      // DateSerial carries months and days over.
      {"DateSerial(2024, 3, 25)", Date(2024, 3, 25)},
      {"DateSerial(2024, 13, 1)", Date(2025, 1, 1)},
      {"DateSerial(2024, 3, 0)", Date(2024, 2, 29)},
      {"DateSerial(2024, 0, 1)", Date(2023, 12, 1)},
      {"DateSerial(24, 1, 1)", Date(2024, 1, 1)},
      {"DateSerial(95, 1, 1)", Date(1995, 1, 1)},
      {"TimeSerial(14, 5, 0)", Date(1899, 12, 30, 14, 5, 0)},
      {"TimeSerial(12, -15, 0)", Date(1899, 12, 30, 11, 45, 0)},
      {"DateAdd('m', 1, #1/31/2024#)", Date(2024, 2, 29)},
      {"DateAdd('yyyy', 1, #2/29/2024#)", Date(2025, 2, 28)},
      {"DateAdd('d', -1, #3/1/2024#)", Date(2024, 2, 29)},
      {"DateAdd('h', 12, [When])", Date(2024, 3, 26, 2, 5, 0)},
      {"DateAdd('d', 1, #12/29/1899 6:00#)", Date(1899, 12, 30, 6, 0, 0)},
      {"DateDiff('yyyy', #12/31/2023#, #1/1/2024#)", Variant::FromLong(1)},
      {"DateDiff('d', #3/1/2024#, #2/1/2024#)", Variant::FromLong(-29)},
      {"DateDiff('m', #1/31/2024#, #2/1/2024#)", Variant::FromLong(1)},
      {"DateDiff('ww', #3/23/2024#, #3/24/2024#)", Variant::FromLong(1)},  // a Sunday crossed
      {"DateDiff('w', #3/23/2024#, #3/24/2024#)", Variant::FromLong(0)},
      {"DatePart('q', [When])", Variant::FromInteger(1)},
      {"DatePart('y', #2/1/2024#)", Variant::FromInteger(32)},
  });
  // Date, Time and Now agree with each other.
  EXPECT_TRUE(SameValue(Eval("Date() + Time() - Now() < 0.0001"), T));
  EXPECT_EQ(ErrorNumberOf([] { Eval("DateAdd('x', 1, #1/1/2024#)"); }),
            dao_error::kInvalidProcedureCall);
}

TEST(SqlErrors, SyntaxErrorsNameTheExpression) {
  struct BadCase {
    const char* text;
    const char* phrase;
  };
  const BadCase cases[] = {
      {"[Qty] = (1 + 2", "Missing ), ], or Item"},
      {"[Qty = 1", "Missing ), ], or Item"},
      {"[Qty] = 1)", "Extra )"},
      {"[Name] = 'abc", "Syntax error in string"},
      {"[Name] = \"abc", "Syntax error in string"},
      {"[When] = #3/45/2024#", "Syntax error in date"},
      {"[When] = #3/25/2024", "Syntax error in date"},
      {"[Qty] 1", "Syntax error (missing operator)"},
      {"[Qty] =", "Syntax error (missing operator)"},
      {"a b", "Syntax error (missing operator)"},
      {"[Qty] = 1,", "Syntax error (comma)"},
      {"[Qty] In 1, 2", "In operator without ()"},
      {"[Qty] Between 1", "Between operator without And"},
      {"Left('a')", "Wrong number of arguments used with function"},
      {"[Id] = {guid {123}}", "Malformed GUID"},
      {"[Id] = {guid }", "Malformed GUID"},
      {"", "Syntax error (missing operator)"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text, source;
    // In a Filter: 3075 quoting the expression.
    EXPECT_EQ(ErrorNumberOf([&] { CompiledExpression::Compile(c.text, kColumns); }, &text, &source),
              dao_error::kQueryExpression);
    EXPECT_EQ(text, std::string(c.phrase) + " in query expression '" + c.text + "'.");
    EXPECT_EQ(source, "DAO.Recordset");
    // In a Find criteria: 3077.
    EXPECT_EQ(
        ErrorNumberOf([&] { CompiledExpression::Compile(c.text, kColumns, TextKind::kCriteria); },
                      &text),
        dao_error::kExpression);
    EXPECT_EQ(text, std::string(c.phrase) + " in expression.");
  }
}

TEST(SqlErrors, UnknownNamesAndFunctions) {
  std::string text;
  EXPECT_EQ(
      ErrorNumberOf(
          [&] { CompiledExpression::Compile("[Nope] = 1", kColumns, TextKind::kCriteria); }, &text),
      dao_error::kUnknownName);
  EXPECT_EQ(text,
            "The database engine does not recognize 'Nope' as a valid field name or expression.");
  // In a filter unknown names are parameters nobody supplies.
  EXPECT_EQ(
      ErrorNumberOf([&] { CompiledExpression::Compile("[A] = 1 Or [B] = [A]", kColumns); }, &text),
      dao_error::kTooFewParameters);
  EXPECT_EQ(text, "Too few parameters. Expected 2.");
  EXPECT_EQ(
      ErrorNumberOf([&] { CompiledExpression::Compile("Nz([Qty], 0) = 1", kColumns); }, &text),
      dao_error::kUndefinedFunction);
  EXPECT_EQ(text, "Undefined function 'Nz' in expression.");
  // Qualified names find the table's column; a wrong table is unknown.
  EXPECT_NO_THROW(CompiledExpression::Compile("[Goods].[Qty] = 1 And Goods!Qty = 1", kColumns));
  EXPECT_EQ(ErrorNumberOf([&] {
              CompiledExpression::Compile("[Other].[Qty] = 1", kColumns, TextKind::kCriteria);
            }),
            dao_error::kUnknownName);
  // Names in brackets may be keywords or hold blanks; bare keywords are not names.
  const std::vector<ColumnInfo> odd = {{"Order Date", DataType::kDate, ""},
                                       {"Select", DataType::kLong, ""}};
  EXPECT_NO_THROW(CompiledExpression::Compile("[Order Date] > #1/1/2000# And [Select] = 1", odd));
  EXPECT_EQ(ErrorNumberOf([&] { CompiledExpression::Compile("Select = 1", odd); }),
            dao_error::kQueryExpression);
}

TEST(SqlErrors, LimitsKeepHostileTextsFromExhaustingTheStackOrMemory) {
  // Nesting and long chains are refused before they can recurse too deeply...
  const std::string nested = std::string(300, '(') + "1" + std::string(300, ')');
  EXPECT_EQ(ErrorNumberOf([&] { Eval(nested); }), dao_error::kQueryTooComplex);
  std::string chain = "1";
  for (int i = 0; i < 2000; ++i) chain += "+1";
  EXPECT_EQ(ErrorNumberOf([&] { Eval(chain); }), dao_error::kQueryTooComplex);
  std::string nots;
  for (int i = 0; i < 300; ++i) nots += "Not ";
  EXPECT_EQ(ErrorNumberOf([&] { Eval(nots + "True"); }), dao_error::kQueryTooComplex);
  // ...while ordinary depths pass.
  EXPECT_TRUE(
      SameValue(Eval(std::string(50, '(') + "1" + std::string(50, ')')), Variant::FromLong(1)));
  std::string sum = "0";
  for (int i = 0; i < 500; ++i) sum += "+1";
  EXPECT_TRUE(SameValue(Eval(sum), Variant::FromLong(500)));
  // Texts beyond 16 Mi characters are refused.
  EXPECT_EQ(ErrorNumberOf([] { Eval("Len(Space(20000000))"); }), dao_error::kOutOfStringSpace);
  EXPECT_EQ(ErrorNumberOf([] { Eval("Len(Space(9000000) & Space(9000000))"); }),
            dao_error::kOutOfStringSpace);
}

TEST(SqlErrors, AmbiguousNameInTwoTables) {
  const std::vector<ColumnInfo> joined = {{"ID", DataType::kLong, "A"},
                                          {"ID", DataType::kLong, "B"}};
  std::string text;
  EXPECT_EQ(ErrorNumberOf([&] { CompiledExpression::Compile("[ID] = 1", joined); }, &text),
            dao_error::kAmbiguousField);
  EXPECT_NE(text.find("'ID'"), std::string::npos);
  const std::vector<Variant> row = {Variant::FromLong(1), Variant::FromLong(2)};
  EXPECT_TRUE(CompiledExpression::Compile("[B].[ID] = 2", joined).Matches(ValuesRow(row)));
}

}  // namespace
}  // namespace jetsql
