// Who can get at the server's data: the file's mode, how passwords are
// kept and checked, and how guessing them is held back.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

#include "server/Log.h"
#include "server/Password.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "server/SignInGuard.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/SyncTestSupport.h"

namespace kv::server {
namespace {

using namespace kv::test;
using namespace kv::server::test;

// Collects the server's log lines for the lifetime of the object.
struct CapturedLog {
  std::mutex mu;
  std::vector<std::string> lines;
  CapturedLog() {
    SetLogSink([this](std::string_view l) {
      std::lock_guard<std::mutex> lock(mu);
      lines.emplace_back(l);
    });
  }
  ~CapturedLog() { SetLogSink({}); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mu);
    return std::exchange(lines, {});
  }
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 07777;
  return st.st_mode & 07777;
}

struct ScopedUmask {
  mode_t old;
  explicit ScopedUmask(mode_t m) : old(umask(m)) {}
  ~ScopedUmask() { umask(old); }
};

TEST(ServerFiles, DatabaseAndItsJournalsAreReadableByTheOwnerOnly) {
  ScopedUmask usual(022);
  TempDir dir;
  {
    const std::string path = dir.File("new.db");
    ServerStore store;
    std::string err;
    ASSERT_TRUE(store.Open(path, &err)) << err;
    int32_t id = 0;
    ASSERT_TRUE(store.AddUser("taro", "Taro", "pw-taro", 0, &id, &err)) << err;
    ScheduleItem it;
    it.Index = D(2004, 8, 1, 9);
    it.Subject = "private text";
    ASSERT_EQ(store.AddItem(id, it), 1);
    // While open, WAL mode keeps both side files.
    for (const std::string& f : {path, path + "-wal", path + "-shm"}) {
      SCOPED_TRACE(f);
      EXPECT_EQ(ModeOf(f), 0600u);
    }
  }
  // A file (and a journal left by a crash) made by an earlier version.
  const std::string old = dir.File("old.db");
  {
    ServerStore store;
    ASSERT_TRUE(store.Open(old));
  }
  ASSERT_EQ(chmod(old.c_str(), 0644), 0);
  { std::ofstream(old + "-wal").put('\0'); }
  ASSERT_EQ(chmod((old + "-wal").c_str(), 0664), 0);
  ServerStore store;
  std::string err;
  ASSERT_TRUE(store.Open(old, &err)) << err;
  EXPECT_EQ(ModeOf(old), 0600u);
  EXPECT_EQ(ModeOf(old + "-wal"), 0600u);
}

std::string StoredHash(ServerStore& store, const std::string& name) {
  const auto c = store.CredentialsOf(name);
  return c ? c->hash : std::string();
}

// Writes a raw password column, as an earlier version left it.
void PlantHash(const std::string& db_path, const std::string& name, const std::string& hash) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE users SET password = ? WHERE name = ?", -1, &q, nullptr), SQLITE_OK);
  sqlite3_bind_text(q, 1, hash.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_blob(q, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(q), SQLITE_DONE);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_finalize(q);
  sqlite3_close(db);
}

// Made by the first server for "pw-legacy".
const char* const kLegacyHash =
    "v1$d906e6c33e74a8ad51a5055a44feaa6a$8d119933a747baeeb961bcad183b6f0708f97ca431b05c6ca061d00307128103";

TEST(ServerPasswords, KeptAsArgon2idAndNeverEmpty) {
  TempDir dir;
  ServerStore store;
  ASSERT_TRUE(store.Open(TestDatabase(dir, "s.db")));
  std::string err;
  int32_t a = 0, b = 0;
  ASSERT_TRUE(store.AddUser("taro", "", "same password", 0, &a, &err)) << err;
  ASSERT_TRUE(store.AddUser("hanako", "", "same password", 0, &b, &err)) << err;
  const std::string ha = StoredHash(store, "taro"), hb = StoredHash(store, "hanako");
  EXPECT_EQ(ha.rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u) << ha;
  EXPECT_NE(ha, hb) << "every hash has its own salt";
  EXPECT_EQ(ha.find("same password"), std::string::npos);
  EXPECT_FALSE(NeedsRehash(ha));
  EXPECT_EQ(store.Authenticate("taro", "same password").code, 0);
  EXPECT_EQ(store.Authenticate("taro", "same passwore").code, -2);

  EXPECT_FALSE(store.AddUser("jiro", "", "", 0, nullptr, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(store.FindUser("jiro").has_value());
  EXPECT_FALSE(store.SetPassword("taro", "", &err));
  EXPECT_EQ(StoredHash(store, "taro"), ha);
  EXPECT_EQ(store.Authenticate("taro", "").code, -2);

  // Stored forms that are not hashes at all never match.
  for (const std::string& bad : std::vector<std::string>{"", "same password", "$argon2id$", "$argon2id$v=19$m=1,t=1,p=1$$", "v1$",
                                "v1$00", std::string(4096, 'v'), "$argon2i$v=19$m=19456,t=2,p=1$c2FsdHNhbHQ$AAAA"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(CheckPassword("same password", bad));
    EXPECT_FALSE(CheckPassword("", bad));
    EXPECT_TRUE(NeedsRehash(bad));
  }
}

TEST(ServerPasswords, EarlierHashesStillSignInAndAreReplacedThen) {
  TempDir dir;
  const std::string path = dir.File("s.db");
  ServerStore store;
  ASSERT_TRUE(store.Open(path));
  std::string err;
  int32_t old_id = 0, hanako = 0;
  ASSERT_TRUE(store.AddUser("old", "", "placeholder", 0, &old_id, &err)) << err;
  ASSERT_TRUE(store.AddUser("hanako", "", "pw-hanako", 0, &hanako, &err)) << err;
  PlantHash(path, "old", kLegacyHash);
  ASSERT_EQ(StoredHash(store, "old"), kLegacyHash);

  EXPECT_EQ(store.Authenticate("old", "pw-legacx").code, -2);
  EXPECT_EQ(StoredHash(store, "old"), kLegacyHash) << "a failed sign-in changes nothing";
  EXPECT_EQ(store.Authenticate("old", "pw-legacy").code, 0);
  const std::string upgraded = StoredHash(store, "old");
  EXPECT_EQ(upgraded.rfind("$argon2id$", 0), 0u) << upgraded;
  EXPECT_EQ(store.Authenticate("old", "pw-legacy").code, 0) << "the new hash holds the same password";
  EXPECT_EQ(store.Authenticate("old", "pw-legacx").code, -2);
  EXPECT_EQ(StoredHash(store, "old"), upgraded);

  // A delegate's old hash is replaced when it signs in for someone else.
  ASSERT_TRUE(store.Grant("old", "hanako", &err)) << err;
  PlantHash(path, "old", kLegacyHash);
  const SignIn as_delegate = store.Authenticate("hanako", "pw-legacy");
  EXPECT_EQ(as_delegate.code, 0);
  EXPECT_EQ(as_delegate.actor, old_id);
  EXPECT_EQ(as_delegate.owner, hanako);
  EXPECT_EQ(StoredHash(store, "old").rfind("$argon2id$", 0), 0u);
}

struct GuardFixture {
  TempDir dir;
  ServerStore store;
  int64_t now = 1000000;
  ThrottleOptions options;
  std::unique_ptr<SignInGuard> guard;
  CapturedLog log;
  GuardFixture() {
    std::string err;
    EXPECT_TRUE(store.Open(TestDatabase(dir, "s.db"), &err)) << err;
    for (const char* u : {"taro", "hanako", "jiro"})
      EXPECT_TRUE(store.AddUser(u, "", std::string("pw-") + u, 0, nullptr, &err)) << err;
    guard = std::make_unique<SignInGuard>(options, [this] { return now; });
  }
  GuardOutcome Try(const std::string& name, const std::string& password, const std::string& from) {
    return guard->SignInAs(store, name, password, from);
  }
};

TEST(ServerThrottle, GuessesFromOneAddressAreSlowedThenHeldBack) {
  GuardFixture f;
  const ThrottleOptions& o = f.options;
  std::vector<std::string> guesses;
  int last_delay = 0;
  for (int i = 1; i <= o.lock_after; ++i) {
    SCOPED_TRACE(i);
    guesses.push_back("guess-" + std::to_string(i));
    const GuardOutcome r = f.Try("taro", guesses.back(), "192.0.2.7");
    EXPECT_EQ(r.who.code, -2);
    EXPECT_FALSE(r.throttled);
    if (i <= o.free_failures) {
      EXPECT_EQ(r.delay_ms, 0) << "a few typing errors are answered at once";
    } else {
      EXPECT_GT(r.delay_ms, 0);
      EXPECT_GE(r.delay_ms, last_delay) << "the delay grows";
      EXPECT_LE(r.delay_ms, o.max_delay_ms);
    }
    last_delay = r.delay_ms;
    f.now += 1000;
  }
  EXPECT_GT(last_delay, SignInGuard::DelayFor(o, o.free_failures + 1));

  // Held back: not even the right password is looked at.
  const uint64_t checked = f.guard->Verifications();
  GuardOutcome held = f.Try("taro", "pw-taro", "192.0.2.7");
  EXPECT_EQ(held.who.code, -2);
  EXPECT_TRUE(held.throttled);
  EXPECT_EQ(f.guard->Verifications(), checked);
  // The real user elsewhere is not held back.
  EXPECT_EQ(f.Try("taro", "pw-taro", "198.51.100.1").who.code, 0);

  // The refusal ends; one more failure holds back for twice as long.
  f.now += SignInGuard::LockFor(o, o.lock_after, o.lock_after) + 1;
  EXPECT_EQ(f.Try("taro", "guess-again", "192.0.2.7").who.code, -2);
  f.now += SignInGuard::LockFor(o, o.lock_after, o.lock_after) + 1;
  EXPECT_TRUE(f.Try("taro", "pw-taro", "192.0.2.7").throttled);
  f.now += SignInGuard::LockFor(o, o.lock_after + 1, o.lock_after);
  EXPECT_EQ(f.Try("taro", "pw-taro", "192.0.2.7").who.code, 0);
  EXPECT_LE(SignInGuard::LockFor(o, 1000, o.lock_after), o.max_lock_ms) << "never locked for long";

  // Every refusal left one line, and none holds a password.
  const auto lines = f.log.Take();
  EXPECT_EQ(lines.size(), guesses.size() + 3);
  for (const std::string& l : lines) {
    EXPECT_EQ(l.find('\n'), std::string::npos);
    EXPECT_NE(l.find("taro"), std::string::npos) << l;
    EXPECT_EQ(l.find("pw-taro"), std::string::npos) << l;
    for (const std::string& g : guesses) EXPECT_EQ(l.find(g), std::string::npos) << l;
  }
}

TEST(ServerThrottle, SpreadGuessingIsHeldBackButNotWhereTheUserSignsIn) {
  GuardFixture f;
  const ThrottleOptions& o = f.options;
  ASSERT_EQ(f.Try("taro", "pw-taro", "198.51.100.1").who.code, 0);
  ASSERT_EQ(f.Try("hanako", "pw-hanako", "198.51.100.2").who.code, 0);
  // One guess at taro from each of many addresses.
  for (int i = 0; i < o.broad_lock_after; ++i)
    ASSERT_EQ(f.Try("taro", "guess", "203.0.113." + std::to_string(i)).who.code, -2);
  EXPECT_TRUE(f.Try("taro", "pw-taro", "192.0.2.200").throttled) << "a new address must wait";
  EXPECT_EQ(f.Try("taro", "pw-taro", "198.51.100.1").who.code, 0) << "taro's own address is not locked out";

  // Many names tried from one address.
  for (int i = 0; i < o.broad_lock_after; ++i)
    ASSERT_EQ(f.Try("user" + std::to_string(i), "guess", "192.0.2.66").who.code, -1);
  EXPECT_TRUE(f.Try("hanako", "pw-hanako", "192.0.2.66").throttled);
  EXPECT_EQ(f.Try("hanako", "pw-hanako", "198.51.100.2").who.code, 0);

  // Failures are forgotten after a while.
  f.now += o.forget_ms + 1;
  EXPECT_EQ(f.Try("taro", "pw-taro", "192.0.2.200").who.code, 0);
  EXPECT_EQ(f.Try("hanako", "pw-hanako", "192.0.2.66").who.code, 0);
}

TEST(ServerThrottle, DelegateSignInChecksEachCandidateOnceAndCountsForIt) {
  GuardFixture f;
  std::string err;
  ASSERT_TRUE(f.store.Grant("taro", "hanako", &err)) << err;
  ASSERT_TRUE(f.store.Grant("jiro", "hanako", &err)) << err;
  const std::string a = "192.0.2.9";

  uint64_t before = f.guard->Verifications();
  EXPECT_EQ(f.Try("hanako", "nobody's", a).who.code, -2);
  EXPECT_EQ(f.guard->Verifications() - before, 3u) << "hanako's own hash and each delegate's, once";

  before = f.guard->Verifications();
  const GuardOutcome ok = f.Try("hanako", "pw-jiro", a);
  EXPECT_EQ(ok.who.code, 0);
  EXPECT_TRUE(ok.who.delegated());
  EXPECT_LE(f.guard->Verifications() - before, 3u);
  before = f.guard->Verifications();
  EXPECT_EQ(f.Try("hanako", "pw-jiro", a).who.code, 0);
  EXPECT_EQ(f.guard->Verifications(), before) << "a password checked lately costs no hash";

  // Guessing taro's password through hanako counts as guessing it
  // directly: once held back, taro's hash is no longer tried that way.
  for (int i = 0; i < f.options.lock_after; ++i) {
    f.now += 100000;
    EXPECT_EQ(f.Try("hanako", "guess" + std::to_string(i), a).who.code, -2);
    // jiro signing in for hanako keeps hanako's own count from locking first.
    EXPECT_EQ(f.Try("hanako", "pw-jiro", a).who.code, 0);
  }
  EXPECT_TRUE(f.Try("taro", "pw-taro", a).throttled);
  f.now += 1000;
  EXPECT_EQ(f.Try("hanako", "pw-taro", "192.0.2.10").who.code, 0) << "another address is not held back";
  before = f.guard->Verifications();
  EXPECT_EQ(f.Try("hanako", "pw-taro", a).who.code, -2);
  EXPECT_EQ(f.guard->Verifications() - before, 2u) << "hanako's and jiro's hashes, not taro's";
}

// The real client, guessing through a real server: after enough wrong
// passwords even the right one is refused for a while.
TEST(ServerThrottle, RealClientIsHeldBackAfterRepeatedGuesses) {
  ScopedClock clock(D(2004, 8, 15, 12));
  TempDir dir;
  ServerStore store;
  ASSERT_TRUE(store.Open(TestDatabase(dir, "s.db")));
  store.SetFullSync(false);
  std::string err;
  ASSERT_TRUE(store.AddUser("taro", "", "pw-taro", 0, nullptr, &err)) << err;
  CapturedLog log;
  ServerConfig cfg;
  cfg.port = 0;
  cfg.throttle.first_delay_ms = 1;
  cfg.throttle.max_delay_ms = 2;
  Server server(store, cfg);
  ASSERT_TRUE(server.Start(&err)) << err;
  auto sign_in = [&](const std::string& password) {
    ConnectionState st = LocalServer(server.Port());
    st.Password = password;
    RecordingNotifier n;
    SyncClient c(st, &n);
    std::vector<UserEntry> users;
    return c.GetUserList(users);
  };
  ASSERT_TRUE(sign_in("pw-taro"));
  for (int i = 0; i < cfg.throttle.lock_after; ++i) EXPECT_FALSE(sign_in("guess" + std::to_string(i)));
  EXPECT_FALSE(sign_in("pw-taro"));
  ASSERT_TRUE(Settle(server));
  EXPECT_GE(server.Stats().refused, static_cast<uint64_t>(cfg.throttle.lock_after + 1));
  bool held_back_logged = false;
  for (const std::string& l : log.Take()) held_back_logged = held_back_logged || l.find("too many") != std::string::npos;
  EXPECT_TRUE(held_back_logged);
}

}  // namespace
}  // namespace kv::server
