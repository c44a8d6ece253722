// One connection's conversation fed from memory: sign-in answers, refusal
// of unusable input without touching stored data, and the shared record
// vectors going into the server's store and coming back out.
#include <gtest/gtest.h>

#include <cstring>

#include "model/DateTime.h"
#include "server/ServerStore.h"
#include "server/Session.h"
#include "sync/WireRecord.h"
#include "sync/WireStream.h"
#include "tests/support/TestSupport.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/sync/RecordVectors.h"

namespace kv::server {
namespace {

using namespace kv::test;
using namespace kv::server::test;

const DateTime kNow = D(2004, 8, 15, 12, 0, 0);

ScheduleItem Item(int n, const std::string& subject = "stored") { return TestItem(n, subject); }

struct Fixture {
  ScopedClock clock{kNow};
  TempDir dir;
  ServerStore store;
  int32_t taro = 0, hanako = 0, jiro = 0;
  Fixture() {
    std::string err;
    EXPECT_TRUE(store.Open(TestDatabase(dir, "server.db"), &err)) << err;
    EXPECT_TRUE(store.AddUser("taro", J("太郎"), "pw-taro", 0, &taro, &err)) << err;
    EXPECT_TRUE(store.AddUser("hanako", J("花子"), "pw-hanako", 0, &hanako, &err)) << err;
    EXPECT_TRUE(store.AddUser("jiro", J("次郎"), "pw-jiro", 0, &jiro, &err)) << err;
    // taro may write hanako's items.
    EXPECT_TRUE(store.Grant("taro", "hanako", &err)) << err;
  }
  SessionResult Run(const std::string& input, std::string* output = nullptr) {
    MemoryChannel ch(input);
    SessionResult r = RunSession(ch, store, SessionLimits{});
    if (output) *output = ch.Output();
    return r;
  }
  // Every stored row of every user, tombstones included, as wire text.
  std::string Snapshot() {
    std::string s;
    for (int32_t u : {taro, hanako, jiro})
      for (const ScheduleItem& it : store.ChangedSince(u, DateTime::Invalid()))
        s += std::to_string(u) + ":" + EncodeRecordText(it) + "\n";
    return s;
  }
};

TEST(ServerSession, SignInAnswersCodeThenServerTime) {
  struct Row {
    const char* name;
    const char* user;
    const char* password;
    int32_t code;
  };
  const Row rows[] = {
      {"unknown user", "nobody", "pw-taro", -1},
      {"empty user name", "", "pw-taro", -1},
      {"wrong password", "taro", "pw-hanako", -2},
      {"empty password", "taro", "", -2},
      {"own password", "taro", "pw-taro", 0},
      {"delegate's password", "hanako", "pw-taro", 0},
      {"password of a user without permission", "hanako", "pw-jiro", -2},
      {"permission is one-way", "taro", "pw-hanako", -2},
  };
  Fixture f;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string out;
    // A user-list request follows, so a successful sign-in runs to the end.
    const SessionResult r = f.Run(Line(row.user) + Line(row.password) + Int(RequestUserList), &out);
    ASSERT_GE(out.size(), 16u);
    EXPECT_EQ(out.substr(0, 4), Int(row.code));
    EXPECT_EQ(out.substr(4, 12), Date(kNow));
    if (row.code != 0) {
      EXPECT_EQ(r.end, SessionEnd::Refused);
      EXPECT_EQ(out.size(), 16u) << "nothing follows a refusal";
    }
  }
}

TEST(ServerSession, AdministrationChangesWhatSessionsSee) {
  Fixture f;
  std::string err;
  EXPECT_TRUE(f.store.SetPassword("taro", "new-pw", &err)) << err;
  EXPECT_EQ(f.store.Authenticate("taro", "pw-taro").code, -2);
  EXPECT_EQ(f.store.Authenticate("taro", "new-pw").code, 0);
  EXPECT_EQ(f.store.Authenticate("hanako", "new-pw").code, 0) << "the delegate's new password works too";
  EXPECT_FALSE(f.store.SetPassword("nobody", "x", &err));
  EXPECT_EQ(err, "no such user");

  EXPECT_TRUE(f.store.SetDisplayName("hanako", J("山田花子"), &err)) << err;
  EXPECT_FALSE(f.store.SetDisplayName("hanako", "two\nlines", &err));
  EXPECT_FALSE(f.store.SetDisplayName("nobody", "x", &err));
  const auto users = f.store.UserList(f.taro);
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[1].user.display, J("山田花子"));
  EXPECT_EQ(users[0].user.display, J("太郎")) << "only the named user changes";
}

