// The recurrence editor's values: loading a rule onto its page and the
// rule the showing page gives back.
#include <gtest/gtest.h>

#include <random>

#include "edit/RepeatPages.h"
#include "model/Text.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using namespace kv::test;

// A rule as the editor itself writes it for each kind.
RepeatRule RandomRule(std::mt19937& rng, int type) {
  auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  RepeatRule r;
  r.RepType = type;
  r.RepStart = D(in(1990, 2030), in(1, 12), in(1, 28));
  r.RepEnd = r.RepStart.AddDays(in(0, 4000)).AddSeconds(86340);
  switch (type) {
    case 1: r = {1, in(1, 32767), 0, 0, r.RepStart, r.RepEnd}; break;
    case 2: r = {2, in(1, 32767), in(0, 127), 0, r.RepStart, r.RepEnd}; break;
    case 3: r = {3, in(1, 32767), in(1, 31), 0, r.RepStart, r.RepEnd}; break;
    case 4: r = {4, in(1, 32767), in(1, 5), in(1, 10), r.RepStart, r.RepEnd}; break;
    case 5: r = {5, in(1, 12), in(1, 31), 0, r.RepStart, r.RepEnd}; break;
    case 6: r = {6, in(1, 12), in(1, 5), in(1, 10), r.RepStart, r.RepEnd}; break;
  }
  return r;
}

TEST(RepeatPages, EveryRuleComesBackFromItsOwnPage) {
  std::mt19937 rng(4);
  for (int i = 0; i < 6000; ++i) {
    const int type = 1 + i % 6;
    const RepeatRule rule = RandomRule(rng, type);
    int page = -1;
    const RepeatPagesData pages = LoadRepeatPages(rule, &page);
    ASSERT_EQ(page, type);
    const RepeatRule previous{0, 1, 1, 1, {}, {}};
    ASSERT_EQ(RepeatResult(pages, page, previous), rule) << i;
    // Every other page starts on the same range.
    for (int p = 0; p < kRepeatPageCount; ++p) {
      ASSERT_EQ(pages.range_start[p], rule.RepStart);
      ASSERT_EQ(pages.range_end[p], rule.RepEnd);
    }
  }
}

TEST(RepeatPages, DefaultsAndTheShowingPageDecides) {
  const RepeatRule none{0, 1, 1, 1, D(2004, 3, 3), D(2004, 3, 3)};
  int page = -1;
  RepeatPagesData p = LoadRepeatPages(none, &page);
  EXPECT_EQ(page, PageNone);
  EXPECT_EQ(p.daily_interval, 1);
  EXPECT_EQ(p.weekdays, (std::array<bool, 7>{}));
  EXPECT_EQ(p.month_day, 1);
  EXPECT_EQ(p.month_ordinal, "第1");
  EXPECT_EQ(p.month_selector, "毎日");
  EXPECT_EQ(p.year_day_month, 1);
  EXPECT_EQ(p.year_selector, "毎日");
  EXPECT_EQ(RepeatResult(p, PageNone, none), none);
  // A first rule runs for a year from its start, on every page.
  for (int pg = PageDaily; pg < kRepeatPageCount; ++pg) {
    EXPECT_EQ(p.range_start[pg], D(2004, 3, 3));
    EXPECT_EQ(p.range_end[pg], D(2005, 3, 3));
  }
  EXPECT_EQ(LoadRepeatPages(RepeatRule{0, 1, 1, 1, D(2004, 2, 29, 9), D(2004, 2, 29, 9)}, nullptr)
                .range_end[PageYearDay],
            D(2005, 2, 28));

  // From 日 to 週, Monday and Friday ticked.
  p.daily_interval = 4;
  p.weekly_interval = 2;
  p.weekdays[1] = p.weekdays[5] = true;
  p.range_end[PageWeekly] = D(2004, 5, 1);
  EXPECT_EQ(RepeatResult(p, PageWeekly, none), (RepeatRule{2, 2, 34, 0, D(2004, 3, 3), D(2004, 5, 1)}));

  // なし keeps the other five fields; nothing showing counts as なし.
  const RepeatRule monthly{3, 2, 20, 0, D(2004, 1, 15), D(2004, 12, 31)};
  EXPECT_EQ(RepeatResult(LoadRepeatPages(monthly, nullptr), PageNone, monthly),
            (RepeatRule{0, 2, 20, 0, D(2004, 1, 15), D(2004, 12, 31)}));
  EXPECT_EQ(RepeatResult(p, -1, monthly).RepType, 0);

  // An unknown kind opens on なし with nothing loaded.
  EXPECT_EQ(LoadRepeatPages(RepeatRule{9, 5, 5, 5, {}, {}}, &page).daily_interval, 1);
  EXPECT_EQ(page, PageNone);
}

