#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/Recurrence.h"
#include "tests/support/TestSupport.h"

using namespace kv;
using kv::test::D;
using kv::test::MakeRule;

namespace {

bool OnDay(const ScheduleItem& it, DateTime day) {
  return Occurs(it, day, day.AddDays(1));
}

ScheduleItem Single(DateTime start, DateTime end) {
  ScheduleItem it;
  it.SyncFlag = SyncClean;
  it.RepType = 0;
  it.Start = start;
  it.End = end;
  return it;
}

TEST(OccursTest, SingleItemWindowEdges) {
  const ScheduleItem point = Single(D(2004, 3, 1, 10, 0, 0), D(2004, 3, 1, 10, 0, 0));
  EXPECT_TRUE(Occurs(point, D(2004, 3, 1, 10, 0, 0), D(2004, 3, 1, 11, 0, 0)));
  EXPECT_FALSE(Occurs(point, D(2004, 3, 1, 9, 0, 0), D(2004, 3, 1, 10, 0, 0)));
  EXPECT_TRUE(OnDay(point, D(2004, 3, 1)));

  // Monday 10:00 to Wednesday 10:00.
  const ScheduleItem span = Single(D(2004, 3, 1, 10, 0, 0), D(2004, 3, 3, 10, 0, 0));
  EXPECT_TRUE(OnDay(span, D(2004, 3, 1)));
  EXPECT_TRUE(OnDay(span, D(2004, 3, 2)));
  EXPECT_TRUE(OnDay(span, D(2004, 3, 3)));
  EXPECT_FALSE(OnDay(span, D(2004, 3, 4)));
  EXPECT_FALSE(OnDay(span, D(2004, 2, 29)));
  const ScheduleItem to_midnight = Single(D(2004, 3, 1, 10, 0, 0), D(2004, 3, 3, 0, 0, 0));
  EXPECT_FALSE(OnDay(to_midnight, D(2004, 3, 3)));
  EXPECT_TRUE(OnDay(to_midnight, D(2004, 3, 2)));

  ScheduleItem deleted = span;
  deleted.SyncFlag = SyncDeleted;
  EXPECT_FALSE(OnDay(deleted, D(2004, 3, 2)));
}

TEST(OccursTest, DeletedRulesNeverOccur) {
  const int mask_or_day[7] = {0, 0, 127, 15, 1, 1, 1};
  for (int type = 0; type <= 6; ++type) {
    ScheduleItem it = MakeRule(type, 1, mask_or_day[type], 1, D(2000, 1, 1),
                               D(2010, 1, 1, 23, 59, 0), D(2004, 1, 5, 0, 0, 0),
                               D(2004, 1, 5, 23, 59, 59));
    bool any = false;
    for (DateTime d = D(2004, 1, 1); d < D(2004, 3, 1); d = d.AddDays(1)) any |= OnDay(it, d);
    EXPECT_TRUE(any) << "type " << type;
    it.SyncFlag = SyncDeleted;
    for (DateTime d = D(2004, 1, 1); d < D(2004, 3, 1); d = d.AddDays(1))
      ASSERT_FALSE(OnDay(it, d)) << "type " << type;
  }
}

TEST(OccursTest, MalformedRulesGiveNoOccurrence) {
  const DateTime rs = D(2004, 1, 1), re = D(2004, 12, 31, 23, 59, 0);
  const DateTime s = D(2004, 1, 1, 9, 0, 0), e = D(2004, 1, 1, 10, 0, 0);
  struct Row {
    const char* name;
    int type, x, y, z;
  } rows[] = {
      {"daily interval 0", 1, 0, 0, 0},       {"daily interval -1", 1, -1, 0, 0},
      {"weekly interval 0", 2, 0, 127, 0},    {"weekly empty mask", 2, 1, 0, 0},
      {"monthly interval 0", 3, 0, 5, 0},     {"monthly day 0", 3, 1, 0, 0},
      {"monthly day 32", 3, 1, 32, 0},        {"nth interval 0", 4, 0, 1, 4},
      {"nth ordinal 0", 4, 1, 0, 4},          {"nth ordinal 6", 4, 1, 6, 2},
      {"nth selector 0", 4, 1, 1, 0},         {"nth selector 11", 4, 1, 1, 11},
      {"yearly month 13", 5, 13, 1, 0},       {"yearly month 0", 5, 0, 1, 0},
      {"yearly nth month 13", 6, 13, 1, 4},   {"yearly nth ordinal 6", 6, 3, 6, 2},
      {"unknown type 7", 7, 1, 1, 1},         {"negative type", -1, 1, 1, 1},
  };
  for (const auto& r : rows) {
    const ScheduleItem it = MakeRule(r.type, r.x, r.y, r.z, rs, re, s, e);
    for (DateTime d = rs; d <= re; d = d.AddDays(1)) {
      ASSERT_FALSE(OnDay(it, d)) << r.name << " on " << d.ToString();
      ASSERT_FALSE(reference::Occurs(it, d, d.AddDays(1))) << r.name;
    }
  }
}

TEST(OccursTest, RepeatingItemUsesTimesOfDayOnly) {
  // A two-day span that repeats is cut to one day per occurrence.
  ScheduleItem it = MakeRule(1, 7, 0, 0, D(2004, 3, 1), D(2004, 4, 30, 23, 59, 0),
                             D(2001, 5, 5, 22, 0, 0), D(2001, 5, 7, 23, 0, 0));
  EXPECT_TRUE(Occurs(it, D(2004, 3, 8, 22, 30, 0), D(2004, 3, 8, 23, 0, 0)));
  EXPECT_FALSE(Occurs(it, D(2004, 3, 8, 21, 0, 0), D(2004, 3, 8, 22, 0, 0)));
  EXPECT_FALSE(OnDay(it, D(2004, 3, 9)));
  // Type 1 tests starts only up to RepEnd.
  it.RepEnd = D(2004, 3, 8, 21, 59, 0);
  EXPECT_FALSE(OnDay(it, D(2004, 3, 8)));
  EXPECT_TRUE(OnDay(it, D(2004, 3, 1)));
}

struct Golden {
  std::string name;
  ScheduleItem item;
  DateTime scan_from, scan_to;
  std::vector<std::string> expected;
};

DateTime ParseDate(const std::string& d, const std::string& t = "00:00:00") {
  int y, m, dd, h, mi, s;
  if (std::sscanf(d.c_str(), "%d/%d/%d", &y, &m, &dd) != 3 ||
      std::sscanf(t.c_str(), "%d:%d:%d", &h, &mi, &s) != 3)
    return DateTime::Invalid();
  return DateTime::FromParts(y, m, dd, h, mi, s);
}

std::vector<Golden> LoadGolden() {
  std::vector<Golden> out;
  const char* dir = std::getenv("KV_GOLDEN_DIR");
  if (!dir) return out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".golden") continue;
    Golden g;
    g.name = entry.path().stem().string();
    g.item.SyncFlag = SyncClean;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream ls(line);
      std::string key;
      ls >> key;
      if (key == "rule") {
        ls >> g.item.RepType >> g.item.RepX >> g.item.RepY >> g.item.RepZ;
      } else if (key == "range") {
        std::string a, b;
        ls >> a >> b;
        g.item.RepStart = ParseDate(a);
        g.item.RepEnd = ParseDate(b, "23:59:00");
      } else if (key == "time") {
        std::string a, b;
        ls >> a >> b;
        g.item.Start = ParseDate("2000/01/01", a);
        g.item.End = ParseDate("2000/01/01", b);
      } else if (key == "scan") {
        std::string a, b;
        ls >> a >> b;
        g.scan_from = ParseDate(a);
        g.scan_to = ParseDate(b);
      } else {
        g.expected.push_back(ParseDate(key).ToString().substr(0, 10));
      }
    }
    out.push_back(g);
  }
  return out;
}

