#include "store/ItemStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "store/StoreSeal.h"
#include "tests/store/StoreTestRows.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using test::D;
using test::Describe;
using test::J;
using test::MakeRow;
using test::RawExec;
using test::RawValue;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(store.CreateStore(path), 1); }
  // Closes the store so the file can be looked at or altered directly.
  void Reopen(const std::string& sql = "") {
    store.CloseStore();
    std::string err;
    if (!sql.empty()) {
      ASSERT_TRUE(RawExec(path, sql, &err)) << err;
    }
    ASSERT_EQ(store.OpenStore(path), 1);
  }
  std::string Raw(const std::string& sql) {
    store.CloseStore();
    std::string v = RawValue(path, sql);
    EXPECT_EQ(store.OpenStore(path), 1);
    return v;
  }

  test::TempDir dir;
  std::string path = dir.File("user.mdb");
  ItemStore store;
};

TEST_F(StoreTest, NewStoreHoldsTheInitialRowsAndIsPrivate) {
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::string un = "x", sn = "x", pw = "x";
  int32_t port = -1;
  DateTime last;
  ASSERT_EQ(store.ReadSettings(un, sn, port, pw, last), 1);
  EXPECT_EQ(un, "");
  EXPECT_EQ(sn, "");
  EXPECT_EQ(pw, "");
  EXPECT_EQ(port, 0);
  EXPECT_EQ(last, D(2000, 1, 1));
  std::vector<UserEntry> users(2);
  store.LoadUserList(users);
  EXPECT_TRUE(users.empty());
  ScheduleItem it;
  EXPECT_EQ(store.ReadFirstItem(it), 0);
  EXPECT_EQ(store.ReadNextItem(it), 0);

  // The file itself: the columns in creation order and the one System row.
  auto columns = [&](const std::string& table) {
    return Raw("SELECT group_concat(name || ':' || type, ',') FROM pragma_table_info('" + table +
               "')");
  };
  EXPECT_EQ(columns("System"),
            "text:Version:BLOB,UserName:BLOB,ServerName:BLOB,ServerPort:INTEGER,Password:BLOB,"
            "LastUpdate:REAL");
  EXPECT_EQ(columns("UserList"), "text:UserName:BLOB,UserID:INTEGER");
  EXPECT_EQ(columns("MySelf"),
            "text:UserID:INTEGER,Subject:BLOB,Place:BLOB,Execute:BLOB,Type:INTEGER,"
            "Private:INTEGER,Updated:REAL,Start:REAL,End:REAL,Alarm:INTEGER,AlarmTime:REAL,"
            "Desc:BLOB,Color:INTEGER,RepType:INTEGER,RepX:INTEGER,RepY:INTEGER,RepZ:INTEGER,"
            "RepStart:REAL,RepEnd:REAL,Index:REAL,SyncFlag:INTEGER,Attr1:BLOB,Attr2:BLOB,"
            "Attr3:BLOB,Attr4:BLOB,Attr5:BLOB");
  EXPECT_EQ(Raw("SELECT count(*) FROM System"), "integer:1");
  EXPECT_EQ(Raw("SELECT Version FROM System"), "blob:1.00");
  EXPECT_EQ(Raw("SELECT UserName FROM System"), "(null)");
  EXPECT_EQ(Raw("SELECT ServerPort FROM System"), "integer:0");
  EXPECT_EQ(Raw("SELECT LastUpdate FROM System"), "real:36526.0");
}

TEST(StoreCreate, RefusesAnExistingFileAndAMissingFolder) {
  test::TempDir dir;
  const std::string path = dir.File("user.mdb");
  {
    std::ofstream f(path, std::ios::binary);
    f << "someone's data";
  }
  ItemStore store;
  EXPECT_EQ(store.CreateStore(path), 0);
  EXPECT_FALSE(store.IsOpen());
  EXPECT_EQ(ReadFile(path), "someone's data");

  const std::string missing = dir.File("no-such-folder/user.mdb");
  EXPECT_EQ(store.CreateStore(missing), 0);
  EXPECT_EQ(::access(missing.c_str(), F_OK), -1);
  EXPECT_EQ(store.LastFailure(), StoreFailure::Io);
  EXPECT_EQ(store.OpenStore(dir.File("absent.mdb")), 0);
  EXPECT_EQ(store.LastFailure(), StoreFailure::Io);
  EXPECT_EQ(::access(dir.File("absent.mdb").c_str(), F_OK), -1);
}

