#include <gtest/gtest.h>

#include "model/ScheduleItem.h"
#include "tests/support/TestSupport.h"

using namespace kv;

namespace {

TEST(ScheduleItemTest, ConstructionAndCopy) {
  ScheduleItem a;
  for (const DateTime* d : {&a.Index, &a.Updated, &a.Start, &a.End, &a.AlarmTime})
    EXPECT_EQ(*d, DateTime());
  EXPECT_TRUE(a.Subject.empty());

  a.Subject = test::J("会議");
  ScheduleItem b = a;
  b.Subject += "x";
  EXPECT_EQ(a.Subject, test::J("会議"));
  EXPECT_EQ(NoAlarmMarker(), test::D(2004, 8, 15));
}

TEST(ScheduleItemTest, AlarmLeadShowsLargestExactUnit) {
  struct Row {
    const char* name;
    int seconds;
    AlarmLead lead;
  } rows[] = {
      {"two hours", 7200, {2, AlarmUnit::Hours}},
      {"ninety minutes", 5400, {90, AlarmUnit::Minutes}},
      {"two days", 172800, {2, AlarmUnit::Days}},
      {"zero is days", 0, {0, AlarmUnit::Days}},
      {"five minutes", 300, {5, AlarmUnit::Minutes}},
      {"twenty-five hours", 90000, {25, AlarmUnit::Hours}},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(AlarmLeadFromSeconds(r.seconds), r.lead) << r.name;
    EXPECT_EQ(AlarmLeadToSeconds(r.lead), r.seconds) << r.name;
  }
}

}  // namespace
