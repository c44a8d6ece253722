#include "edit/ItemForm.h"

#include <charconv>
#include <limits>

#include "view/Texts.h"

namespace kv {

namespace {

const std::string& UnitText(int i) {
  static const std::string t[3] = {Cp932(kAlarmUnitTexts[0]), Cp932(kAlarmUnitTexts[1]),
                                   Cp932(kAlarmUnitTexts[2])};
  return t[i];
}

// The calendar day at `seconds` past its midnight; invalid stays invalid.
DateTime OnDay(const DateTime& day, int64_t seconds) {
  if (!day.IsValid()) return DateTime::Invalid();
  return day.DateOnly().AddSeconds(seconds);
}

// True for a byte no text field may hold. CP932 trail bytes never fall in
// these ranges, so a byte scan is exact.
bool IsControl(unsigned char c, bool multi_line) {
  if (multi_line && (c == '\n' || c == '\r' || c == '\t')) return false;
  return c < 0x20 || c == 0x7F;
}

std::optional<std::string> CheckText(const std::string& cp932, std::string_view name,
                                     std::size_t limit, bool multi_line) {
  for (unsigned char c : cp932)
    if (IsControl(c, multi_line))
      return Cp932(std::string(name) + "に使用できない制御文字が含まれています。");
  if (cp932.size() > limit)
    return Cp932(std::string(name) + "が長すぎます（" + std::to_string(limit) + " バイトまで）。");
  return std::nullopt;
}

}  // namespace

ItemForm DefaultForm(const DateTime& day, const DateTime& slot) {
  const DateTime d = day.IsValid() ? day.DateOnly() : day;
  ItemForm f;
  f.day_type = 0;
  f.start_date = f.end_date = d;
  if (d.IsValid()) {
    const bool in_day = slot.IsValid() && slot.DateOnly() == d;
    f.start_time = in_day ? slot : d.AddSeconds(9 * 3600);
    f.end_time = f.start_time.AddSeconds(3600);
    f.end_date = f.end_time.DateOnly();
  } else {
    f.start_time = f.end_time = d;
  }
  f.alarm_on = 0;
  f.alarm_number = 5;
  f.alarm_unit = UnitText(0);
  f.repeat = RepeatRule{0, 1, 1, 1, d, d};
  return f;
}

ItemForm FormFromItem(const ScheduleItem& item) {
  ItemForm f;
  f.subject = item.Subject;
  f.desc = item.Desc;
  f.place = item.Place;
  f.execute = item.Execute;
  f.private_flag = item.Private;
  f.day_type = item.Type;
  f.color = item.Color;
  f.start_date = f.start_time = item.Start;
  f.end_date = f.end_time = item.End;
  if (item.Alarm == -1) {
    f.alarm_on = 0;
    f.alarm_number = 5;
    f.alarm_unit = UnitText(0);
  } else {
    const AlarmLead lead = AlarmLeadFromSeconds(item.Alarm);
    f.alarm_on = 1;
    f.alarm_number = lead.count;
    f.alarm_unit = UnitText(static_cast<int>(lead.unit));
  }
  if (item.RepType != 0)
    f.repeat = RepeatRule{item.RepType, item.RepX, item.RepY, item.RepZ, item.RepStart, item.RepEnd};
  else
    f.repeat = RepeatRule{0, 1, 1, 1, item.Start, item.Start};
  return f;
}

FormInstants BuildInstants(const ItemForm& form) {
  FormInstants r;
  if (form.day_type == 1) {
    r.start = OnDay(form.start_date, 0);
    r.end = OnDay(form.end_date, 86399);
  } else {
    r.start = form.start_time.IsValid() ? OnDay(form.start_date, form.start_time.SecondsOfDay())
                                        : DateTime::Invalid();
    r.end = form.end_time.IsValid() ? OnDay(form.end_date, form.end_time.SecondsOfDay())
                                    : DateTime::Invalid();
  }
  r.range_start = OnDay(form.repeat.RepStart, 0);
  r.range_end = OnDay(form.repeat.RepEnd, 23 * 3600 + 59 * 60);
  return r;
}

std::optional<int32_t> AlarmSeconds(int64_t number, std::string_view unit_cp932) {
  static constexpr int64_t kFactor[3] = {60, 3600, 86400};
  for (int i = 0; i < 3; ++i) {
    if (unit_cp932 != UnitText(i)) continue;
    // |number| <= 2^31 keeps the product inside int64.
    if (number > std::numeric_limits<int32_t>::max() || number < std::numeric_limits<int32_t>::min())
      return std::nullopt;
    const int64_t s = number * kFactor[i];
    if (s > std::numeric_limits<int32_t>::max() || s < std::numeric_limits<int32_t>::min())
      return std::nullopt;
    // -1 means "no alarm"; no unit can produce it.
    return static_cast<int32_t>(s);
  }
  return std::nullopt;
}

std::optional<std::string> CheckFormFields(const ItemForm& form, FormField* which) {
  auto fail = [&](FormField f, std::string m) {
    if (which) *which = f;
    return std::optional<std::string>(std::move(m));
  };
  if (auto m = CheckText(form.subject, field::Subject, kMaxLineBytes, false))
    return fail(FormField::Subject, *m);
  if (auto m = CheckText(form.place, field::Place, kMaxLineBytes, false))
    return fail(FormField::Place, *m);
  if (form.alarm_on == 1) {
    bool known = false;
    for (int i = 0; i < 3; ++i) known = known || form.alarm_unit == UnitText(i);
    if (!known)
      return fail(FormField::Alarm,
                  Cp932("アラームの単位は「分前」「時間前」「日前」のいずれかを選んでください。"));
    if (!AlarmSeconds(form.alarm_number, form.alarm_unit))
      return fail(FormField::Alarm, Cp932("アラームの時間が長すぎます。24855 日以内で指定してください。"));
  }
  if (auto m = CheckText(form.desc, field::Desc, kMaxDescBytes, true))
    return fail(FormField::Desc, *m);
  if (auto m = CheckText(form.execute, field::Execute, kMaxExecuteBytes, false))
    return fail(FormField::Execute, *m);
  return std::nullopt;
}

std::string UnrepresentableMessage(std::string_view field_utf8) {
  return Cp932(std::string(field_utf8) + "に保存できない文字（絵文字など）が含まれています。");
}

std::optional<int64_t> ParseDialogInt(std::string_view t) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!t.empty() && blank(t.front())) t.remove_prefix(1);
  while (!t.empty() && blank(t.back())) t.remove_suffix(1);
  if (t.empty()) return std::nullopt;
  std::string_view digits = t;
  bool negative = false;
  if (digits.front() == '+' || digits.front() == '-') {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  for (char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (!negative && v > kMax) return std::nullopt;
  if (negative && v > kMax + 1) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

}  // namespace kv