TEST(StoreOpen, RefusesFilesThatAreNotWholeStores) {
  test::TempDir dir;
  ItemStore store;
  const std::string text = dir.File("text.mdb");
  {
    std::ofstream f(text, std::ios::binary);
    for (int i = 0; i < 500; ++i) f << "this is not a database file, line " << i << "\n";
  }
  EXPECT_EQ(store.OpenStore(text), 0);
  EXPECT_FALSE(store.IsOpen());
  EXPECT_EQ(store.LastFailure(), StoreFailure::Damaged);

  const std::string empty = dir.File("empty.mdb");
  std::ofstream(empty).close();
  EXPECT_EQ(store.OpenStore(empty), 0);

  // A store of many pages cut in half, and one with a page overwritten.
  const std::string whole = dir.File("whole.mdb");
  ASSERT_EQ(store.CreateStore(whole), 1);
  for (int n = 1; n <= 300; ++n) ASSERT_EQ(store.InsertItem(MakeRow(n, 0)), 1);
  store.CloseStore();
  const std::string bytes = ReadFile(whole);
  ASSERT_GT(bytes.size(), 40000u);
  const std::string cut = dir.File("cut.mdb");
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  EXPECT_EQ(store.OpenStore(cut), 0);
  const std::string damaged = dir.File("damaged.mdb");
  std::string bad = bytes;
  for (size_t i = 0; i < 4096; ++i) bad[bytes.size() / 2 + i] = static_cast<char>(i * 7 + 3);
  std::ofstream(damaged, std::ios::binary) << bad;
  EXPECT_EQ(store.OpenStore(damaged), 0);

  for (const char* table : {"MySelf", "UserList", "System"}) {
    const std::string lacking = dir.File(std::string("no") + table + ".mdb");
    std::ofstream(lacking, std::ios::binary) << bytes;
    ASSERT_TRUE(RawExec(lacking, std::string("DROP TABLE ") + table));
    EXPECT_EQ(store.OpenStore(lacking), 0) << table;
  }
  const std::string lacking_column = dir.File("nocolumn.mdb");
  std::ofstream(lacking_column, std::ios::binary) << bytes;
  ASSERT_TRUE(RawExec(lacking_column, "ALTER TABLE MySelf DROP COLUMN Attr5"));
  EXPECT_EQ(store.OpenStore(lacking_column), 0);

  // The original still opens and reads whole.
  ASSERT_EQ(store.OpenStore(whole), 1);
  EXPECT_EQ(test::AllRows(store).size(), 300u);
}

TEST_F(StoreTest, ItemsReadBackAsWritten) {
  ScheduleItem a = MakeRow(3, 1);  // empty Place and Attr4
  ASSERT_EQ(a.Place, "");
  a.Subject = J("会議 ～ ①");   // CP932-only characters, bytes kept as they are
  a.Desc = J("一行目\r\n二行目");
  a.Color = 0xFFFFFFFFu;
  a.Alarm = -1;
  a.AlarmTime = DateTime();  // the zero date
  a.RepStart = D(1850, 3, 1, 6, 0, 0);  // before the day-count epoch
  ScheduleItem b = MakeRow(4, 2);
  b.Start = DateTime::Invalid();  // the store accepts any record
  b.End = DateTime::Null();
  ASSERT_EQ(store.InsertItem(a), 1);
  ASSERT_EQ(store.InsertItem(b), 1);
  Reopen();

  ScheduleItem got;
  ASSERT_EQ(store.ReadFirstItem(got), 1);
  EXPECT_EQ(Describe(got), Describe(a));
  ASSERT_EQ(store.ReadNextItem(got), 1);
  EXPECT_EQ(got.Start.GetStatus(), DateTime::invalid);
  // A date without a value is stored as Null and reads back invalid.
  EXPECT_EQ(got.End.GetStatus(), DateTime::invalid);
  b.Start = b.End = DateTime::Invalid();
  EXPECT_EQ(Describe(got), Describe(b));
  EXPECT_EQ(store.ReadNextItem(got), 0);
  EXPECT_EQ(store.ReadNextItem(got), 0);

  EXPECT_EQ(Raw("SELECT Place FROM MySelf WHERE rowid=1"), "(null)");
  EXPECT_EQ(Raw("SELECT typeof(Subject) FROM MySelf WHERE rowid=1"), "text:blob");
  EXPECT_EQ(Raw("SELECT Color FROM MySelf WHERE rowid=1"), "integer:-1");
  EXPECT_EQ(Raw("SELECT typeof(\"Index\") FROM MySelf WHERE rowid=1"), "text:real");
  EXPECT_EQ(Raw("SELECT \"End\" FROM MySelf WHERE rowid=2"), "(null)");
}

TEST_F(StoreTest, ValuesOfOtherTypesAreConverted) {
  ScheduleItem it = MakeRow(1, 0);
  ASSERT_EQ(store.InsertItem(it), 1);
  Reopen(
      "UPDATE MySelf SET Start='2004/08/15 10:00:00', \"End\"=CAST('2004/8/15' AS BLOB),"
      " AlarmTime=38214, RepStart='someday', RepEnd=NULL, Updated='2004/2/30',"
      " Type='abc', Alarm=2.5, RepX=3.5, Color=4294967295, RepY=NULL, Subject='plain text',"
      " Place=42, \"Index\"='2004/01/01 00:00:01'");
  ScheduleItem got;
  ASSERT_EQ(store.ReadFirstItem(got), 1);
  EXPECT_EQ(got.Start, D(2004, 8, 15, 10, 0, 0));
  EXPECT_EQ(got.End, D(2004, 8, 15));
  EXPECT_EQ(got.AlarmTime, D(2004, 8, 15));
  EXPECT_EQ(got.RepStart.GetStatus(), DateTime::invalid);
  EXPECT_EQ(got.RepEnd.GetStatus(), DateTime::invalid);
  EXPECT_EQ(got.Updated.GetStatus(), DateTime::invalid);
  EXPECT_EQ(got.Type, 0);
  EXPECT_EQ(got.Alarm, 2);  // half to even
  EXPECT_EQ(got.RepX, 4);
  EXPECT_EQ(got.Color, 0xFFFFFFFFu);
  EXPECT_EQ(got.RepY, 0);
  EXPECT_EQ(got.Subject, "plain text");
  EXPECT_EQ(got.Place, "42");
  EXPECT_EQ(got.Index, it.Index);

  // The look-up by Index compares converted dates, so a text Index is found.
  ScheduleItem changed = MakeRow(1, 5);
  ASSERT_EQ(changed.Index, it.Index);
  ASSERT_EQ(store.UpdateItemByIndex(changed), 1);
  ASSERT_EQ(store.ReadFirstItem(got), 1);
  EXPECT_EQ(Describe(got), Describe(changed));
}

