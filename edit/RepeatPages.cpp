#include "edit/RepeatPages.h"

#include <algorithm>
#include <cstdio>

#include "view/Texts.h"

namespace kv {

namespace {

template <size_t N>
int PositionOf(const std::array<std::string_view, N>& list, std::string_view t) {
  for (size_t i = 0; i < N; ++i)
    if (list[i] == t) return static_cast<int>(i) + 1;
  return 0;
}

template <size_t N>
std::string TextOf(const std::array<std::string_view, N>& list, int32_t value) {
  if (value < 1 || value > static_cast<int32_t>(N)) return {};
  return std::string(list[value - 1]);
}

// The same day a year later (28 February for 29 February); invalid where
// the calendar ends.
DateTime OneYearOn(const DateTime& d) {
  if (!d.IsValid()) return d;
  const int y = d.Year() + 1, m = d.Month();
  return DateTime::FromDate(y, m, std::min(d.Day(), DaysInMonth(y, m)));
}

std::string DayText(const DateTime& d) {
  if (!d.IsValid()) return "?";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d.Year(), d.Month(), d.Day());
  return buf;
}

std::string Num(int64_t v) { return std::to_string(v); }

using Pages = RepeatPagesData;
using Rule = RepeatRule;
constexpr PageField kDaily[] = {{1080, 1, 32767, &Pages::daily_interval, &Rule::RepX}};
constexpr PageField kWeekly[] = {{1081, 1, 32767, &Pages::weekly_interval, &Rule::RepX}};
constexpr PageField kMonthDay[] = {{1089, 1, 32767, &Pages::month_day_interval, &Rule::RepX},
                                   {1090, 1, 31, &Pages::month_day, &Rule::RepY}};
constexpr PageField kMonthWeekday[] = {{1091, 1, 32767, &Pages::month_weekday_interval, &Rule::RepX}};
// The day is checked before the month on this page.
constexpr PageField kYearDay[] = {{1098, 1, 31, &Pages::year_day, &Rule::RepY},
                                  {1097, 1, 12, &Pages::year_day_month, &Rule::RepX}};
constexpr PageField kYearWeekday[] = {{1097, 1, 12, &Pages::year_weekday_month, &Rule::RepX}};

}  // namespace

int OrdinalValue(std::string_view t) { return PositionOf(kOrdinalTexts, t); }
int SelectorValue(std::string_view t) { return PositionOf(kSelectorTexts, t); }

const PageField* PageFields(int page, int* n) {
  switch (page) {
    case PageDaily: *n = 1; return kDaily;
    case PageWeekly: *n = 1; return kWeekly;
    case PageMonthDay: *n = 2; return kMonthDay;
    case PageMonthWeekday: *n = 1; return kMonthWeekday;
    case PageYearDay: *n = 2; return kYearDay;
    case PageYearWeekday: *n = 1; return kYearWeekday;
    default: *n = 0; return nullptr;
  }
}

std::string RangeMessage(int64_t lo, int64_t hi) {
  return Cp932(Num(lo) + " から " + Num(hi) + " までの整数を入力してください。");
}
std::string NotIntegerMessage() { return Cp932("整数を入力してください。"); }

RepeatPagesData LoadRepeatPages(const RepeatRule& rule, int* first_page) {
  RepeatPagesData p;
  p.range_start.fill(rule.RepStart);
  // A rule chosen for an item that had none runs for a year at first.
  p.range_end.fill(rule.RepType == 0 ? OneYearOn(rule.RepStart) : rule.RepEnd);
  // Pages are numbered by the RepType they give.
  const int page = rule.RepType > PageNone && rule.RepType < kRepeatPageCount ? rule.RepType : PageNone;
  int n = 0;
  const PageField* fields = PageFields(page, &n);
  for (int i = 0; i < n; ++i) p.*fields[i].value = rule.*fields[i].part;
  auto combos = [&](std::string& ord, std::string& sel) {
    // Values outside the tables leave the defaults.
    if (auto t = TextOf(kOrdinalTexts, rule.RepY); !t.empty()) ord = t;
    if (auto t = TextOf(kSelectorTexts, rule.RepZ); !t.empty()) sel = t;
  };
  switch (page) {
    case PageWeekly:
      for (int i = 0; i < 7; ++i) p.weekdays[i] = (rule.RepY >> i) & 1;
      break;
    case PageMonthWeekday: combos(p.month_ordinal, p.month_selector); break;
    case PageYearWeekday: combos(p.year_ordinal, p.year_selector); break;
    default: break;
  }
  if (first_page) *first_page = page;
  return p;
}

RepeatRule RepeatResult(const RepeatPagesData& p, int shown, const RepeatRule& previous) {
  RepeatRule r = previous;
  if (shown <= PageNone || shown >= kRepeatPageCount) {
    r.RepType = 0;
    return r;
  }
  r.RepType = shown;
  r.RepStart = p.range_start[shown];
  r.RepEnd = p.range_end[shown];
  r.RepY = 0;
  r.RepZ = 0;
  int n = 0;
  const PageField* fields = PageFields(shown, &n);
  for (int i = 0; i < n; ++i) r.*fields[i].part = static_cast<int32_t>(p.*fields[i].value);
  // A typed text found in neither table keeps the previous value.
  auto combos = [&](const std::string& ord, const std::string& sel) {
    const int y = OrdinalValue(ord), z = SelectorValue(sel);
    r.RepY = y ? y : previous.RepY;
    r.RepZ = z ? z : previous.RepZ;
  };
  switch (shown) {
    case PageWeekly:
      for (int i = 0; i < 7; ++i)
        if (p.weekdays[i]) r.RepY |= 1 << i;
      break;
    case PageMonthWeekday: combos(p.month_ordinal, p.month_selector); break;
    case PageYearWeekday: combos(p.year_ordinal, p.year_selector); break;
    default: break;
  }
  return r;
}

std::string DescribeRule(const RepeatRule& r) {
  auto ordinal = [](int32_t v) {
    std::string t = TextOf(kOrdinalTexts, v);
    return t.empty() ? "第" + Num(v) + "(不明)" : t;
  };
  auto selector = [](int32_t v) {
    std::string t = TextOf(kSelectorTexts, v);
    return t.empty() ? "(不明な曜日 " + Num(v) + ")" : t;
  };
  std::string s;
  switch (r.RepType) {
    case 0: return "繰り返しません。";
    case 1: s = Num(r.RepX) + " 日ごと"; break;
    case 2: {
      s = Num(r.RepX) + " 週ごと";
      std::string days;
      for (int i = 0; i < 7; ++i)
        if ((r.RepY >> i) & 1) days += (days.empty() ? "" : "・") + std::string(kWeekdayTexts[i]);
      s += days.empty() ? "（曜日の指定なし）" : "（" + days + "）";
      break;
    }
    case 3: s = Num(r.RepX) + " か月ごと " + Num(r.RepY) + " 日"; break;
    case 4: s = Num(r.RepX) + " か月ごと " + ordinal(r.RepY) + " " + selector(r.RepZ); break;
    case 5: s = "毎年 " + Num(r.RepX) + " 月 " + Num(r.RepY) + " 日"; break;
    case 6: s = "毎年 " + Num(r.RepX) + " 月 " + ordinal(r.RepY) + " " + selector(r.RepZ); break;
    default: return "不明な繰り返し（種類 " + Num(r.RepType) + "）";
  }
  return s + "\n期間: " + DayText(r.RepStart) + " ～ " + DayText(r.RepEnd);
}

}  // namespace kv