TEST(OccursTest, GoldenFiles) {
  const auto goldens = LoadGolden();
  ASSERT_GE(goldens.size(), 10u) << "golden files not found (KV_GOLDEN_DIR)";
  for (const auto& g : goldens) {
    SCOPED_TRACE(g.name);
    std::vector<std::string> fast, slow;
    for (DateTime d = g.scan_from; d <= g.scan_to; d = d.AddDays(1)) {
      if (OnDay(g.item, d)) fast.push_back(d.ToString().substr(0, 10));
      if (reference::Occurs(g.item, d, d.AddDays(1))) slow.push_back(d.ToString().substr(0, 10));
    }
    EXPECT_EQ(fast, g.expected);
    EXPECT_EQ(slow, g.expected);
  }
}

TEST(NextAlarmTimeTest, DailyRuleAroundTheAlarmMinute) {
  const ScheduleItem daily = [] {
    ScheduleItem it = MakeRule(1, 1, 0, 0, D(2004, 1, 1), D(2010, 12, 31, 23, 59, 0),
                               D(2004, 1, 1, 9, 0, 0), D(2004, 1, 1, 10, 0, 0));
    it.Alarm = 600;
    return it;
  }();
  EXPECT_EQ(NextAlarmTime(daily, D(2004, 3, 10, 8, 49, 30)), D(2004, 3, 10, 8, 50, 0));
  EXPECT_EQ(NextAlarmTime(daily, D(2004, 3, 10, 8, 50, 10)), D(2004, 3, 11, 8, 50, 0));
  EXPECT_EQ(NextAlarmTime(daily, D(2010, 12, 31, 8, 50, 10)), NoAlarmMarker());
  // Before the rule begins the first occurrence is found.
  EXPECT_EQ(NextAlarmTime(daily, D(2003, 6, 1, 12, 0, 0)), D(2004, 1, 1, 8, 50, 0));
}