// The walk, the look-ups and the shared position against a plain model:
// a list in table order and a current row.
TEST_F(StoreTest, RandomOperationsAgreeWithAListModel) {
  struct Row {
    int64_t id;
    ScheduleItem item;
  };
  std::vector<Row> model;
  enum { kBefore, kAt, kPast } pos = kBefore;
  int64_t cur = 0;
  int64_t next_id = 1;
  std::mt19937 rng(20040815);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto first_with = [&](const DateTime& index) -> Row* {
    for (Row& r : model) {
      if (r.item.Index == index) return &r;
    }
    return nullptr;
  };
  auto model_next = [&](ScheduleItem* out) -> int {
    if (pos == kPast) return 0;
    for (Row& r : model) {
      if (pos == kBefore || r.id > cur) {
        pos = kAt;
        cur = r.id;
        *out = r.item;
        return 1;
      }
    }
    pos = kPast;
    return 0;
  };
  std::vector<int64_t> bookmarks;
  int gen = 0;
  for (int step = 0; step < 1500; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    // Few distinct Index values, so duplicates are common.
    const int n = 1 + pick(25);
    ScheduleItem got, want;
    switch (pick(8)) {
      case 0:
      case 1: {
        ScheduleItem it = MakeRow(n, ++gen);
        ASSERT_EQ(store.InsertItem(it), 1);
        model.push_back({next_id++, it});
        break;
      }
      case 2: {
        ScheduleItem it = MakeRow(n, ++gen);
        Row* r = first_with(it.Index);
        ASSERT_EQ(store.UpdateItemByIndex(it), r ? 1 : 0);
        if (r) {
          r->item = it;
          pos = kAt;
          cur = r->id;
        } else {
          pos = kPast;
        }
        break;
      }
      case 3: {
        ScheduleItem it = MakeRow(n, 0);
        Row* r = first_with(it.Index);
        ASSERT_EQ(store.MarkItemDeleted(it), r ? 1 : 0);
        if (r) {
          r->item.SyncFlag = SyncDeleted;
          pos = kAt;
          cur = r->id;
        } else {
          pos = kPast;
        }
        break;
      }
      case 4: {
        const int r = store.ReadFirstItem(got);
        pos = kBefore;
        ASSERT_EQ(r, model_next(&want));
        if (r) {
          ASSERT_EQ(Describe(got), Describe(want));
        }
        break;
      }
      case 5:
      case 6: {
        const int r = store.ReadNextItem(got);
        ASSERT_EQ(r, model_next(&want));
        if (r) {
          ASSERT_EQ(Describe(got), Describe(want));
        }
        break;
      }
      case 7:
        if (pick(2) == 0 || bookmarks.empty()) {
          const ItemStore::Bookmark b = store.GetItemPosition();
          ASSERT_EQ(b, pos == kAt ? cur : 0);
          if (b) bookmarks.push_back(b);
        } else {
          const int64_t b = bookmarks[static_cast<size_t>(pick(static_cast<int>(bookmarks.size())))];
          store.SetItemPosition(b);
          pos = kAt;
          cur = b;
        }
        break;
    }
  }
  Reopen();
  std::vector<std::string> want_rows;
  for (const Row& r : model) want_rows.push_back(Describe(r.item));
  EXPECT_EQ(test::AllRows(store), want_rows);
}

TEST_F(StoreTest, SameIndexTwiceChangesOnlyTheFirst) {
  ScheduleItem first = MakeRow(7, 0), second = MakeRow(7, 1), other = MakeRow(8, 0);
  ASSERT_EQ(store.InsertItem(other), 1);
  ASSERT_EQ(store.InsertItem(first), 1);
  ASSERT_EQ(store.InsertItem(second), 1);
  ScheduleItem changed = MakeRow(7, 9);
  ASSERT_EQ(store.UpdateItemByIndex(changed), 1);
  EXPECT_EQ(store.GetItemPosition(), 2);
  ASSERT_EQ(store.MarkItemDeleted(MakeRow(7, 3)), 1);
  changed.SyncFlag = SyncDeleted;
  EXPECT_EQ(test::AllRows(store), (std::vector<std::string>{Describe(other), Describe(changed),
                                                            Describe(second)}));
  ScheduleItem none = MakeRow(99, 0);
  EXPECT_EQ(store.UpdateItemByIndex(none), 0);
  EXPECT_EQ(store.MarkItemDeleted(none), 0);
  none.Index = DateTime::Invalid();
  EXPECT_EQ(store.UpdateItemByIndex(none), 0);
  EXPECT_EQ(test::AllRows(store).size(), 3u);
}

TEST_F(StoreTest, UpdateDuringAWalkKeepsTheWalkGoing) {
  for (int n = 1; n <= 6; ++n) ASSERT_EQ(store.InsertItem(MakeRow(n, 0)), 1);
  ScheduleItem it;
  std::vector<std::string> seen;
  for (int r = store.ReadFirstItem(it); r == 1; r = store.ReadNextItem(it)) {
    int n = 0, gen = 0;
    ASSERT_EQ(test::CheckRow(it, n, gen), "");
    seen.push_back(it.Attr1);
    // Rewrite a later row and an earlier one, then come back, as the
    // synchronisation does.
    const ItemStore::Bookmark here = store.GetItemPosition();
    ASSERT_EQ(store.UpdateItemByIndex(MakeRow(n % 6 + 1, 1)), 1);
    ASSERT_EQ(store.InsertItem(MakeRow(100 + n, 0)), 1);
    store.SetItemPosition(here);
    if (n >= 6) break;
  }
  // Each later row was rewritten before the walk reached it.
  EXPECT_EQ(seen, (std::vector<std::string>{"1.0", "2.1", "3.1", "4.1", "5.1", "6.1"}));
  store.SetItemPosition(0);
  EXPECT_EQ(store.ReadNextItem(it), 0);
}

