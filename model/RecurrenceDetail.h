#pragma once
// Pieces shared by the fast occurrence test and its reference walk.
#include "model/Recurrence.h"

namespace kv::detail {

// [s, e] meets [from, to): overlaps it, or is zero-length at `from`.
inline bool Meets(const DateTime& s, const DateTime& e, const DateTime& from, const DateTime& to) {
  return (e > from && s < to) || (s == e && s == from);
}

// Candidate days of the month for the n-th weekday rules, in rule order.
// Returns how many were written (at most 7).
int CandidateDays(int y, int m, int n, int selector, int out[7]);

// Whole months from RepStart's month to fy-fm are a multiple of rep_x.
bool MonthDistanceFits(int rep_x, int rs_year, int rs_month, int fy, int fm);

// Shared evaluation of the types that are not loops (0, 3, 4, 5, 6);
// `handled` is set false for types 1 and 2.
bool OccursDirect(const ItemShape& item, const DateTime& from, const DateTime& to,
                  bool& handled);

}  // namespace kv::detail
