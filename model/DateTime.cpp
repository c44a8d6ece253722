#include "model/DateTime.h"

#include <cmath>
#include <cstdio>

namespace kv {

namespace {
constexpr int64_t kEpochFrom1970 = 25569;  // 1970-01-01 minus 1899-12-30
constexpr double kMinOle = -657434.0;      // 0100-01-01
constexpr double kMaxOle = 2958466.0;      // 10000-01-01 (exclusive)
constexpr double kSpanLimit = 3615897.0;
}  // namespace

int64_t DaysFromCivil(int y, int m, int d) {
  // H. Hinnant's days_from_civil, shifted to the OLE epoch.
  const int64_t yy = static_cast<int64_t>(y) - (m <= 2 ? 1 : 0);
  const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
  const int64_t yoe = yy - era * 400;
  const int64_t mp = (m + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kEpochFrom1970;
}

void CivilFromDays(int64_t days, int& y, int& m, int& d) {
  const int64_t z = days - kEpochFrom1970 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

DateSpan DateSpan::FromParts(double days, double hours, double minutes, double seconds) {
  const double v = days + hours / 24.0 + minutes / 1440.0 + seconds / 86400.0;
  if (!(v >= -kSpanLimit && v <= kSpanLimit)) return DateSpan(v, invalid);
  return DateSpan(v);
}

int64_t DateSpan::TotalSeconds() const { return std::llround(days_ * 86400.0); }

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return Invalid();
  }
  // Days past the month's end roll forward (31 April is 1 May).
  const int64_t days = DaysFromCivil(year, month, 1) + (day - 1);
  DateTime r = FromLinearSeconds(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
  if (r.Year() < 0) return Invalid();
  return r;
}

DateTime DateTime::FromOle(double ole) {
  if (!(ole > kMinOle - 1.0 && ole < kMaxOle)) return Invalid();
  if (ole >= 0) return FromLinearSeconds(std::llround(ole * 86400.0));
  // Before the epoch the integral part is the day and the fraction still
  // counts forward from that day's midnight.
  const double whole = std::trunc(ole);
  const double frac = whole - ole;
  return FromLinearSeconds(static_cast<int64_t>(whole) * kSecondsPerDay +
                           std::llround(frac * 86400.0));
}

double DateTime::OleValue() const {
  const int64_t day = DayNumber();
  const int sod = SecondsOfDay();
  if (day >= 0) return static_cast<double>(secs_) / 86400.0;
  return static_cast<double>(day) - static_cast<double>(sod) / 86400.0;
}

bool DateTime::Split(int& y, int& mo, int& d, int& h, int& mi, int& s) const {
  if (status_ != valid) return false;
  const int64_t day = DayNumber();
  CivilFromDays(day, y, mo, d);
  if (y < 100 || y > 9999) return false;
  const int sod = SecondsOfDay();
  h = sod / 3600;
  mi = (sod / 60) % 60;
  s = sod % 60;
  return true;
}

int DateTime::Year() const {
  int y, mo, d, h, mi, s;
  return Split(y, mo, d, h, mi, s) ? y : -1;
}
int DateTime::Month() const {
  int y, mo, d, h, mi, s;
  return Split(y, mo, d, h, mi, s) ? mo : -1;
}
int DateTime::Day() const {
  int y, mo, d, h, mi, s;
  return Split(y, mo, d, h, mi, s) ? d : -1;
}
int DateTime::Hour() const {
  int y, mo, d, h, mi, s;
  return Split(y, mo, d, h, mi, s) ? h : -1;
}
int DateTime::Minute() const {
  int y, mo, d, h, mi, s;
  return Split(y, mo, d, h, mi, s) ? mi : -1;
}
int DateTime::Second() const {
  int y, mo, d, h, mi, s;
  return Split(y, mo, d, h, mi, s) ? s : -1;
}

int DateTime::DayOfWeek() const {
  if (status_ != valid) return -1;
  // Day 0 (1899-12-30) was a Saturday.
  int64_t w = (DayNumber() + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

DateTime DateTime::operator+(const DateSpan& s) const {
  return FromLinearSeconds(secs_ + s.TotalSeconds());
}
DateTime DateTime::operator-(const DateSpan& s) const {
  return FromLinearSeconds(secs_ - s.TotalSeconds());
}
DateSpan DateTime::operator-(const DateTime& o) const {
  return DateSpan(static_cast<double>(secs_ - o.secs_) / 86400.0);
}

std::string DateTime::ToString() const {
  if (status_ == null) return "(null)";
  int y, mo, d, h, mi, s;
  if (!Split(y, mo, d, h, mi, s)) return "(invalid)";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return buf;
}

int DayOfWeekOf(int y, int m, int d) {
  static const int t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 1 || m > 12) return -1;
  if (m < 3) y -= 1;
  int r = (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
  return r < 0 ? r + 7 : r;
}

int DaysInMonth(int y, int m) {
  static const int len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  if (m == 2 && y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) return 29;
  return len[m - 1];
}

int WeekRowsInMonth(int y, int m) { return (DayOfWeekOf(y, m, 1) + DaysInMonth(y, m) - 1) / 7 + 1; }

DateTime PrevMonthAnchor(int y, int m) {
  return m == 1 ? DateTime::FromDate(y - 1, 12, 20) : DateTime::FromDate(y, m - 1, 20);
}

DateTime NextMonthAnchor(int y, int m) {
  return m == 12 ? DateTime::FromDate(y + 1, 1, 10) : DateTime::FromDate(y, m + 1, 10);
}

DateTime GridDayToDate(int y, int m, int d) {
  const int len = DaysInMonth(y, m);
  if (d >= 1 && d <= len) return DateTime::FromDate(y, m, d);
  if (d <= 0) {
    const int py = m == 1 ? y - 1 : y;
    const int pm = m == 1 ? 12 : m - 1;
    return DateTime::FromDate(py, pm, d + DaysInMonth(py, pm));
  }
  const int ny = m == 12 ? y + 1 : y;
  const int nm = m == 12 ? 1 : m + 1;
  return DateTime::FromDate(ny, nm, d - len);
}

DateTime OffsetDayToDate(int y, int m, int d, int offset) { return GridDayToDate(y, m, d + offset); }

int NthWeekdayInMonth(int y, int m, int n, int w) {
  const int len = DaysInMonth(y, m);
  if (n == 5) {
    for (int d = len; d >= 1; --d)
      if (DayOfWeekOf(y, m, d) == w) return d;
    return -1;
  }
  int count = 0;
  for (int d = 1; d <= len; ++d) {
    if (DayOfWeekOf(y, m, d) == w && ++count == n) return d;
  }
  return -1;
}

}  // namespace kv