TEST(ServerSession, UnusableInputChangesNothing) {
  const std::string sign_in = Line("taro") + Line("pw-taro");
  const std::string delegate = Line("hanako") + Line("pw-taro");
  const std::string rec = Record(Item(7, "new"));
  struct Row {
    const char* name;
    std::string input;
    SessionEnd end;
  };
  const Row rows[] = {
      {"nothing at all", "", SessionEnd::Malformed},
      {"user name only", Line("taro"), SessionEnd::Malformed},
      {"no request code", sign_in, SessionEnd::Malformed},
      {"half a request code", sign_in + Int(RequestAddItem).substr(0, 2), SessionEnd::Malformed},
      {"unknown request", sign_in + Int(99) + rec, SessionEnd::Unsupported},
      {"add without record", sign_in + Int(RequestAddItem), SessionEnd::Malformed},
      {"negative length", sign_in + Int(RequestAddItem) + Int(-5) + "Index=x", SessionEnd::Malformed},
      {"length over the limit", sign_in + Int(RequestAddItem) + Int(2 * 1024 * 1024), SessionEnd::Malformed},
      {"half a record", sign_in + Int(RequestAddItem) + rec.substr(0, rec.size() / 2), SessionEnd::Malformed},
      {"record without terminator",
       sign_in + Int(RequestAddItem) + rec.substr(0, rec.size() - 1) + "X", SessionEnd::Malformed},
      {"upload without end of list", sign_in + Int(RequestUpload) + Date(kNow) + rec + rec,
       SessionEnd::Malformed},
      {"upload cut in its last record",
       sign_in + Int(RequestUpload) + Date(kNow) + rec + EndOfList().substr(0, 9), SessionEnd::Malformed},
      {"upload followed by garbage",
       sign_in + Int(RequestUpload) + Date(kNow) + rec + Int(0x7fffffff) + "garbage", SessionEnd::Malformed},
      {"download without date", sign_in + Int(RequestDownload) + "12345", SessionEnd::Malformed},
      {"delegate asks for a download", delegate + Int(RequestDownload) + Date(D(2000, 1, 1)),
       SessionEnd::Unsupported},
      {"delegate uploads", delegate + Int(RequestUpload) + Date(kNow) + rec + EndOfList(),
       SessionEnd::Unsupported},
      {"delegate asks for the user list", delegate + Int(RequestUserList), SessionEnd::Unsupported},
  };
  Fixture f;
  ASSERT_EQ(f.store.AddItem(f.taro, Item(1)), 1);
  ASSERT_EQ(f.store.AddItem(f.hanako, Item(2)), 1);
  const std::string before = f.Snapshot();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string out;
    const SessionResult r = f.Run(row.input, &out);
    EXPECT_EQ(r.end, row.end);
    EXPECT_EQ(f.Snapshot(), before);
    if (row.name == std::string("delegate asks for a download")) {
      EXPECT_EQ(out.size(), 16u) << "not one of hanako's records goes to taro's connection";
    }
  }
}

TEST(ServerSession, RecordWithoutIndexIsRefused) {
  Fixture f;
  ScheduleItem it = Item(1);
  std::string text = EncodeRecordText(it);
  // Drop the Index piece: the record must not land on the zero date.
  text = text.substr(text.find('\x1e') + 1);
  std::string out;
  const SessionResult r = f.Run(Line("taro") + Line("pw-taro") + Int(RequestAddItem) + Frame(text), &out);
  EXPECT_EQ(r.end, SessionEnd::Done);
  EXPECT_EQ(r.answer, 0);
  EXPECT_EQ(out.substr(16), Int(0));
  EXPECT_EQ(f.store.ItemCount(f.taro), 0);
}

