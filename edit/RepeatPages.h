#pragma once
// What the seven pages of the recurrence editor hold, how they are filled
// from a rule and which rule the showing page gives. No widgets: the
// editor moves these values to and from its controls.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "edit/ItemForm.h"

namespace kv {

enum RepeatPage : int {
  PageNone = 0,
  PageDaily,
  PageWeekly,
  PageMonthDay,
  PageMonthWeekday,
  PageYearDay,
  PageYearWeekday,
  kRepeatPageCount
};

// Tab texts in tab order (UTF-8).
inline constexpr std::array<std::string_view, kRepeatPageCount> kRepeatPageTitles = {
    "なし", "日", "週", "月(日指定)", "月(曜日指定)", "年(日指定)", "年(曜日指定)"};
// Combo lists in list order; the position + 1 is the stored value.
inline constexpr std::array<std::string_view, 5> kOrdinalTexts = {"第1", "第2", "第3", "第4",
                                                                  "最終"};
inline constexpr std::array<std::string_view, 10> kSelectorTexts = {
    "毎日", "平日", "週末", "日曜日", "月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日"};
// Weekday check boxes, Sunday first; bit i of the mask.
inline constexpr std::array<std::string_view, 7> kWeekdayTexts = {
    "日曜日", "月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日"};

struct RepeatPagesData {
  int64_t daily_interval = 1;
  int64_t weekly_interval = 1;
  std::array<bool, 7> weekdays{};
  int64_t month_day_interval = 1;
  int64_t month_day = 1;
  int64_t month_weekday_interval = 1;
  std::string month_ordinal = "第1";  // combo texts, UTF-8, possibly typed
  std::string month_selector = "毎日";
  int64_t year_day_month = 1;
  int64_t year_day = 1;
  int64_t year_weekday_month = 1;
  std::string year_ordinal = "第1";
  std::string year_selector = "毎日";
  // Every page but なし has its own range pickers; all start alike.
  std::array<DateTime, kRepeatPageCount> range_start{};
  std::array<DateTime, kRepeatPageCount> range_end{};
};

// Defaults, the range on every page, the rule's values on its page; the
// page to show first (なし for an unknown type).
RepeatPagesData LoadRepeatPages(const RepeatRule& rule, int* first_page);

// 1-based position of an exact combo text; 0 when it is not in the list.
int OrdinalValue(std::string_view utf8);
int SelectorValue(std::string_view utf8);

// The integer fields of one page, in the order they are checked, with
// their ranges, where the editor holds them and which part of the rule
// they are. The editor keeps the user on the page while one fails.
struct PageField {
  int control;  // which control of the page (its resource number)
  int64_t lo, hi;
  int64_t RepeatPagesData::*value;
  int32_t RepeatRule::*part;
};
// Fields of `page` as {control, lo, hi}; count in *n.
const PageField* PageFields(int page, int* n);

// "%1 から %2 までの整数を入力してください。" filled in, or
// "整数を入力してください。"; CP932.
std::string RangeMessage(int64_t lo, int64_t hi);
std::string NotIntegerMessage();

// The rule when OK is pressed on `shown_page` (-1: none showing): the
// page's values, or `previous` where a combo text is in neither table.
RepeatRule RepeatResult(const RepeatPagesData& pages, int shown_page, const RepeatRule& previous);

// The rule in words for the read-only dialog (UTF-8).
std::string DescribeRule(const RepeatRule& rule);

}  // namespace kv
