// National holidays from the rules: the law's own examples and edges, and
// the substitute holidays checked against a second, forward reading of
// their rule over every day the module covers.
#include "model/Holidays.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kv {
namespace {

std::string Name(int y, int m, int d) {
  const char* n = HolidayNameUtf8(y, m, d);
  return n ? n : "";
}

TEST(Holidays, ExamplesAndEdgesOfTheRules) {
  struct Case {
    int y, m, d;
    const char* name;  // "" for a working day
  };
  const Case cases[] = {
      {1949, 1, 1, "元日"},           {1948, 11, 23, ""},  // before the first year covered
      {1999, 1, 15, "成人の日"},      {2000, 1, 10, "成人の日"},  {2000, 1, 15, ""},
      {1966, 2, 11, ""},              {1967, 2, 11, "建国記念の日"},
      {1988, 4, 29, "天皇誕生日"},    {1989, 4, 29, "みどりの日"}, {2007, 4, 29, "昭和の日"},
      {2018, 12, 23, "天皇誕生日"},   {2018, 12, 24, "振替休日"},  {2019, 12, 23, ""},
      {2019, 2, 23, ""},              {2020, 2, 23, "天皇誕生日"}, {2020, 2, 24, "振替休日"},
      {1973, 4, 30, "振替休日"},      // the first substitute day
      {1988, 5, 4, "国民の休日"},     {1997, 5, 4, ""},     // a Sunday between two holidays, before 2007
      {1992, 5, 4, "振替休日"},       {2007, 5, 4, "みどりの日"}, {2008, 5, 6, "振替休日"},
      {2009, 9, 22, "国民の休日"},    {2019, 4, 30, "国民の休日"}, {2019, 5, 1, "天皇の即位の日"},
      {2019, 5, 2, "国民の休日"},     {2019, 5, 6, "振替休日"},   {2019, 10, 22, "即位礼正殿の儀"},
      {1959, 4, 10, "皇太子明仁親王の結婚の儀"}, {1989, 2, 24, "昭和天皇の大喪の礼"},
      {1990, 11, 12, "即位礼正殿の儀"}, {1993, 6, 9, "皇太子徳仁親王の結婚の儀"},
      {1995, 7, 20, ""},              {1996, 7, 20, "海の日"},    {2003, 7, 21, "海の日"},
      {2020, 7, 23, "海の日"},        {2020, 7, 24, "スポーツの日"}, {2020, 7, 20, ""},
      {2020, 8, 10, "山の日"},        {2020, 8, 11, ""},    {2020, 10, 12, ""},
      {2021, 7, 22, "海の日"},        {2021, 7, 23, "スポーツの日"}, {2021, 8, 8, "山の日"},
      {2021, 8, 9, "振替休日"},       {2022, 10, 10, "スポーツの日"}, {2019, 10, 14, "体育の日"},
      {1965, 9, 15, ""},              {1966, 9, 15, "敬老の日"},  {2003, 9, 15, "敬老の日"},
      {1966, 10, 10, "体育の日"},     {2016, 8, 11, "山の日"},    {2015, 8, 11, ""},
      // Equinoxes: the formula, truncating toward zero (1970 would be a
      // day late with flooring), and published days of recent years.
      {1970, 3, 21, "春分の日"},      {1970, 3, 22, ""},    {1970, 9, 23, "秋分の日"},
      {2012, 9, 22, "秋分の日"},      {2016, 3, 20, "春分の日"},  {2016, 3, 21, "振替休日"},
      {2024, 3, 20, "春分の日"},      {2024, 9, 22, "秋分の日"},  {2024, 9, 23, "振替休日"},
      {2025, 9, 23, "秋分の日"},      {2026, 3, 20, "春分の日"},
      {2150, 11, 3, "文化の日"},      {2151, 1, 1, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Name(c.y, c.m, c.d), c.name) << c.y << "/" << c.m << "/" << c.d;
  // The CP932 entry point gives the same names.
  EXPECT_EQ(HolidayName(DateTime::FromParts(2019, 4, 30, 13, 5, 0)), "\x8D\x91\x96\xAF\x82\xCC\x8B\x78\x93\xFA");
  EXPECT_EQ(HolidayName(DateTime::Invalid()), "");
}

TEST(Holidays, EverySundayHolidayGivesOneSubstituteDayAsTheRuleReadsForward) {
  // Forward: from each Sunday holiday since 1973/4/12, the next day off
  // (before 2007 only the Monday, when it is a working day).
  std::set<int64_t> expected;
  const int64_t first = DaysFromCivil(kFirstHolidayYear, 1, 1);
  const int64_t last = DaysFromCivil(kLastHolidayYear, 12, 31);
  const int64_t law = DaysFromCivil(1973, 4, 12), chain = DaysFromCivil(2007, 1, 1);
  auto named = [](int64_t day) {
    int y, m, d;
    CivilFromDays(day, y, m, d);
    const std::string n = Name(y, m, d);
    return !n.empty() && n != "振替休日" && n != "国民の休日";
  };
  int per_year_max = 0, per_year_min = 99, count = 0, year = kFirstHolidayYear;
  for (int64_t day = first; day <= last; ++day) {
    int y, m, d;
    CivilFromDays(day, y, m, d);
    if (y != year) {
      per_year_max = std::max(per_year_max, count);
      per_year_min = std::min(per_year_min, count);
      count = 0;
      year = y;
    }
    count += !Name(y, m, d).empty();
    if (DayOfWeekOf(y, m, d) != 0 || !named(day) || day < law) continue;
    int64_t next = day + 1;
    if (day + 1 < chain) {
      if (!named(next)) expected.insert(next);
      continue;
    }
    while (named(next)) ++next;
    expected.insert(next);
  }
  std::set<int64_t> got;
  for (int64_t day = first; day <= last + 7; ++day) {
    int y, m, d;
    CivilFromDays(day, y, m, d);
    if (Name(y, m, d) == "振替休日") got.insert(day);
  }
  EXPECT_EQ(got, expected);
  // Sensible years throughout: 1949 had 9 holidays, no year reaches 25.
  EXPECT_EQ(per_year_min, 9);
  EXPECT_LT(per_year_max, 25);
}

}  // namespace
}  // namespace kv