TEST(ServerSession, ImmediateRequestsAnswerOneOrZero) {
  Fixture f;
  const std::string taro = Line("taro") + Line("pw-taro");
  const std::string as_delegate = Line("hanako") + Line("pw-taro");
  auto answer = [&](const std::string& who, int32_t code, const ScheduleItem& it) {
    std::string out;
    const SessionResult r = f.Run(who + Int(code) + Record(it), &out);
    EXPECT_EQ(r.end, SessionEnd::Done);
    EXPECT_EQ(out.size(), 20u);
    return out.size() == 20u ? r.answer : -99;
  };
  EXPECT_EQ(answer(taro, RequestAddItem, Item(1, "first")), 1);
  EXPECT_EQ(answer(taro, RequestAddItem, Item(1, "again")), 0) << "Index already taken";
  EXPECT_EQ(f.store.FindItem(f.taro, Item(1).Index)->Subject, "first");
  EXPECT_EQ(answer(taro, RequestUpdateItem, Item(1, "changed")), 1);
  EXPECT_EQ(answer(taro, RequestUpdateItem, Item(2, "never added")), 1) << "update writes unknown items";
  EXPECT_EQ(answer(taro, RequestDeleteItem, Item(1, "changed")), 1);
  EXPECT_EQ(f.store.FindItem(f.taro, Item(1).Index)->SyncFlag, SyncDeleted) << "a tombstone stays";
  EXPECT_EQ(answer(taro, RequestAddItem, Item(1, "re-added")), 1) << "a deleted Index may be reused";
  EXPECT_EQ(f.store.FindItem(f.taro, Item(1).Index)->SyncFlag, SyncClean);

  // A delegate's change lands on the named user, not on the delegate.
  EXPECT_EQ(answer(as_delegate, RequestAddItem, Item(5, "for hanako")), 1);
  EXPECT_EQ(f.store.FindItem(f.hanako, Item(5).Index)->Subject, "for hanako");
  EXPECT_FALSE(f.store.FindItem(f.taro, Item(5).Index).has_value());
  // Revoked after sign-in would be checked again; revoked before, the
  // sign-in itself fails.
  std::string err;
  ASSERT_TRUE(f.store.Revoke("taro", "hanako", &err)) << err;
  std::string out;
  EXPECT_EQ(f.Run(as_delegate + Int(RequestAddItem) + Record(Item(6)), &out).end, SessionEnd::Refused);
  EXPECT_EQ(out.substr(0, 4), Int(-2));
  EXPECT_FALSE(f.store.FindItem(f.hanako, Item(6).Index).has_value());
}

TEST(ServerSession, UploadAppliesLastWriterOnUpdated) {
  Fixture f;
  const std::string taro = Line("taro") + Line("pw-taro");
  ScheduleItem stored = Item(1, "server copy");
  stored.Updated = D(2004, 8, 10, 12);
  ASSERT_EQ(f.store.AddItem(f.taro, stored), 1);

  auto upload = [&](std::vector<ScheduleItem> items) {
    std::string in = taro + Int(RequestUpload) + Date(kNow);
    for (const auto& it : items) in += Record(it);
    EXPECT_EQ(f.Run(in + EndOfList()).end, SessionEnd::Done);
  };
  ScheduleItem older = stored;
  older.Subject = "older";
  older.Updated = stored.Updated.AddSeconds(-1);
  upload({older});
  EXPECT_EQ(f.store.FindItem(f.taro, stored.Index)->Subject, "server copy");

  ScheduleItem same = stored;
  same.Subject = "same time";
  upload({same});
  EXPECT_EQ(f.store.FindItem(f.taro, stored.Index)->Subject, "server copy") << "a tie keeps what is stored";

  ScheduleItem deletion = stored;
  deletion.SyncFlag = SyncDeleted;
  upload({deletion});
  EXPECT_EQ(f.store.FindItem(f.taro, stored.Index)->SyncFlag, SyncDeleted) << "a deletion wins a tie";

  ScheduleItem newer = stored;
  newer.Subject = "newer";
  newer.SyncFlag = SyncPending;
  newer.Updated = stored.Updated.AddSeconds(1);
  upload({newer, Item(2, "brand new")});
  const auto got = f.store.FindItem(f.taro, stored.Index);
  EXPECT_EQ(got->Subject, "newer");
  EXPECT_EQ(got->SyncFlag, SyncClean) << "stored as clean whatever flag the client sent";
  EXPECT_EQ(f.store.FindItem(f.taro, Item(2).Index)->Subject, "brand new");

  // One upload naming items twice, over more records than one round trip
  // carries: next to each other, and far apart. Each ends as the newer of
  // its two versions, stored once.
  std::vector<ScheduleItem> firsts, seconds, many;
  for (int k = 0; k < 150; ++k) {
    ScheduleItem a = Item(100 + k, "first");
    a.Updated = D(2004, 8, 11);
    ScheduleItem b = a;
    b.Subject = "second";
    b.Updated = a.Updated.AddSeconds(k % 2 ? 60 : -60);
    firsts.push_back(a);
    seconds.push_back(b);
  }
  for (int k = 0; k < 150; ++k) {
    many.push_back(firsts[k]);
    if (k < 40) many.push_back(seconds[k]);
  }
  many.insert(many.end(), seconds.begin() + 40, seconds.end());
  upload(many);
  for (int k = 0; k < 150; ++k)
    ASSERT_EQ(f.store.FindItem(f.taro, Item(100 + k).Index)->Subject, k % 2 ? "second" : "first") << k;
  EXPECT_EQ(f.store.ItemCount(f.taro), 152);
}

