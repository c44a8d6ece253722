#pragma once
// Dates and spans as OLE Automation day counts (days since 1899-12-30,
// time of day as the fraction), with a validity status.
//
// Internally a DateTime holds whole seconds on a linear time line, so
// arithmetic and comparisons are exact; the day count in the OLE form
// (negative days before 1899-12-30 with the fraction counted forward from
// the day's start) is produced and accepted at the edges (store, wire).
#include <cstdint>
#include <string>

namespace kv {

class DateSpan {
 public:
  enum Status { valid = 0, invalid = 1 };

  DateSpan() = default;
  explicit DateSpan(double days, Status st = valid) : days_(days), status_(st) {}
  // days + hours/24 + minutes/1440 + seconds/86400; invalid outside
  // -3615897 .. +3615897 days.
  static DateSpan FromParts(double days, double hours, double minutes, double seconds);
  static DateSpan Days(int64_t d) { return DateSpan(static_cast<double>(d)); }
  static DateSpan Seconds(int64_t s) { return DateSpan(static_cast<double>(s) / 86400.0); }

  double TotalDays() const { return days_; }
  int64_t TotalSeconds() const;
  Status GetStatus() const { return status_; }
  bool IsValid() const { return status_ == valid; }

  bool operator>(const DateSpan& o) const {
    return status_ == valid && o.status_ == valid && days_ > o.days_;
  }
  bool operator<(const DateSpan& o) const {
    return status_ == valid && o.status_ == valid && days_ < o.days_;
  }

 private:
  double days_ = 0.0;
  Status status_ = valid;
};

class DateTime {
 public:
  enum Status { valid = 0, invalid = 1, null = 2 };

  static constexpr int64_t kSecondsPerDay = 86400;

  // 1899-12-30 00:00:00, valid.
  DateTime() = default;

  // Year 100..9999, month 1..12, day 1..31 (a day beyond the month's
  // length rolls into the next month), hour 0..23, minute and second 0..59.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0);
  static DateTime FromDate(int year, int month, int day) { return FromParts(year, month, day); }
  // From the OLE Automation day count, rounded to the second.
  static DateTime FromOle(double ole);
  // Seconds on the linear time line relative to 1899-12-30 00:00:00.
  static DateTime FromLinearSeconds(int64_t s) {
    DateTime d;
    d.secs_ = s;
    return d;
  }
  static DateTime Null() {
    DateTime d;
    d.status_ = null;
    return d;
  }
  static DateTime Invalid() {
    DateTime d;
    d.status_ = invalid;
    return d;
  }

  Status GetStatus() const { return status_; }
  bool IsValid() const { return status_ == valid; }

  // The OLE Automation day count (the stored and wire form).
  double OleValue() const;
  int64_t LinearSeconds() const { return secs_; }
  // Whole days on the linear line (floor), i.e. the calendar day.
  int64_t DayNumber() const { return FloorDiv(secs_, kSecondsPerDay); }
  // Seconds since the day's midnight.
  int SecondsOfDay() const { return static_cast<int>(secs_ - DayNumber() * kSecondsPerDay); }
  // Midnight of the day; a date that is not valid keeps its status, so an
  // unreadable clock never turns into a real day.
  DateTime DateOnly() const {
    if (status_ != valid) return *this;
    return FromLinearSeconds(DayNumber() * kSecondsPerDay);
  }

  // Components; -1 when not valid or outside years 100..9999.
  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const;
  int Minute() const;
  int Second() const;
  // 1 = Sunday .. 7 = Saturday; -1 when not valid.
  int DayOfWeek() const;

  // All components at once; false when not splittable.
  bool Split(int& y, int& mo, int& d, int& h, int& mi, int& s) const;

  bool operator<(const DateTime& o) const { return Ordered(o) && secs_ < o.secs_; }
  bool operator>(const DateTime& o) const { return Ordered(o) && secs_ > o.secs_; }
  bool operator<=(const DateTime& o) const { return Ordered(o) && secs_ <= o.secs_; }
  bool operator>=(const DateTime& o) const { return Ordered(o) && secs_ >= o.secs_; }
  bool operator==(const DateTime& o) const {
    if (status_ != o.status_) return false;
    if (status_ == null) return true;
    return status_ == valid && secs_ == o.secs_;
  }
  bool operator!=(const DateTime& o) const { return !(*this == o); }

  DateTime operator+(const DateSpan& s) const;
  DateTime operator-(const DateSpan& s) const;
  DateTime& operator+=(const DateSpan& s) { return *this = *this + s; }
  DateTime& operator-=(const DateSpan& s) { return *this = *this - s; }
  DateSpan operator-(const DateTime& o) const;

  DateTime AddSeconds(int64_t s) const { return FromLinearSeconds(secs_ + s); }
  DateTime AddDays(int64_t d) const { return FromLinearSeconds(secs_ + d * kSecondsPerDay); }

  // "YYYY/MM/DD HH:MM:SS" for diagnostics and tests; "(invalid)"/"(null)".
  std::string ToString() const;

  static int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
  }

 private:
  bool Ordered(const DateTime& o) const { return status_ == valid && o.status_ == valid; }

  int64_t secs_ = 0;
  Status status_ = valid;
};

// Days since 1899-12-30 of a proleptic Gregorian date (no range checks).
int64_t DaysFromCivil(int y, int m, int d);
void CivilFromDays(int64_t days, int& y, int& m, int& d);

// Calendar functions. Weekdays 0 = Sunday .. 6 = Saturday.
int DayOfWeekOf(int y, int m, int d);
int DaysInMonth(int y, int m);
int WeekRowsInMonth(int y, int m);
DateTime PrevMonthAnchor(int y, int m);
DateTime NextMonthAnchor(int y, int m);
DateTime GridDayToDate(int y, int m, int d);
DateTime OffsetDayToDate(int y, int m, int d, int offset);
int NthWeekdayInMonth(int y, int m, int n, int w);

}  // namespace kv
