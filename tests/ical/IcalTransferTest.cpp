// Importing into the store: the same file twice adds nothing twice, a newer
// version of an event changes its item in place, an older or equal one
// changes nothing, and an item deleted since comes back.
#include <gtest/gtest.h>

#include <memory>

#include "edit/IcalTransfer.h"
#include "model/Clock.h"
#include "model/Text.h"
#include "tests/support/TestSupport.h"

using namespace kv;

namespace {

std::string File(const char* subject, int sequence, const char* modified) {
  return std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\n"
                     "BEGIN:VEVENT\r\nUID:one@t\r\nDTSTART:20240105T100000\r\n"
                     "DTEND:20240105T110000\r\nSUMMARY:") +
         subject + "\r\nSEQUENCE:" + std::to_string(sequence) + "\r\nLAST-MODIFIED:" + modified +
         "\r\nEND:VEVENT\r\n"
         "BEGIN:VEVENT\r\nUID:two@t\r\nDTSTART;VALUE=DATE:20240106\r\nSUMMARY:二\r\n"
         "RRULE:FREQ=WEEKLY;BYDAY=SA;COUNT=3\r\nEND:VEVENT\r\n"
         "BEGIN:VEVENT\r\nUID:bad@t\r\nDTSTART:20240105T100000\r\nRRULE:FREQ=DAILY;BYHOUR=3,4;COUNT=2\r\n"
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

std::vector<ScheduleItem> All(ItemStore& s) {
  std::vector<ScheduleItem> v;
  EXPECT_TRUE(ical::OwnItems(s, true, DateTime(), DateTime(), v));
  return v;
}

TEST(IcalTransferTest, ReimportAddsNothingTwiceAndTakesOnlyNewerVersions) {
  Clock::SetInstance(std::make_shared<FixedClock>(DateTime::FromParts(2024, 1, 1, 9, 0, 0)));
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("u.mdb")), 1);

  auto run = [&](const std::string& text) {
    const ical::ImportPreview p = ical::ReadForImport(text, false);
    EXPECT_EQ(p.events, 3);
    EXPECT_EQ(p.taken.items.size(), 2u);
    EXPECT_EQ(p.taken.problems.size(), 1u);
    return ical::StoreImported(store, p);
  };
  ical::ImportOutcome a = run(File("一", 1, "20240101T000000Z"));
  ASSERT_TRUE(a.stored);
  EXPECT_EQ(a.added, 2);
  auto items = All(store);
  ASSERT_EQ(items.size(), 2u);
  for (const auto& it : items) EXPECT_EQ(it.SyncFlag, SyncPending);
  EXPECT_NE(items[0].Index, items[1].Index);
  const DateTime first_index = items[0].Index;

  ical::ImportOutcome b = run(File("一", 1, "20240101T000000Z"));
  EXPECT_TRUE(b.stored);
  EXPECT_EQ(b.added, 0);
  EXPECT_EQ(b.unchanged, 2);
  EXPECT_EQ(All(store).size(), 2u);

  // An older file changes nothing; a newer SEQUENCE changes the item in place.
  ical::ImportOutcome c = run(File("古い", 0, "20231201T000000Z"));
  EXPECT_EQ(c.updated, 0);
  EXPECT_EQ(All(store)[0].Subject, *text::FromUtf8("一"));
  ical::ImportOutcome d = run(File("新しい", 2, "20231201T000000Z"));
  EXPECT_EQ(d.updated, 1);
  items = All(store);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Index, first_index);
  EXPECT_EQ(items[0].Subject, *text::FromUtf8("新しい"));

  // Deleted since: it comes back as a new item.
  ASSERT_EQ(store.MarkItemDeleted(items[0]), 1);
  ical::ImportOutcome e = run(File("新しい", 2, "20231201T000000Z"));
  EXPECT_EQ(e.added, 1);
  EXPECT_EQ(All(store).size(), 2u);
  Clock::SetInstance(nullptr);
}

}  // namespace
