#pragma once
// The data fields of the item edit dialog, and the rules that turn them
// into a schedule item and back. No widgets: the dialogs and the commands
// share these so the command logic can be tested without a window.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/DateTime.h"
#include "model/ScheduleItem.h"

namespace kv {

// The recurrence fields as the edit dialog holds them.
struct RepeatRule {
  int32_t RepType = 0;
  int32_t RepX = 1;
  int32_t RepY = 1;
  int32_t RepZ = 1;
  DateTime RepStart;
  DateTime RepEnd;
  bool operator==(const RepeatRule&) const = default;
};

struct ItemForm {
  // Texts as CP932 bytes; the dialog converts at its edge.
  std::string subject;
  std::string place;
  std::string desc;
  std::string execute;
  int32_t day_type = -1;  // 0 通常, 1 終日, -1 no button set
  int32_t private_flag = 0;
  uint32_t color = 0;  // 0x00BBGGRR
  // Each instant twice: the date is taken from the date field, the time of
  // day from the time field.
  DateTime start_date, start_time;
  DateTime end_date, end_time;
  int32_t alarm_on = 0;
  int64_t alarm_number = 0;  // wider than the lead time, so overflow is seen
  std::string alarm_unit;    // CP932 text of the unit combo, possibly typed
  RepeatRule repeat;
  bool operator==(const ItemForm&) const = default;
};

// Field names as the dialog labels them (UTF-8), for messages.
namespace field {
inline constexpr std::string_view Subject = "件名";
inline constexpr std::string_view Place = "場所";
inline constexpr std::string_view Desc = "内容";
inline constexpr std::string_view Execute = "実行ファイル";
inline constexpr std::string_view Alarm = "アラーム";
}  // namespace field

// The unit combo's texts in list order, as UTF-8.
inline constexpr std::string_view kAlarmUnitTexts[3] = {"分前", "時間前", "日前"};

// The most bytes a text field may hold. Far below the record limit of
// server and wire, so a saved item can always be sent.
inline constexpr std::size_t kMaxLineBytes = 1024;
inline constexpr std::size_t kMaxDescBytes = 65536;
// The longest Execute text that is started at all; a longer one is
// refused at OK rather than failing at its start minute.
inline constexpr std::size_t kMaxExecuteBytes = 519;

// Defaults for a new item on `day` (its time of day is dropped): one hour
// from `slot` when that is a time on the same day (a pressed half-hour
// slot), else from 9:00.
ItemForm DefaultForm(const DateTime& day, const DateTime& slot = DateTime::Invalid());
// The dialog filled from a stored or fetched item.
ItemForm FormFromItem(const ScheduleItem& item);

struct FormInstants {
  DateTime start, end;              // timed: date + time of day; all-day: 00:00:00 .. 23:59:59
  DateTime range_start, range_end;  // 00:00:00 and 23:59:00 of their days
};
FormInstants BuildInstants(const ItemForm& form);

// Seconds for a count in one of the unit texts (CP932); nullopt when the
// text is not one of the three or the product leaves the int32 range.
std::optional<int32_t> AlarmSeconds(int64_t number, std::string_view unit_cp932);

// What the dialog refuses at OK besides a non-integer alarm number: a
// control character (line breaks and tabs are allowed in the description
// only), a text longer than its limit, a typed unit that is not one of the
// three, a lead time beyond 32-bit seconds. The CP932 message naming the
// field, or nullopt when the form is acceptable.
enum class FormField { Subject, Place, Alarm, Desc, Execute };
std::optional<std::string> CheckFormFields(const ItemForm& form, FormField* which = nullptr);
// The refusal of a text CP932 cannot hold, naming the field (UTF-8 name).
std::string UnrepresentableMessage(std::string_view field_utf8);

// An integer as a dialog field holds it: optional blanks around an
// optional sign and decimal digits. nullopt for anything else or a value
// beyond int64.
std::optional<int64_t> ParseDialogInt(std::string_view text);

}  // namespace kv