TEST(RepeatPages, WeekdayCombosByExactText) {
  const RepeatRule last_sunday{6, 11, 5, 4, D(2004, 1, 1), D(2010, 1, 1)};
  int page = -1;
  RepeatPagesData p = LoadRepeatPages(last_sunday, &page);
  EXPECT_EQ(page, PageYearWeekday);
  EXPECT_EQ(p.year_ordinal, "最終");
  EXPECT_EQ(p.year_selector, "日曜日");
  EXPECT_EQ(RepeatResult(p, page, last_sunday), last_sunday);

  // Values outside the tables load as the defaults.
  p = LoadRepeatPages(RepeatRule{4, 1, 7, 11, {}, {}}, &page);
  EXPECT_EQ(p.month_ordinal, "第1");
  EXPECT_EQ(p.month_selector, "毎日");

  // A typed text found in neither table keeps the previous value.
  const RepeatRule fresh{0, 1, 1, 1, D(2004, 1, 1), D(2004, 1, 1)};
  p = LoadRepeatPages(fresh, &page);
  p.month_ordinal = "第5";
  p.month_selector = "火曜日";
  EXPECT_EQ(RepeatResult(p, PageMonthWeekday, fresh), (RepeatRule{4, 1, 1, 6, D(2004, 1, 1), D(2005, 1, 1)}));
  p.year_ordinal = "第3";
  p.year_selector = "火曜";
  EXPECT_EQ(RepeatResult(p, PageYearWeekday, RepeatRule{5, 2, 3, 9, {}, {}}).RepZ, 9);
  EXPECT_EQ(OrdinalValue("最終"), 5);
  EXPECT_EQ(SelectorValue("土曜日"), 10);
  EXPECT_EQ(SelectorValue(" 土曜日"), 0);
}

TEST(RepeatPages, FieldRangesAndMessages) {
  int n = 0;
  const PageField* f = PageFields(PageYearDay, &n);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(f[0].control, 1098) << "the day is checked before the month";
  EXPECT_EQ(f[0].hi, 31);
  EXPECT_EQ(f[1].control, 1097);
  EXPECT_EQ(f[1].hi, 12);
  for (int page : {PageDaily, PageWeekly, PageMonthDay, PageMonthWeekday}) {
    f = PageFields(page, &n);
    ASSERT_GE(n, 1);
    EXPECT_EQ(f[0].lo, 1);
    EXPECT_EQ(f[0].hi, 32767);
  }
  EXPECT_EQ(PageFields(PageNone, &n), nullptr);
  EXPECT_EQ(RangeMessage(1, 32767), J("1 から 32767 までの整数を入力してください。"));
  EXPECT_EQ(NotIntegerMessage(), J("整数を入力してください。"));
}

TEST(RepeatPages, RulesInWords) {
  EXPECT_EQ(DescribeRule(RepeatRule{2, 1, 34, 0, D(2004, 3, 3), D(2004, 12, 31, 23, 59, 0)}),
            "1 週ごと（月曜日・金曜日）\n期間: 2004/03/03 ～ 2004/12/31");
  EXPECT_EQ(DescribeRule(RepeatRule{6, 11, 4, 8, D(2004, 1, 1), D(2005, 1, 1)}).substr(0, 30),
            std::string("毎年 11 月 第4 木曜日\n期間").substr(0, 30));
  EXPECT_EQ(DescribeRule(RepeatRule{0, 1, 1, 1, {}, {}}), "繰り返しません。");
  EXPECT_NE(DescribeRule(RepeatRule{4, 1, 9, 0, {}, {}}).find("不明"), std::string::npos);
  // Everything it says can be shown and stored.
  for (int t = 0; t <= 7; ++t)
    EXPECT_TRUE(text::IsRepresentable(DescribeRule(RepeatRule{t, 3, 5, 4, D(2004, 1, 1), D(2004, 2, 1)})));
}

}  // namespace
}  // namespace kv
