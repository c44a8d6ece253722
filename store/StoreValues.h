#pragma once
// Reading back stored values that are not of their column's own type:
// a text in a date column, a number written as text in an integer column.
#include <cstdint>
#include <optional>
#include <string_view>

#include "model/DateTime.h"

namespace kv::store_detail {

// "2004/08/15 10:00:00", "2004/8/15", "2004-08-15 10:00", "10:00:00" (a
// time alone lies on 1899-12-30). Surrounding blanks are allowed. Any
// other text, or a date that does not exist (30 February), is invalid.
DateTime DateFromText(std::string_view text);

// A decimal number, rounded half to even as a stored number is; nullopt
// when the text is not a number or lies outside the 32-bit range.
std::optional<int32_t> IntFromText(std::string_view text);
// The same rounding for a stored floating-point number.
std::optional<int32_t> IntFromReal(double v);

}  // namespace kv::store_detail
