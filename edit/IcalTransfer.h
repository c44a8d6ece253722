#pragma once
// iCalendar files and the user's store: what an import adds or changes,
// and which items an export writes. No widgets.
#include <string>
#include <vector>

#include "ical/Ical.h"
#include "store/ItemStore.h"

namespace kv::ical {

// A file read for the import preview.
struct ImportPreview {
  int events = 0;  // VEVENTs in the file, taken or not
  Imported taken;
  std::vector<std::string> versions;
};
ImportPreview ReadForImport(std::string_view ics_text, bool replace_unmappable);

struct ImportOutcome {
  bool stored = false;  // false: nothing reached the file
  int added = 0;
  int updated = 0;
  int unchanged = 0;    // imported before, and not newer in this file
};
// Stores the taken events as pending changes, all in one transaction. An
// event whose UID came in before updates that item when the file's version
// is newer and is skipped otherwise; an item since deleted comes back as new.
ImportOutcome StoreImported(ItemStore& store, const ImportPreview& preview);

// The user's items that are not deleted: all, or those meeting [from, to).
bool OwnItems(ItemStore& store, bool all, const DateTime& from, const DateTime& to,
              std::vector<ScheduleItem>& out);

}  // namespace kv::ical