TEST_F(StoreTest, PurgeRemovesOnlyTombstonesOlderThanTheLimit) {
  test::ScopedClock clock(D(2004, 9, 1, 12, 0, 0));
  struct Case {
    const char* name;
    int64_t age_seconds;
    bool deleted;
    bool stays;
  } cases[] = {
      {"deleted 90 days ago", 90 * 86400, true, false},
      {"deleted exactly 60 days ago", 60 * 86400, true, true},
      {"deleted 60 days and a second ago", 60 * 86400 + 1, true, false},
      {"deleted 59 days ago", 59 * 86400, true, true},
      {"kept item 400 days old", 400 * 86400, false, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    ScheduleItem it = MakeRow(++n, 0);
    it.SyncFlag = SyncClean;
    it.Updated = clock.Now().AddSeconds(-c.age_seconds);
    ASSERT_EQ(store.InsertItem(it), 1);
    // Marking keeps the stored Updated: the age counts from the last edit.
    if (c.deleted) {
      ASSERT_EQ(store.MarkItemDeleted(it), 1);
    }
  }
  // A tombstone whose Updated cannot be read is kept.
  ScheduleItem unreadable = MakeRow(++n, 0);
  unreadable.SyncFlag = SyncDeleted;
  unreadable.Updated = DateTime::Invalid();
  ASSERT_EQ(store.InsertItem(unreadable), 1);
  ASSERT_EQ(store.PurgeDeletedItems(60), 1);
  ScheduleItem it;
  EXPECT_EQ(store.ReadNextItem(it), 0) << "the purge leaves the position past the end";

  std::vector<std::string> left;
  for (int r = store.ReadFirstItem(it); r == 1; r = store.ReadNextItem(it)) left.push_back(it.Attr1);
  std::vector<std::string> want;
  for (int i = 0; i < 5; ++i) {
    if (cases[i].stays) want.push_back(std::to_string(i + 1) + ".0");
  }
  want.push_back("6.0");
  EXPECT_EQ(left, want);
  ASSERT_EQ(store.ReadFirstItem(it), 1);
  EXPECT_EQ(it.Updated, clock.Now().AddSeconds(-60 * 86400));
  EXPECT_EQ(it.SyncFlag, SyncDeleted);
}

TEST_F(StoreTest, SettingsRoundTripAndLeaveTheRestAlone) {
  test::ScopedClock clock(D(2004, 8, 15, 9, 30, 5));
  ASSERT_EQ(store.WriteSettings(J("山田"), "", 8080, J("秘密")), 1);
  std::string un, sn = "x", pw;
  int32_t port = 0;
  DateTime last;
  ASSERT_EQ(store.ReadSettings(un, sn, port, pw, last), 1);
  EXPECT_EQ(un, J("山田"));
  EXPECT_EQ(sn, "");
  EXPECT_EQ(port, 8080);
  EXPECT_EQ(pw, J("秘密"));
  EXPECT_EQ(last, D(2000, 1, 1));
  ASSERT_EQ(store.TouchLastUpdate(), 1);
  ASSERT_EQ(store.ReadSettings(un, sn, port, pw, last), 1);
  EXPECT_EQ(last, D(2004, 8, 15, 9, 30, 5));
  EXPECT_EQ(un, J("山田"));
  EXPECT_EQ(Raw("SELECT ServerName FROM System"), "(null)");
  EXPECT_EQ(Raw("SELECT Version FROM System"), "blob:1.00");

  // A System table without rows: every settings operation fails and the
  // caller's values stay.
  Reopen("DELETE FROM System");
  un = "keep";
  port = 77;
  EXPECT_EQ(store.ReadSettings(un, sn, port, pw, last), 0);
  EXPECT_EQ(un, "keep");
  EXPECT_EQ(port, 77);
  EXPECT_EQ(store.WriteSettings("a", "b", 1, "c"), 0);
  EXPECT_EQ(store.TouchLastUpdate(), 0);
  EXPECT_EQ(Raw("SELECT count(*) FROM System"), "integer:0");
}

TEST_F(StoreTest, UserListKeepsOrderAndEmptyNames) {
  std::vector<UserEntry> users(3);
  users[0].UserID = 12;
  users[0].UserName = J("佐藤");
  users[0].DisplayName = "not stored";
  users[0].Writable = 1;
  users[1].UserID = 3;
  users[1].UserName = "";
  users[2].UserID = -5;
  users[2].UserName = "z";
  ASSERT_EQ(store.SaveUserList(users), 1);
  // The stored empty name is an empty value, not Null.
  EXPECT_EQ(Raw("SELECT quote(UserName) FROM UserList WHERE UserID=3"), "text:X''");
  std::vector<UserEntry> got(1);
  store.LoadUserList(got);
  ASSERT_EQ(got.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].UserID, users[i].UserID);
    EXPECT_EQ(got[i].UserName, users[i].UserName);
    EXPECT_EQ(got[i].DisplayName, "");
    EXPECT_EQ(got[i].Writable, 0);
  }
  std::reverse(users.begin(), users.end());
  ASSERT_EQ(store.SaveUserList(users), 1);
  store.LoadUserList(got);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].UserID, -5);
  EXPECT_EQ(got[2].UserID, 12);
  ASSERT_EQ(store.SaveUserList({}), 1);
  store.LoadUserList(got);
  EXPECT_TRUE(got.empty());
}

