// Finding own items by a word: the folding of widths and case, and which
// items are found, under which date and in which order.
#include "edit/ItemSearch.h"

#include <gtest/gtest.h>

#include "model/Recurrence.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using test::D;
using test::J;
using test::MakeRule;

TEST(ItemSearch, WidthsAndCaseFoldButHiraganaAndKatakanaStayApart) {
  // Every Latin letter and digit, in both widths and cases.
  const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", digits = "0123456789";
  for (std::size_t i = 0; i < upper.size(); ++i) {
    const std::string a(1, upper[i]), b(1, static_cast<char>(upper[i] + 32));
    const std::u16string want = FoldForSearch(b);
    EXPECT_EQ(FoldForSearch(a), want) << a;
    EXPECT_EQ(FoldForSearch(J(std::string("\xEF\xBC") + static_cast<char>(0xA1 + i))), want) << a;  // Ａ..
    EXPECT_EQ(FoldForSearch(J(std::string("\xEF\xBD") + static_cast<char>(0x81 + i))), want) << b;  // ａ..
  }
  for (std::size_t i = 0; i < digits.size(); ++i)
    EXPECT_EQ(FoldForSearch(J(std::string("\xEF\xBC") + static_cast<char>(0x90 + i))),
              FoldForSearch(std::string(1, digits[i])));
  // Half-width katakana, their voiced marks joined.
  EXPECT_EQ(FoldForSearch(J("ｶﾚﾝﾀﾞｰ ﾊﾟｿｺﾝ ｳﾞｨﾗ ﾎﾞｰﾄﾞ")), FoldForSearch(J("カレンダー パソコン ヴィラ ボード")));
  EXPECT_EQ(FoldForSearch(J("ｱﾞ")).size(), 2u) << "a mark no kana takes stays a character";
  EXPECT_NE(FoldForSearch(J("かれんだー")), FoldForSearch(J("カレンダー")));
  EXPECT_EQ(FoldForSearch(J("　")), FoldForSearch(" "));
  // A broken byte is one unknown character, never part of a neighbour.
  EXPECT_EQ(FoldForSearch("a\x81"), (std::u16string{u'a', u'\uFFFD'}));
}

ScheduleItem Item(const std::string& subject, DateTime start, int n) {
  ScheduleItem it;
  it.Index = D(2004, 1, 1).AddSeconds(n);
  it.Subject = subject;
  it.Start = start;
  it.End = start.AddSeconds(3600);
  it.SyncFlag = SyncClean;
  it.RepX = it.RepY = it.RepZ = 1;
  it.RepStart = start.DateOnly();
  it.RepEnd = start.DateOnly().AddSeconds(86340);
  return it;
}

TEST(ItemSearch, FindsOwnLiveItemsInDateOrderUnderTheirNextOrLastDay) {
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("s.db")), 1);
  const DateTime today = D(2005, 3, 9);
  ScheduleItem weekly = MakeRule(2, 1, 4, 0, D(2005, 1, 1), D(2005, 12, 31, 23, 59, 0),
                                 D(2005, 1, 4, 10, 0, 0), D(2005, 1, 4, 11, 0, 0));  // Tuesdays
  weekly.Subject = J("定例会議");
  weekly.Index = D(2004, 1, 1, 0, 0, 1);
  weekly.SyncFlag = SyncClean;
  ScheduleItem ended = MakeRule(2, 1, 4, 0, D(2004, 1, 1), D(2004, 6, 30, 23, 59, 0),
                                D(2004, 1, 6, 9, 0, 0), D(2004, 1, 6, 9, 30, 0));
  ended.Subject = J("旧定例会議");
  ended.Index = D(2004, 1, 1, 0, 0, 2);
  ended.SyncFlag = SyncClean;
  ScheduleItem place = Item("lunch", D(2005, 3, 8, 12, 0, 0), 3);
  place.Place = J("会議室Ａ");
  ScheduleItem desc = Item("memo", D(2005, 4, 1, 8, 0, 0), 4);
  desc.Desc = J("議題:\n次回の会議");
  ScheduleItem gone = Item(J("会議（削除済み）"), D(2005, 3, 10, 9, 0, 0), 5);
  gone.SyncFlag = SyncDeleted;
  ScheduleItem allday = Item(J("会議の日"), D(2005, 3, 15), 6);
  allday.Type = 1;
  ScheduleItem timed_same_day = Item(J("会議後の片付け"), D(2005, 3, 15, 17, 0, 0), 7);
  for (const ScheduleItem& it : {weekly, ended, place, desc, gone, allday, timed_same_day})
    ASSERT_EQ(store.InsertItem(it), 1);

  ItemSearch search;
  ASSERT_TRUE(search.Load(store, today));
  EXPECT_EQ(search.Size(), 6u) << "the tombstone is not searched";
  std::size_t total = 0;
  const auto hits = search.Find(J("会議"), 500, &total);
  EXPECT_EQ(total, 6u);
  std::vector<std::pair<DateTime, std::string>> got;
  for (const auto& h : hits) got.emplace_back(h.date, h.subject);
  // Within 15 March the all-day item comes first, then 10:00, then 17:00.
  const std::vector<std::pair<DateTime, std::string>> want = {
      {D(2004, 6, 29), J("旧定例会議")},    // none left: its last Tuesday
      {D(2005, 3, 8), "lunch"},         // found by its place
      {D(2005, 3, 15), J("会議の日")},
      {D(2005, 3, 15), J("定例会議")},  // the next Tuesday from today
      {D(2005, 3, 15), J("会議後の片付け")},
      {D(2005, 4, 1), "memo"},          // found by its description
  };
  EXPECT_EQ(got, want);
  EXPECT_EQ(hits[3].time, "10:00");
  EXPECT_EQ(hits[2].time, "");
  EXPECT_EQ(hits[1].place, J("会議室Ａ"));
  EXPECT_EQ(hits[3].index, weekly.Index);
  // Full-width letters find half-width ones; an empty word finds nothing;
  // the limit keeps the earliest.
  EXPECT_EQ(search.Find(J("室ａ")).size(), 1u);
  EXPECT_TRUE(search.Find("").empty());
  const auto first_two = search.Find(J("会議"), 2, &total);
  ASSERT_EQ(first_two.size(), 2u);
  EXPECT_EQ(total, 6u);
  EXPECT_EQ(first_two[1].subject, "lunch");
}

}  // namespace
}  // namespace kv
