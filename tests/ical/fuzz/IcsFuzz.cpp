// Any bytes into Import: no crash, no leak, and what comes out is what the
// store would accept: one UID per item, texts within the dialog's limits,
// valid CP932, no program to start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "edit/ItemForm.h"
#include "ical/Ical.h"
#include "model/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  for (bool replace : {false, true}) {
    const kv::ical::Imported r = kv::ical::Import(in, kv::ical::ImportOptions{replace, "Asia/Tokyo"});
    if (r.items.size() != r.uids.size()) std::abort();
    for (const kv::ScheduleItem& it : r.items) {
      if (!it.Execute.empty() || it.Subject.size() > kv::kMaxLineBytes ||
          it.Place.size() > kv::kMaxLineBytes || it.Desc.size() > kv::kMaxDescBytes)
        std::abort();
      if (!kv::text::ToUtf8(it.Subject) || !kv::text::ToUtf8(it.Desc)) std::abort();
      if (!it.Start.IsValid() || !it.End.IsValid() || it.End < it.Start) std::abort();
      if (it.RepType < 0 || it.RepType > 6) std::abort();
    }
  }
  return 0;
}