TEST_F(StoreTest, UniqueIndexSkipsEverySecondARowAlreadyHas) {
  const DateTime t = D(2004, 8, 15, 10, 0, 0);
  EXPECT_EQ(store.UniqueIndex(t), t);
  for (int s : {0, 1, 3}) {
    ScheduleItem it = MakeRow(s + 1, 0);
    it.Index = t.AddSeconds(s);
    ASSERT_EQ(store.InsertItem(it), 1);
  }
  EXPECT_EQ(store.UniqueIndex(t), t.AddSeconds(2));
  EXPECT_EQ(store.UniqueIndex(t.AddSeconds(3)), t.AddSeconds(4));
  EXPECT_FALSE(store.UniqueIndex(DateTime::Invalid()).IsValid());
}

// Against the seconds the rows hold as the walk reads them: numbers, texts
// another program wrote, fractions of a second, dates that are not dates.
TEST_F(StoreTest, UniqueIndexAgreesWithTheStoredIndexes) {
  const DateTime base = D(2004, 8, 15, 10, 0, 0);
  std::mt19937 rng(615);
  std::string sql;
  for (int n = 1; n <= 500; ++n) {
    ScheduleItem it = MakeRow(n, 0);
    it.Index = base.AddSeconds(rng() % 700);
    ASSERT_EQ(store.InsertItem(it), 1);
    const std::string row = " WHERE rowid=" + std::to_string(n) + ";";
    switch (rng() % 8) {
      case 0:
        sql += "UPDATE MySelf SET \"Index\"='" + it.Index.ToString() + "'" + row;
        break;
      case 1:
        sql += "UPDATE MySelf SET \"Index\"=\"Index\"+0.4/86400" + row;
        break;
      case 2:
        sql += "UPDATE MySelf SET \"Index\"=\"Index\"-0.4/86400" + row;
        break;
      case 3:
        sql += "UPDATE MySelf SET \"Index\"=" + std::string(rng() % 2 ? "NULL" : "'junk'") + row;
        break;
      default:
        break;
    }
  }
  Reopen(sql);
  std::set<int64_t> taken;
  ScheduleItem it;
  for (int r = store.ReadFirstItem(it); r == 1; r = store.ReadNextItem(it)) {
    if (it.Index.IsValid()) taken.insert(it.Index.LinearSeconds());
  }
  ASSERT_GT(taken.size(), 300u);
  for (int s = -3; s < 720; ++s) {
    int64_t want = base.AddSeconds(s).LinearSeconds();
    while (taken.count(want)) ++want;
    ASSERT_EQ(store.UniqueIndex(base.AddSeconds(s)), DateTime::FromLinearSeconds(want)) << s;
  }
  // No second is left after the last one of the year 9999.
  const DateTime last = D(9999, 12, 31, 23, 59, 59);
  ScheduleItem end = MakeRow(999, 0);
  end.Index = last;
  ASSERT_EQ(store.InsertItem(end), 1);
  EXPECT_EQ(store.UniqueIndex(last.AddSeconds(-1)), last.AddSeconds(-1));
  EXPECT_FALSE(store.UniqueIndex(last).IsValid());
  EXPECT_FALSE(store.UniqueIndex(last.AddSeconds(1)).IsValid());
}

// What the synchronisation uses to act on exactly the row it read.
TEST_F(StoreTest, RowExactChangesTouchOnlyTheirRow) {
  ScheduleItem a = MakeRow(7, 0), b = MakeRow(7, 1), c = MakeRow(8, 0);
  ItemStore::Bookmark ra = 0, rb = 0, rc = 0;
  ASSERT_EQ(store.InsertItem(a, &ra), 1);
  ASSERT_EQ(store.InsertItem(b, &rb), 1);
  ASSERT_EQ(store.InsertItem(c, &rc), 1);
  std::vector<ItemStore::ItemKey> keys;
  ASSERT_EQ(store.ReadItemKeys(keys), 1);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1].row, rb);
  EXPECT_EQ(keys[1].Index, b.Index);
  EXPECT_EQ(keys[1].Updated, b.Updated);
  EXPECT_EQ(keys[1].SyncFlag, b.SyncFlag);

  // The second of two rows with one Index, by its row.
  ScheduleItem changed = MakeRow(7, 5);
  ASSERT_EQ(store.UpdateItemAt(rb, changed), 1);
  ASSERT_EQ(store.SetSyncFlagAt({ra, rc}, SyncResend), 1);
  a.SyncFlag = c.SyncFlag = SyncResend;
  EXPECT_EQ(test::AllRows(store), (std::vector<std::string>{Describe(a), Describe(changed), Describe(c)}));
  // A missing row changes nothing, not even the rows listed before it.
  EXPECT_EQ(store.SetSyncFlagAt({ra, rc + 100}, SyncClean), 0);
  EXPECT_EQ(store.UpdateItemAt(rc + 100, changed), 0);
  EXPECT_EQ(test::AllRows(store), (std::vector<std::string>{Describe(a), Describe(changed), Describe(c)}));

  // A batch reaches the file whole or not at all.
  ASSERT_EQ(store.BeginBatch(), 1);
  ASSERT_EQ(store.InsertItem(MakeRow(9, 0)), 1);
  ASSERT_EQ(store.SetSyncFlagAt({ra}, SyncClean), 1);
  store.AbortBatch();
  Reopen();
  EXPECT_EQ(test::AllRows(store).size(), 3u);
  ASSERT_EQ(store.BeginBatch(), 1);
  ASSERT_EQ(store.InsertItem(MakeRow(9, 0)), 1);
  ASSERT_EQ(store.TouchLastUpdate(), 1);
  ASSERT_EQ(store.CommitBatch(), 1);
  Reopen();
  EXPECT_EQ(test::AllRows(store).size(), 4u);
}

