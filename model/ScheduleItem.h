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

struct ScheduleItem {
  // Screen rectangles of the last drawing; never stored or sent.
  std::array<CellRect, kCellRectSlots> CellRects{};
  DateTime Index;
  int32_t SyncFlag = 0;
  DateTime Updated;
  std::string Subject;  // texts hold CP932 bytes
  std::string Place;
  std::string Execute;
  int32_t Private = 0;
  uint32_t Color = 0;  // 0x00BBGGRR
  int32_t UserID = 0;
  int32_t Type = 0;  // 0 timed, 1 all-day
  DateTime Start;
  DateTime End;
  int32_t Alarm = -1;  // lead seconds; -1 = none
  DateTime AlarmTime;
  std::string Desc;
  std::string Attr1, Attr2, Attr3, Attr4, Attr5;
  int32_t RepType = 0;
  int32_t RepX = 0;
  int32_t RepY = 0;
  int32_t RepZ = 0;
  DateTime RepStart;
  DateTime RepEnd;

  // Records the rectangle in the first free slot; false when all are used.
  bool AddCellRect(const CellRect& r);
  // Bytes of all nine texts.
  std::size_t TextBytes() const;
  void ClearCellRects() {
    static_assert(std::is_trivially_copyable_v<CellRect>);
    std::memset(static_cast<void*>(CellRects.data()), 0, sizeof CellRects);
  }
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