// The bytes a client sends for each vector are taken by the server as the
// same fields, and a download gives the client back the same bytes.
TEST(ServerSession, SharedVectorsRoundTripThroughTheServer) {
  std::string error;
  const auto vectors = LoadRecordVectors(RecordVectorPath(), error);
  ASSERT_FALSE(vectors.empty()) << error;
  Fixture f;
  int checked = 0;
  for (std::size_t i = 0; i < vectors.size(); ++i) {
    const RecordVector& v = vectors[i];
    // Only canonical records name every field, so only they decode the same
    // over the server's blank item as over the vector's base item.
    if (!v.encode) continue;
    SCOPED_TRACE(v.name);
    const std::string user = "vector" + std::to_string(i);
    int32_t id = 0;
    ASSERT_TRUE(f.store.AddUser(user, user, "pw", 0, &id, &error)) << error;
    const std::string sign_in = Line(user) + Line("pw");
    ASSERT_EQ(f.Run(sign_in + Int(RequestUpload) + Date(kNow) + v.bytes + EndOfList()).end, SessionEnd::Done);

    const auto stored = f.store.ChangedSince(id, DateTime::Invalid());
    if (!v.expected.Index.IsValid() || v.expected.SyncFlag == SyncEndOfList) {
      EXPECT_TRUE(stored.empty()) << "a record without a usable Index is not stored";
      continue;
    }
    ASSERT_EQ(stored.size(), 1u);
    ScheduleItem want = v.expected;
    want.SyncFlag = v.expected.SyncFlag == SyncDeleted ? SyncDeleted : SyncClean;
    EXPECT_EQ(DescribeDifferences(want, stored[0]), "");

    std::string out;
    ASSERT_EQ(f.Run(sign_in + Int(RequestDownload) + Date(DateTime::Invalid()), &out).end, SessionEnd::Done);
    const std::string expected_bytes = Record(want);
    if (want.SyncFlag == v.item.SyncFlag) {
      EXPECT_EQ(expected_bytes, v.bytes);
    }
    EXPECT_EQ(out.substr(16), expected_bytes + EndOfList());
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

// The largest record the client will send is one the server takes with
// its default limits.
TEST(ServerSession, TakesTheLargestRecordTheClientSends) {
  Fixture f;
  ScheduleItem big = Item(1, "big");
  big.Desc = std::string(kMaxRecordLength - EncodeRecordText(big).size(), 'd');
  ASSERT_EQ(EncodeRecordText(big).size(), static_cast<std::size_t>(kMaxRecordLength));
  std::string out;
  const SessionResult r = f.Run(Line("taro") + Line("pw-taro") + Int(RequestAddItem) + Record(big), &out);
  EXPECT_EQ(r.end, SessionEnd::Done);
  EXPECT_EQ(r.answer, 1);
  const auto stored = f.store.FindItem(f.taro, big.Index);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->Desc.size(), big.Desc.size());
}


// A record that fits on the way in but would not fit on the way out (its
// empty dates come back as "Invalid DateTime") is never stored, and an
// item stored too long before that rule cannot hold up its owner's other
// items.
TEST(ServerSession, StoresOnlyWhatClientsCanReadBack) {
  Fixture f;
  ScheduleItem grows = Item(1, "grows");
  std::string text = EncodeRecordText(grows);
  for (const char* key : {"RepStart=", "RepEnd="}) {
    const std::size_t at = text.find(key) + std::string(key).size();
    text.erase(at, text.find(kFieldSeparator, at) - at);
  }
  text += std::string(1, kFieldSeparator) + "Attr1=";
  text += std::string(kMaxRecordLength - text.size(), 'a');
  ASSERT_EQ(text.size(), static_cast<std::size_t>(kMaxRecordLength));
  const std::string sign_in = Line("taro") + Line("pw-taro");
  const std::string before = f.Snapshot();
  SessionResult r = f.Run(sign_in + Int(RequestAddItem) + Frame(text));
  EXPECT_EQ(r.end, SessionEnd::Done);
  EXPECT_EQ(r.answer, 0);
  r = f.Run(sign_in + Int(RequestUpload) + Date(kNow) + Frame(text) + EndOfList());
  EXPECT_TRUE(r.reset) << "the client must keep it pending";
  EXPECT_EQ(f.Snapshot(), before);

  ScheduleItem huge = Item(2, "huge");
  huge.Desc = std::string(kMaxRecordLength, 'd');
  ASSERT_EQ(f.store.AddItem(f.taro, huge), 1);
  ASSERT_EQ(f.store.AddItem(f.taro, Item(3, "small")), 1);
  std::string out;
  ASSERT_EQ(f.Run(sign_in + Int(RequestDownload) + Date(DateTime::Invalid()), &out).end,
            SessionEnd::Done);
  EXPECT_NE(out.find("Subject=small"), std::string::npos);
  EXPECT_EQ(out.find("Subject=huge"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - EndOfList().size()), EndOfList());
}

}  // namespace
}  // namespace kv::server