// The lock is the operating system's, between processes: tried from a
// second process in both directions.
TEST_F(StoreTest, AnotherProcessCannotOpenTheStoreWhileItIsOpen) {
  ASSERT_EQ(store.InsertItem(MakeRow(1, 0)), 1);
  const std::string locked = "failed " + std::to_string(static_cast<int>(StoreFailure::Locked));
  test::Probe other = test::SpawnProbe(KV_STORE_PROBE, "open", path);
  EXPECT_EQ(other.ReadLine(), locked);
  EXPECT_EQ(other.Wait(), 1);
  test::Probe creator = test::SpawnProbe(KV_STORE_PROBE, "create", path);
  EXPECT_EQ(creator.ReadLine(), "go");
  EXPECT_EQ(creator.Wait(), 1);
  // Still usable here, and still private while the log file exists.
  ASSERT_EQ(store.InsertItem(MakeRow(2, 0)), 1);
  struct stat st {};
  if (::stat((path + "-wal").c_str(), &st) == 0) {
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  store.CloseStore();

  test::Probe holder = test::SpawnProbe(KV_STORE_PROBE, "open", path);
  ASSERT_EQ(holder.ReadLine(), "open");
  EXPECT_EQ(store.OpenStore(path), 0);
  EXPECT_EQ(store.LastFailure(), StoreFailure::Locked);
  EXPECT_EQ(store.CreateStore(path), 0);
  EXPECT_EQ(holder.Wait(), 0);
  ASSERT_EQ(store.OpenStore(path), 1);
  EXPECT_EQ(test::AllRows(store).size(), 2u);
}

// A creation cut off at any moment leaves either no store at all or a
// whole one: never a file that every later start fails to open.
TEST(StoreCreate, KilledCreationNeverLeavesAFileThatBlocksTheNextStart) {
  test::TempDir dir;
  const std::string path = dir.File("user.mdb");
  // The kills are spread over twice the time one creation takes on this
  // machine and build (a sanitizer build is several times slower).
  int64_t whole_us = 0;
  {
    test::Probe p = test::SpawnProbe(KV_STORE_PROBE, "create", path);
    ASSERT_EQ(p.ReadLine(), "go");
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(p.Wait(), 0);
    whole_us = std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - t0)
                   .count();
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
  }
  const uint32_t spread_us = static_cast<uint32_t>(std::max<int64_t>(2 * whole_us, 2000));
  std::mt19937 rng(1508);
  int cut_off = 0, finished = 0;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    test::Probe p = test::SpawnProbe(KV_STORE_PROBE, "create", path);
    ASSERT_EQ(p.ReadLine(), "go");
    // The first round is cut at once and the last one never, so both
    // outcomes occur whatever the machine's speed.
    if (round != 39) {
      if (round > 0) ::usleep(rng() % spread_us);
      ::kill(p.pid, SIGKILL);
    }
    const int status = p.Wait();
    ItemStore s;
    if (::access(path.c_str(), F_OK) == 0) {
      ASSERT_EQ(s.OpenStore(path), 1) << "exit " << status;
      std::string un, sn, pw;
      int32_t port = -1;
      DateTime last;
      EXPECT_EQ(s.ReadSettings(un, sn, port, pw, last), 1);
      ++finished;
    } else {
      ASSERT_EQ(s.CreateStore(path), 1) << "something left behind blocks the creation";
      ++cut_off;
    }
    s.CloseStore();
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
  }
  // Both outcomes must have happened, or the kills missed the creation.
  EXPECT_GT(cut_off, 0);
  EXPECT_GT(finished, 0);
}

// The store holds the password: a store and log file that others could
// read are made private at the next opening.
TEST(StoreOpen, AStoreOthersCanReadIsMadePrivate) {
  test::TempDir dir;
  const std::string path = dir.File("user.mdb");
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(path), 1);
  }
  test::Probe crash = test::SpawnProbe(KV_STORE_PROBE, "insert", path);
  ASSERT_EQ(crash.Wait(), 0);
  ASSERT_EQ(::access((path + "-wal").c_str(), F_OK), 0) << "the crash left no log file";
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(::chmod((path + "-wal").c_str(), 0644), 0);
  ItemStore s;
  ASSERT_EQ(s.OpenStore(path), 1);
  for (const std::string& p : {path, path + "-wal"}) {
    struct stat st {};
    if (p == path || ::stat(p.c_str(), &st) == 0) {
      ASSERT_EQ(::stat(p.c_str(), &st), 0) << p;
      EXPECT_EQ(st.st_mode & 0777, 0600u) << p;
    }
  }
  ScheduleItem it;
  ASSERT_EQ(s.ReadFirstItem(it), 1);
  EXPECT_EQ(it.Subject, "left in the log");
}

