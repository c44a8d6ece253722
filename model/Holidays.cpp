#include "model/Holidays.h"

#include <string_view>
#include <unordered_map>

#include "model/Text.h"

namespace kv {

namespace {

// Every name the rules can give, converted once.
constexpr const char* kNames[] = {
    "元日", "成人の日", "建国記念の日", "天皇誕生日", "春分の日", "昭和の日", "みどりの日",
    "憲法記念日", "こどもの日", "海の日", "山の日", "敬老の日", "秋分の日", "体育の日",
    "スポーツの日", "文化の日", "勤労感謝の日", "皇太子明仁親王の結婚の儀", "昭和天皇の大喪の礼",
    "即位礼正殿の儀", "皇太子徳仁親王の結婚の儀", "天皇の即位の日", "振替休日", "国民の休日",
};

const std::string& Cp932Of(const char* utf8) {
  static const std::unordered_map<std::string_view, std::string> names = [] {
    std::unordered_map<std::string_view, std::string> m;
    for (const char* n : kNames) m.emplace(n, text::FromUtf8(n).value_or(std::string()));
    return m;
  }();
  return names.at(utf8);
}

int Equinox(int y, double before_1980, double until_2099, double after_2099) {
  if (y < 1900 || y > kLastHolidayYear) return 0;
  const double base = y < 1980 ? before_1980 : y < 2100 ? until_2099 : after_2099;
  const int shift = y < 1980 ? 1983 : 1980;
  // Both divisions truncate toward zero, as the formula's int() does:
  // flooring the negative quarter before 1980 moves the day in many years.
  return static_cast<int>(base + 0.242194 * (y - 1980) - (y - shift) / 4);
}

// Holidays named by the law itself, without the two derived kinds.
const char* Named(int y, int m, int d) {
  if (y < kFirstHolidayYear || y > kLastHolidayYear) return nullptr;
  auto monday = [&](int n) { return NthWeekdayInMonth(y, m, n, 1) == d; };
  switch (m) {
    case 1:
      if (d == 1) return "元日";
      if (y <= 1999 ? d == 15 : monday(2)) return "成人の日";
      break;
    case 2:
      if (y >= 1967 && d == 11) return "建国記念の日";
      if (y >= 2020 && d == 23) return "天皇誕生日";
      if (y == 1989 && d == 24) return "昭和天皇の大喪の礼";
      break;
    case 3:
      if (d == VernalEquinoxDay(y)) return "春分の日";
      break;
    case 4:
      if (d == 29) return y <= 1988 ? "天皇誕生日" : y <= 2006 ? "みどりの日" : "昭和の日";
      if (y == 1959 && d == 10) return "皇太子明仁親王の結婚の儀";
      break;
    case 5:
      if (d == 3) return "憲法記念日";
      if (d == 4 && y >= 2007) return "みどりの日";
      if (d == 5) return "こどもの日";
      if (y == 2019 && d == 1) return "天皇の即位の日";
      break;
    case 6:
      if (y == 1993 && d == 9) return "皇太子徳仁親王の結婚の儀";
      break;
    case 7:
      // Moved for the games of 2020, held in 2021.
      if (y == 2020) return d == 23 ? "海の日" : d == 24 ? "スポーツの日" : nullptr;
      if (y == 2021) return d == 22 ? "海の日" : d == 23 ? "スポーツの日" : nullptr;
      if (y >= 2003 ? monday(3) : y >= 1996 && d == 20) return "海の日";
      break;
    case 8:
      if (y == 2020) return d == 10 ? "山の日" : nullptr;
      if (y == 2021) return d == 8 ? "山の日" : nullptr;
      if (y >= 2016 && d == 11) return "山の日";
      break;
    case 9:
      if (d == AutumnalEquinoxDay(y)) return "秋分の日";
      if (y >= 2003 ? monday(3) : y >= 1966 && d == 15) return "敬老の日";
      break;
    case 10:
      if (y >= 1966 && y <= 1999 && d == 10) return "体育の日";
      if (y >= 2000 && y <= 2019 && monday(2)) return "体育の日";
      if (y >= 2022 && monday(2)) return "スポーツの日";
      if (y == 2019 && d == 22) return "即位礼正殿の儀";
      break;
    case 11:
      if (d == 3) return "文化の日";
      if (d == 23) return "勤労感謝の日";
      if (y == 1990 && d == 12) return "即位礼正殿の儀";
      break;
    case 12:
      if (y >= 1989 && y <= 2018 && d == 23) return "天皇誕生日";
      break;
    default:
      break;
  }
  return nullptr;
}

bool NamedOn(int64_t day) {
  int y, m, d;
  CivilFromDays(day, y, m, d);
  return Named(y, m, d) != nullptr;
}

bool Sunday(int64_t day) {
  int y, m, d;
  CivilFromDays(day, y, m, d);
  return DayOfWeekOf(y, m, d) == 0;
}

// A Sunday holiday's day off moves to a later day.
bool Substitute(int64_t day) {
  static const int64_t first_sunday = DaysFromCivil(1973, 4, 12);
  static const int64_t chain_from = DaysFromCivil(2007, 1, 1);
  if (day < chain_from) return day - 1 >= first_sunday && Sunday(day - 1) && NamedOn(day - 1);
  // Since 2007: the first day after it that is not a holiday itself.
  for (int64_t p = day - 1; NamedOn(p); --p)
    if (Sunday(p)) return true;
  return false;
}

// A day between two holidays.
bool Between(int64_t day) {
  static const int64_t from = DaysFromCivil(1986, 1, 1);
  static const int64_t any_weekday_from = DaysFromCivil(2007, 1, 1);
  if (day < from || !NamedOn(day - 1) || !NamedOn(day + 1)) return false;
  return day >= any_weekday_from || !Sunday(day);
}

}  // namespace

int VernalEquinoxDay(int year) { return Equinox(year, 20.8357, 20.8431, 21.8510); }
int AutumnalEquinoxDay(int year) { return Equinox(year, 23.2588, 23.2488, 24.2488); }

const char* HolidayNameUtf8(int year, int month, int day) {
  if (year < kFirstHolidayYear || year > kLastHolidayYear) return nullptr;
  if (const char* n = Named(year, month, day)) return n;
  const int64_t dn = DaysFromCivil(year, month, day);
  if (Substitute(dn)) return "振替休日";
  if (Between(dn)) return "国民の休日";
  return nullptr;
}

std::string HolidayName(const DateTime& day) {
  if (!day.IsValid()) return {};
  const char* n = HolidayNameUtf8(day.Year(), day.Month(), day.Day());
  return n ? Cp932Of(n) : std::string();
}

}  // namespace kv
