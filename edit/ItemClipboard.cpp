#include "edit/ItemClipboard.h"

namespace kv {

ItemClipboard& ItemClipboard::Instance() {
  static ItemClipboard clipboard;
  return clipboard;
}

void ItemClipboard::Put(const ScheduleItem& from, int32_t user_id) {
  // A fresh record: identity, sync state, alarm instant and rectangles
  // never travel with a copy.
  ScheduleItem copy;
  copy.UserID = user_id;
  copy.Subject = from.Subject;
  copy.Desc = from.Desc;
  copy.Place = from.Place;
  copy.Execute = from.Execute;
  copy.Private = from.Private;
  copy.RepType = from.RepType;
  copy.RepEnd = from.RepEnd;
  copy.RepStart = from.RepStart;
  copy.RepX = from.RepX;
  copy.RepY = from.RepY;
  copy.RepZ = from.RepZ;
  copy.Alarm = from.Alarm;
  copy.Type = from.Type;
  copy.Start = from.Start;
  copy.End = from.End;
  copy.Color = from.Color;
  item_ = std::move(copy);
}

}  // namespace kv