// A store closed cleanly is sealed, and the next opening leaves out the
// full check only for those very bytes: a changed, damaged, crashed or
// foreign file is checked in full, and a damaged one is still refused.
TEST(StoreSeal, OnlyTheBytesOfACleanClosingSkipTheFullCheck) {
  test::TempDir dir;
  const std::string path = dir.File("user.mdb");
  const std::string seal = store_detail::SealPath(path);
  auto open_checked = [&](const std::string& p) {
    ItemStore s;
    EXPECT_EQ(s.OpenStore(p), 1) << p;
    return s.CheckedInFull();
  };
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(path), 1);
    EXPECT_TRUE(s.CheckedInFull());
    for (int n = 1; n <= 300; ++n) ASSERT_EQ(s.InsertItem(MakeRow(n, 0)), 1);
    EXPECT_FALSE(::access(seal.c_str(), F_OK) == 0) << "no seal while the store is open";
  }
  struct stat st {};
  ASSERT_EQ(::stat(seal.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(open_checked(path));
  EXPECT_FALSE(open_checked(path)) << "a session that changed nothing seals again";

  // Changed by another program after the closing: checked, and it opens.
  ASSERT_TRUE(RawExec(path, "UPDATE MySelf SET Subject=x'41' WHERE rowid=7"));
  EXPECT_TRUE(open_checked(path));
  EXPECT_FALSE(open_checked(path));

  // A seal that is not this file's: another store's, a torn one, an
  // oversized one, or none.
  const std::string other = dir.File("other.mdb");
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(other), 1);
  }
  const std::string kept = ReadFile(seal);
  for (const std::string& forged :
       {ReadFile(store_detail::SealPath(other)), kept.substr(0, kept.size() / 2),
        kept + std::string(200, ' '), std::string()}) {
    std::ofstream(seal, std::ios::binary | std::ios::trunc) << forged;
    EXPECT_TRUE(open_checked(path)) << forged;
  }
  ::unlink(seal.c_str());
  EXPECT_TRUE(open_checked(path));
  EXPECT_FALSE(open_checked(path));

  // A calendar that ended without closing: its log holds what the file
  // does not, so the file is checked in full, with the row from the log,
  // even when the seal's removal never reached the disk.
  const std::string sealed = ReadFile(seal);
  test::Probe crash = test::SpawnProbe(KV_STORE_PROBE, "insert", path);
  ASSERT_EQ(crash.Wait(), 0);
  ASSERT_EQ(::access((path + "-wal").c_str(), F_OK), 0);
  std::ofstream(seal, std::ios::binary | std::ios::trunc) << sealed;
  ASSERT_TRUE(store_detail::SealOf(path) == sealed) << "the file itself is as sealed";
  {
    ItemStore s;
    ASSERT_EQ(s.OpenStore(path), 1);
    EXPECT_TRUE(s.CheckedInFull());
    EXPECT_EQ(test::AllRows(s).size(), 301u);
  }

  // A page overwritten after a clean closing: refused as before, and the
  // file and its seal are left as they were.
  {
    std::string bytes = ReadFile(path);
    for (size_t i = 0; i < 4096; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(i * 7 + 3);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  const std::string damaged = ReadFile(path), seal_before = ReadFile(seal);
  ItemStore s;
  EXPECT_EQ(s.OpenStore(path), 0);
  EXPECT_EQ(s.LastFailure(), StoreFailure::Damaged);
  EXPECT_EQ(ReadFile(path), damaged);
  EXPECT_EQ(ReadFile(seal), seal_before);
}

// Opening for reading first (the calendar's first frame) against opening
// at once: the same check, the same verdict, and not a byte written before
// it, whether the file is sealed, changed since, forged or damaged.
TEST(StoreSeal, ReadingBeforeTheCheckWritesNothingAndTheVerdictIsTheSame) {
  test::TempDir dir;
  const std::string good = dir.File("user.mdb");
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(good), 1);
    for (int n = 1; n <= 300; ++n) ASSERT_EQ(s.InsertItem(MakeRow(n, n % 3)), 1);
  }
  const std::string seal = store_detail::SealPath(good);
  std::vector<std::string> rows_of_good;
  {
    ItemStore s;
    ASSERT_EQ(s.OpenStore(good), 1);
    rows_of_good = test::AllRows(s);
  }
  struct Case {
    const char* name;
    std::function<void(const std::string&)> spoil;
  } cases[] = {
      {"sealed", [](const std::string&) {}},
      {"changed since", [](const std::string& p) { ASSERT_TRUE(RawExec(p, "UPDATE MySelf SET Subject=x'41' WHERE rowid=7")); }},
      {"no seal", [](const std::string& p) { ::unlink(store_detail::SealPath(p).c_str()); }},
      {"damaged page", [](const std::string& p) {
         std::string bytes = ReadFile(p);
         for (size_t i = 0; i < 4096; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(i * 7 + 3);
         std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".mdb");
    const std::string path_seal = store_detail::SealPath(path);
    auto fresh = [&] {
      ::unlink(path.c_str());
      ::unlink((path + "-wal").c_str());
      std::ofstream(path, std::ios::binary) << ReadFile(good);
      std::ofstream(path_seal, std::ios::binary | std::ios::trunc) << ReadFile(seal);
      ::chmod(path.c_str(), 0644);  // made private only once checked
      c.spoil(path);
    };
    fresh();
    ItemStore at_once;
    const int verdict = at_once.OpenStore(path);
    const bool checked = verdict == 1 && at_once.CheckedInFull();
    at_once.CloseStore();

    // Read, closed unchecked: the file, its mode and its seal as found.
    fresh();
    const std::string bytes = ReadFile(path);
    const bool had_seal = ::access(path_seal.c_str(), F_OK) == 0;
    const std::string seal_bytes = had_seal ? ReadFile(path_seal) : "";
    {
      ItemStore s;
      if (s.OpenStoreForReading(path) == 1 && !s.OpeningFinished()) {
        int64_t shapes = 0;
        s.ReadShapesNear(test::D(1990, 1, 1), test::D(2030, 1, 1), [&](ItemShape&, int64_t, bool) { ++shapes; });
        if (verdict == 1) {
          EXPECT_GT(shapes, 0);
        }
      }
    }
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_EQ(::access(path_seal.c_str(), F_OK) == 0, had_seal);
    if (had_seal) {
      EXPECT_EQ(ReadFile(path_seal), seal_bytes);
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // A change before the check runs the check first, with the same verdict.
    fresh();
    {
      ItemStore s;
      ASSERT_EQ(s.OpenStoreForReading(path), 1) << "the damage lies beyond what opening reads";
      EXPECT_EQ(s.InsertItem(MakeRow(999, 0)), verdict);
      EXPECT_EQ(s.OpeningFinished(), verdict == 1);
      if (verdict == 1) {
        EXPECT_EQ(s.CheckedInFull(), checked);
        EXPECT_EQ(test::AllRows(s).size(), rows_of_good.size() + 1);
      } else {
        EXPECT_FALSE(s.IsOpen());
        EXPECT_EQ(s.LastFailure(), StoreFailure::Damaged);
        EXPECT_EQ(ReadFile(path), bytes);
      }
    }
  }
}

// Opening checks before it configures: a file that is not a store is left
// byte for byte as it was, with no journal files beside it.
TEST(StoreOpen, AFileThatIsNotAStoreIsLeftExactlyAsItWas) {
  test::TempDir dir;
  const std::string foreign = dir.File("foreign.mdb");
  const std::string lacking = dir.File("lacking.mdb");
  std::ofstream(foreign).close();  // an empty file is an empty database
  std::ofstream(lacking).close();
  ASSERT_TRUE(RawExec(foreign, "CREATE TABLE Other(x); INSERT INTO Other VALUES('kept')"));
  ASSERT_TRUE(RawExec(lacking, "CREATE TABLE System(Version); CREATE TABLE UserList(UserName, UserID)"));
  const std::string text = dir.File("text.mdb");
  std::ofstream(text, std::ios::binary) << "not a database\n";
  const std::string damaged = dir.File("damaged.mdb");
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(damaged), 1);
    for (int n = 1; n <= 300; ++n) ASSERT_EQ(s.InsertItem(MakeRow(n, 0)), 1);
  }
  {
    std::string bytes = ReadFile(damaged);
    for (size_t i = 0; i < 4096; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(i * 7 + 3);
    std::ofstream(damaged, std::ios::binary) << bytes;
  }
  for (const std::string& p : {foreign, lacking, text, damaged}) {
    SCOPED_TRACE(p);
    const std::string before = ReadFile(p);
    ItemStore s;
    EXPECT_EQ(s.OpenStore(p), 0);
    EXPECT_EQ(s.LastFailure(), StoreFailure::Damaged);
    EXPECT_EQ(ReadFile(p), before);
    for (const char* side : {"-wal", "-shm", "-journal"}) {
      EXPECT_NE(::access((p + side).c_str(), F_OK), 0) << side;
    }
  }
  EXPECT_EQ(RawValue(foreign, "SELECT x FROM Other"), "text:kept");
}

TEST(StoreClosed, OperationsFailWithoutAFile) {
  ItemStore store;
  ScheduleItem it;
  std::string s;
  int32_t p = 0;
  DateTime d;
  std::vector<UserEntry> users(1);
  EXPECT_FALSE(store.IsOpen());
  EXPECT_EQ(store.ReadFirstItem(it), 0);
  EXPECT_EQ(store.ReadNextItem(it), 0);
  EXPECT_EQ(store.InsertItem(it), 0);
  EXPECT_EQ(store.UpdateItemByIndex(it), 0);
  EXPECT_EQ(store.MarkItemDeleted(it), 0);
  EXPECT_EQ(store.PurgeDeletedItems(60), 0);
  EXPECT_EQ(store.ReadSettings(s, s, p, s, d), 0);
  EXPECT_EQ(store.WriteSettings("", "", 0, ""), 0);
  EXPECT_EQ(store.TouchLastUpdate(), 0);
  EXPECT_EQ(store.SaveUserList({}), 0);
  store.LoadUserList(users);
  EXPECT_TRUE(users.empty());
  EXPECT_EQ(store.GetItemPosition(), 0);
  store.CloseStore();
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// A file from before imports had their table opens, gains it, and keeps
// each UID's item and version across closing; a failed batch keeps none.
TEST_F(StoreTest, ImportedUidsSurviveReopeningAndAnOlderFile) {
  Reopen("DROP TABLE Imported");
  DateTime index;
  std::string version;
  EXPECT_EQ(store.FindImportedUid("a@x", index, version), 0);
  const DateTime i1 = DateTime::FromParts(2024, 7, 16, 10, 0, 1);
  ASSERT_EQ(store.RememberImportedUid("a@x", i1, "20240101T000000Z/0000000003"), 1);
  Reopen();
  ASSERT_EQ(store.FindImportedUid("a@x", index, version), 1);
  EXPECT_EQ(index, i1);
  EXPECT_EQ(version, "20240101T000000Z/0000000003");
  EXPECT_EQ(store.FindImportedUid("A@x", index, version), 0);
  const DateTime i2 = i1.AddSeconds(5);
  ASSERT_EQ(store.RememberImportedUid("a@x", i2, "v2"), 1);
  ASSERT_EQ(store.FindImportedUid("a@x", index, version), 1);
  EXPECT_EQ(index, i2);
  EXPECT_EQ(version, "v2");
  ASSERT_EQ(store.BeginBatch(), 1);
  ASSERT_EQ(store.RememberImportedUid("b@x", i1, "v"), 1);
  store.AbortBatch();
  EXPECT_EQ(store.FindImportedUid("b@x", index, version), 0);
}

}  // namespace
}  // namespace kv
