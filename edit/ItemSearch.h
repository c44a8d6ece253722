#pragma once
// Finding the user's own items by a word of their subject, place or
// description. The texts are folded once when the search opens, so each
// keystroke only compares: upper and lower case Latin letters and the
// full-width and half-width forms of letters, digits and katakana match
// each other; hiragana and katakana stay apart.
#include <string>
#include <string_view>
#include <vector>

#include "model/ScheduleItem.h"
#include "store/ItemStore.h"

namespace kv {

// CP932 text as one code per character, folded for matching. Bytes that
// are not CP932 become U+FFFD.
std::u16string FoldForSearch(std::string_view cp932);

class ItemSearch {
 public:
  struct Hit {
    DateTime date;     // the next occurrence on or after today, else the last one
    DateTime index;    // the item's Index
    std::string time;  // "10:00", or empty for an all-day item (ASCII)
    std::string subject, place;  // CP932
  };

  // Reads every own item but tombstones; false when the store could not
  // be read. `today` is the day occurrences are counted from.
  bool Load(ItemStore& store, const DateTime& today);

  // The items whose subject, place or description holds `query` (CP932),
  // in date order; none for an empty query. At most `limit` hits; `total`
  // receives how many there were.
  std::vector<Hit> Find(std::string_view query, std::size_t limit = 500,
                        std::size_t* total = nullptr) const;

  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    DateTime date;
    DateTime index;
    DateTime start;
    int type = 0;
    std::string subject, place;
    std::u16string folded;  // subject, place and description, kept apart
  };
  std::vector<Entry> entries_;
};

// The day an item is listed under: its next occurrence from `today` on,
// or its last one when none is left.
DateTime ListedDate(const ScheduleItem& item, const DateTime& today);

}  // namespace kv
