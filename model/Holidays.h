#pragma once
// Japanese national holidays, worked out from the holiday law and its
// amendments for the years 1949 to 2150: no table of years.
#include <string>

#include "model/DateTime.h"

namespace kv {

// The name of the Japanese national holiday on `day` (its date part), as CP932 bytes; empty when none.
std::string HolidayName(const DateTime& day);

// The same as UTF-8, or nullptr; for year, month (1-12) and day.
const char* HolidayNameUtf8(int year, int month, int day);

// The first and last years the rules are written for.
inline constexpr int kFirstHolidayYear = 1949;
inline constexpr int kLastHolidayYear = 2150;

// Day of March of the vernal equinox day, and of September of the
// autumnal one; 0 outside 1900-2150.
int VernalEquinoxDay(int year);
int AutumnalEquinoxDay(int year);

}  // namespace kv
