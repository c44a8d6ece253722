#pragma once
// iCalendar (RFC 5545) files in and out. Exports say exactly what the item
// does or leave it out; imports take nothing that would change on the way.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/ScheduleItem.h"

namespace kv::ical {

// RFC 5545 text (UTF-8, CRLF) with one VEVENT per item; items with SyncFlag 4 are left out.
std::string Export(const std::vector<ScheduleItem>& items);

struct Imported {
  std::vector<ScheduleItem> items;       // ready to store: CP932 texts, Index 0 (the caller gives it)
  std::vector<std::string> uids;         // the UID of each item, same order
  std::vector<std::string> problems;     // one UTF-8 line per event that was not taken, naming it and why
};
Imported Import(std::string_view ics_text);

struct ImportOptions {
  // Characters CP932 lacks become 〓 instead of refusing the event.
  bool replace_unmappable = false;
  // Wall-clock zone the times are brought into; empty: the system's.
  std::string zone;
  // When set, receives the version of each item taken, same order: text
  // that sorts as SEQUENCE, then LAST-MODIFIED, do.
  std::vector<std::string>* versions = nullptr;
};
Imported Import(std::string_view ics_text, const ImportOptions& options);

struct ExportOptions {
  // Olson name of the zone the wall-clock times are in; empty: the system's;
  // "floating" writes floating local times.
  std::string zone;
};
std::string Export(const std::vector<ScheduleItem>& items, const ExportOptions& options);

inline constexpr std::size_t kMaxFileBytes = 64u << 20;

// The UID Export gives the item.
std::string UidOf(const ScheduleItem& item);
// The Olson name of the system's zone, or empty when none is known.
std::string SystemZoneName();

// CSS3 colour names (RFC 7986 COLOR).
std::string NearestCssColor(uint32_t colorref);
bool CssColor(std::string_view name, uint32_t& colorref);

}  // namespace kv::ical
