// The functions an expression may call: the VBA expression-service functions Jet evaluates
// (LCase, Left, InStr, CLng, DateSerial, ...). IIf is not here: the compiler evaluates only the
// branch it chooses. Aggregates (Count, Sum, ...) are not here either: they need the rows of a
// group. Private to the layer.
#pragma once

#include <string_view>
#include <vector>

#include "core/variant.h"

namespace jetsql::detail {

// What a call may need besides its arguments.
struct CallContext {
  double now = 0;  // the statement's current local date-time (Now), fixed per execution
};

using BuiltinFn = core::Variant (*)(const std::vector<core::Variant>& args,
                                    const CallContext& context);

struct FunctionInfo {
  std::string_view name;
  int min_args;
  int max_args;
  BuiltinFn fn;
  bool volatile_result;  // Now, Date, Time, Timer: not folded into constants
};

// The function of that name (case-insensitive), or nullptr.
const FunctionInfo* FindFunction(std::string_view name);

// The local date-time now, as a date-time double.
double CurrentDateTime();

// Upper- and lower-case forms of UTF-8 text (Latin, Central European, Greek and Cyrillic
// letters; everything else unchanged).
std::string UpperText(std::string_view text);
std::string LowerText(std::string_view text);

}  // namespace jetsql::detail