TEST(NextAlarmTimeTest, SingleItems) {
  ScheduleItem it = Single(D(2004, 3, 10, 8, 0, 0), D(2004, 3, 10, 10, 0, 0));
  it.Alarm = 0;
  EXPECT_EQ(NextAlarmTime(it, D(2004, 3, 10, 9, 0, 0)), NoAlarmMarker());
  EXPECT_EQ(NextAlarmTime(it, D(2004, 3, 10, 7, 0, 0)), D(2004, 3, 10, 8, 0, 0));
  EXPECT_EQ(NextAlarmTime(it, D(2004, 3, 10, 8, 0, 0)), NoAlarmMarker());  // this minute is past
  EXPECT_EQ(NextAlarmTime(it, D(2003, 1, 1, 7, 0, 0)), D(2004, 3, 10, 8, 0, 0));
  it.Alarm = 86400;
  EXPECT_EQ(NextAlarmTime(it, D(2004, 3, 8, 7, 0, 0)), D(2004, 3, 9, 8, 0, 0));

  ScheduleItem multi = Single(D(2004, 3, 9, 8, 0, 0), D(2004, 3, 11, 18, 0, 0));
  multi.Alarm = 0;
  EXPECT_EQ(NextAlarmTime(multi, D(2004, 3, 10, 7, 0, 0)), D(2004, 3, 10, 8, 0, 0));
  EXPECT_EQ(NextAlarmTime(multi, D(2004, 3, 10, 9, 0, 0)), NoAlarmMarker());
}

TEST(NextAlarmTimeTest, YearlyAndBrokenRulesEnd) {
  ScheduleItem birthday = MakeRule(5, 2, 29, 0, D(2000, 1, 1), D(2030, 12, 31, 23, 59, 0),
                                   D(2000, 1, 1, 7, 30, 0), D(2000, 1, 1, 8, 0, 0));
  birthday.Alarm = 3600;
  EXPECT_EQ(NextAlarmTime(birthday, D(2004, 3, 1, 0, 0, 0)), D(2005, 3, 1, 6, 30, 0));
  EXPECT_EQ(NextAlarmTime(birthday, D(2007, 3, 2, 0, 0, 0)), D(2008, 2, 29, 6, 30, 0));

  // Never-occurring and endless rules must still come back.
  ScheduleItem broken = birthday;
  broken.RepEnd = DateTime::Invalid();
  EXPECT_EQ(NextAlarmTime(broken, D(2004, 3, 1)), NoAlarmMarker());
  broken = birthday;
  broken.RepX = 0;  // weekly with interval 0
  broken.RepType = 2;
  EXPECT_EQ(NextAlarmTime(broken, D(2004, 3, 1)), NoAlarmMarker());
  ScheduleItem single = Single(DateTime::Invalid(), DateTime::Invalid());
  single.Alarm = 0;
  EXPECT_EQ(NextAlarmTime(single, D(2004, 3, 1)), NoAlarmMarker());
  EXPECT_EQ(NextAlarmTime(birthday, DateTime::Invalid()), NoAlarmMarker());
}

TEST(NextAlarmTimeTest, UsesTheInstalledClock) {
  test::ScopedClock clock(D(2004, 3, 10, 8, 49, 30));
  ScheduleItem it = Single(D(2004, 3, 10, 9, 0, 0), D(2004, 3, 10, 9, 0, 0));
  it.Alarm = 600;
  EXPECT_EQ(NextAlarmTime(it), D(2004, 3, 10, 8, 50, 0));
  clock.Advance(60);
  EXPECT_EQ(NextAlarmTime(it), NoAlarmMarker());
}

}  // namespace
