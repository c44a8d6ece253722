#include "model/ScheduleItem.h"

namespace kv {

DateTime NoAlarmMarker() { return DateTime::FromParts(2004, 8, 15, 0, 0, 0); }

std::size_t ScheduleItem::TextBytes() const {
  return Subject.size() + Place.size() + Execute.size() + Desc.size() + Attr1.size() + Attr2.size() +
         Attr3.size() + Attr4.size() + Attr5.size();
}

AlarmLead AlarmLeadFromSeconds(int32_t seconds) {
  if (seconds % 86400 == 0) return {seconds / 86400, AlarmUnit::Days};
  if (seconds % 3600 == 0) return {seconds / 3600, AlarmUnit::Hours};
  return {seconds / 60, AlarmUnit::Minutes};
}

int32_t AlarmLeadToSeconds(const AlarmLead& lead) {
  switch (lead.unit) {
    case AlarmUnit::Days: return lead.count * 86400;
    case AlarmUnit::Hours: return lead.count * 3600;
    case AlarmUnit::Minutes: break;
  }
  return lead.count * 60;
}

}  // namespace kv
