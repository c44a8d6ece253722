#include "edit/ItemClipboard.h"

namespace kv {

ItemClipboard& ItemClipboard::Instance() {
  static ItemClipboard clipboard;
  return clipboard;
}

void ItemClipboard::Put(const ScheduleItem& from, int32_t user_id) {
  item_.UserID = user_id;
  item_.Subject = from.Subject;
  item_.Desc = from.Desc;
  item_.Place = from.Place;
  item_.Execute = from.Execute;
  item_.Private = from.Private;
  item_.RepType = from.RepType;
  item_.RepEnd = from.RepEnd;
  item_.RepStart = from.RepStart;
  item_.RepX = from.RepX;
  item_.RepY = from.RepY;
  item_.RepZ = from.RepZ;
  item_.Alarm = from.Alarm;
  item_.Type = from.Type;
  item_.Start = from.Start;
  item_.End = from.End;
  item_.Color = from.Color;
}

}  // namespace kv
