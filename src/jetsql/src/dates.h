// Date and time texts as Jet reads them in #...# literals and in text-to-date conversions.
// Private to the layer.
#pragma once

#include <string>
#include <string_view>

namespace jetsql::detail {

// Reads a date, a time or both: "3/25/2024", "2024-03-25", "25 Mar 2024", "March 25, 2024",
// "14:05", "2:05:09 PM", "3/25/2024 14:05:00". Numeric dates are month/day/year; a month over
// 12 with a day that fits is taken as day/month/year instead, as Jet does (never for a
// year-first date). Two-digit years 00-29 are 2000-2029, 30-99 are 1930-1999. A date without a
// year is in the current year; a time without a date is on 30 December 1899 (date-time 0).
// False when the text is no valid date or time.
bool ParseDateText(std::string_view text, double& date_time);

// The text a date-time shows as, US style as VBA's general date has it: "3/25/2024",
// "2:05:09 PM", "3/25/2024 2:05:09 PM" (no date for day 0, no time at midnight).
std::string FormatGeneralDate(double date_time);

}  // namespace jetsql::detail
