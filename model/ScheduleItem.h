#pragma once
// The one record type: a schedule entry as stored, sent and drawn.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "model/DateTime.h"

namespace kv {

enum SyncFlag : int32_t {
  SyncPending = 1,
  SyncEndOfList = 2,  // wire only
  SyncClean = 3,
  SyncDeleted = 4,
  SyncResend = 5,
};

// 2004-08-15 00:00:00: "no further alarm".
DateTime NoAlarmMarker();

// Plain integers: a cleared rectangle is all zero bytes.
struct CellRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool IsEmpty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool Contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const CellRect&) const = default;
};

inline constexpr int kCellRectSlots = 42;

// What drawing, hit testing, sorting, the occurrence test and the alarm
// tick need of an item: everything but the long texts.
struct ItemShape {
  DateTime Index;
  int32_t SyncFlag = 0;
  std::string Subject;  // texts hold CP932 bytes
  int32_t Private = 0;
  uint32_t Color = 0;  // 0x00BBGGRR
  int32_t UserID = 0;
  int32_t Type = 0;  // 0 timed, 1 all-day
  DateTime Start;
  DateTime End;
  int32_t Alarm = -1;  // lead seconds; -1 = none
  DateTime AlarmTime;
  int32_t RepType = 0;
  int32_t RepX = 0;
  int32_t RepY = 0;
  int32_t RepZ = 0;
  DateTime RepStart;
  DateTime RepEnd;
};

struct ScheduleItem : ItemShape {
  DateTime Updated;
  std::string Place;
  std::string Execute;
  std::string Desc;
  std::string Attr1, Attr2, Attr3, Attr4, Attr5;

  // Bytes of all nine texts.
  std::size_t TextBytes() const;
};

// How the edit dialog shows an alarm lead time: the largest of days,
// hours and minutes that divides it exactly.
enum class AlarmUnit { Minutes = 0, Hours = 1, Days = 2 };
struct AlarmLead {
  int count;
  AlarmUnit unit;
  bool operator==(const AlarmLead&) const = default;
};
AlarmLead AlarmLeadFromSeconds(int32_t seconds);
int32_t AlarmLeadToSeconds(const AlarmLead& lead);

}  // namespace kv
