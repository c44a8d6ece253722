#pragma once
// Schedule items for the demo store (screenshots, the story test) and the
// start-up benchmark.
#include <cstdint>
#include <string>
#include <vector>

#include "model/ScheduleItem.h"

namespace kv::test {

// A month of everyday items around `today` (a date at 00:00): meetings,
// lunches, an all-day trip, a weekly meeting, a monthly report, a
// birthday. Subjects are Japanese, held as CP932.
std::vector<ScheduleItem> DemoItems(const DateTime& today);

// n random items within a year and a half around `around`, the first
// `repeating` of them with one of the six rules; Index values are unique.
std::vector<ScheduleItem> BenchItems(int n, int repeating, const DateTime& around, uint32_t seed);

// Writes items into a new store at path; false on any failure.
bool WriteStore(const std::string& path, const std::vector<ScheduleItem>& items);

}  // namespace kv::test
