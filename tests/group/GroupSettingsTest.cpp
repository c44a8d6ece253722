// Where the password is kept, the settings as a new connection target,
// and the reference-users command around its chooser.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "app/group/PasswordKeeper.h"
#include "app/group/ReferenceUsersCommand.h"
#include "app/group/ServerSettings.h"
#include "tests/group/GroupTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/ScriptedPeer.h"
#include "tests/view/ViewTestSupport.h"
#include "view/Navigation.h"
#include "view/ReferenceUsers.h"

namespace kv {
namespace {

using test::D;
using test::FakeSecrets;
using test::J;

TEST(PasswordKeeper, TheSecretServiceHoldsThePasswordAndTheStoreIsTheFallback) {
  FakeSecrets secrets;
  {
    PasswordKeeper k(&secrets, "key");
    EXPECT_EQ(k.Place(), PasswordPlace::SecretService);
    EXPECT_EQ(k.Load(""), "");
    EXPECT_EQ(k.Keep(J("秘密")), "");
    EXPECT_EQ(secrets.entries["key"], J("秘密"));
  }
  {
    PasswordKeeper k(&secrets, "key");  // the next start
    EXPECT_EQ(k.Load(""), J("秘密"));
    EXPECT_EQ(k.Place(), PasswordPlace::SecretService);
    // Emptied in the dialog: nothing left behind anywhere.
    EXPECT_EQ(k.Keep(""), "");
    EXPECT_TRUE(secrets.entries.empty());
    EXPECT_EQ(k.Keep(""), "");  // already gone is fine
  }
  {
    // A store written by an older version: its column is used as it is
    // and moves over at the next save.
    secrets.entries["key"] = "stale";
    PasswordKeeper k(&secrets, "key");
    const int reads = secrets.reads;
    EXPECT_EQ(k.Load("old-pw"), "old-pw");
    EXPECT_EQ(secrets.reads, reads);
    EXPECT_EQ(k.Keep("old-pw"), "");
    EXPECT_EQ(secrets.entries["key"], "old-pw");
  }
  for (auto none : {std::optional<SecretStore::Status>(SecretStore::Status::Unavailable),
                    std::optional<SecretStore::Status>(SecretStore::Status::Failed),
                    std::optional<SecretStore::Status>()}) {
    FakeSecrets broken;
    broken.broken = none;
    PasswordKeeper k(none ? &broken : nullptr, "key");
    EXPECT_EQ(k.Place(), PasswordPlace::Store);
    EXPECT_EQ(k.Load("col"), "col");
    // What a broken service may hold is unknown, not empty.
    EXPECT_EQ(k.Load(""), none ? std::nullopt : std::optional<std::string>(""));
    EXPECT_EQ(k.Keep("pw"), "pw");
    EXPECT_EQ(broken.writes, 0);
  }
  {
    // A service that refuses the write: the store keeps it, and the
    // service is not asked again in this run.
    FakeSecrets refusing;
    refusing.write_fails = SecretStore::Status::Failed;
    PasswordKeeper k(&refusing, "key");
    EXPECT_EQ(k.Place(), PasswordPlace::SecretService);
    EXPECT_EQ(k.Keep("pw"), "pw");
    EXPECT_EQ(k.Place(), PasswordPlace::Store);
    EXPECT_EQ(k.Keep("pw2"), "pw2");
    EXPECT_EQ(refusing.writes, 1);
  }
}

struct StoreFile {
  test::TempDir dir;
  std::string path = dir.File("me.db");
  ItemStore store;
  StoreFile() { EXPECT_EQ(store.CreateStore(path), 1); }
  std::string Column() {
    std::string u, s, pw;
    int32_t port = 0;
    DateTime last;
    EXPECT_EQ(store.ReadSettings(u, s, port, pw, last), 1);
    return pw;
  }
  mode_t Mode() {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 0777;
  }
};

ServerSettings Settings(const std::string& password) {
  ServerSettings s;
  s.ServerName = "cal.example";
  s.ServerPort = 4780;
  s.UserName = "taro";
  s.Password = password;
  return s;
}

TEST(SaveServerSettings, TheRowHoldsNoPasswordWhenTheServiceTookIt) {
  test::ScopedClock clock(D(2005, 3, 9, 12));
  FakeSecrets secrets;
  StoreFile f;
  ConnectionState conn;
  {
    PasswordKeeper k(&secrets, f.path);
    const SettingsSaved saved = SaveServerSettings(conn, f.store, k, Settings("pw"), f.path);
    EXPECT_TRUE(saved.row_written);
    EXPECT_EQ(saved.place, PasswordPlace::SecretService);
  }
  EXPECT_EQ(f.Column(), "");
  EXPECT_EQ(conn.Password, "pw");  // what the server receives
  EXPECT_EQ(conn.ServerName, "cal.example");
  {
    PasswordKeeper k(&secrets, f.path);
    EXPECT_EQ(k.Load(f.Column()), "pw");
  }

  // An older version's row with the password in it.
  ASSERT_EQ(f.store.WriteSettings("taro", "cal.example", 4780, "from-old"), 1);
  PasswordKeeper k(&secrets, f.path);
  ConnectionState conn2;
  conn2.Password = k.Load(f.Column()).value_or("unread");
  EXPECT_EQ(conn2.Password, "from-old");
  SaveServerSettings(conn2, f.store, k, Settings(conn2.Password), f.path);
  EXPECT_EQ(f.Column(), "");
  EXPECT_EQ(secrets.entries[f.path], "from-old");
}

TEST(SaveServerSettings, WithoutAServiceTheStoreKeepsItPrivate) {
  test::ScopedClock clock(D(2005, 3, 9, 12));
  StoreFile f;
  ASSERT_EQ(::chmod(f.path.c_str(), 0644), 0);  // as some other program might leave it
  ConnectionState conn;
  PasswordKeeper k(nullptr, f.path);
  const SettingsSaved saved = SaveServerSettings(conn, f.store, k, Settings("pw"), f.path);
  EXPECT_TRUE(saved.row_written);
  EXPECT_TRUE(saved.store_private);
  EXPECT_EQ(saved.place, PasswordPlace::Store);
  EXPECT_EQ(f.Column(), "pw");
  EXPECT_EQ(f.Mode(), 0600u);
}

TEST(ApplyServerSettings, NewSettingsAreANewTargetWithoutTheOldHoldOff) {
  test::ScopedClock clock(D(2005, 3, 9, 12));
  test::ScriptedPeer peer({{test::CloseConnection()}, {test::CloseConnection()}});
  ConnectionState conn;
  ServerSettings typo = Settings("pw");
  typo.ServerName = "127.0.0.1";
  typo.ServerPort = 1;  // nothing listens there
  ApplyServerSettings(conn, typo);
  conn.ConnectTimeoutMs = conn.IoTimeoutMs = 2000;
  SyncClient c(conn, nullptr);
  EXPECT_EQ(c.CheckConnection(), 0);
  EXPECT_EQ(conn.LastConnectFailure, D(2005, 3, 9, 12));

  // The same settings again: still held off.
  ApplyServerSettings(conn, typo);
  clock.Advance(10);
  EXPECT_EQ(c.CheckConnection(), 0);
  EXPECT_EQ(peer.Accepted(), 0);

  // The port corrected: tried at once.
  ServerSettings fixed = typo;
  fixed.ServerPort = peer.Port();
  ApplyServerSettings(conn, fixed);
  EXPECT_EQ(c.CheckConnection(), 1);
  EXPECT_EQ(conn.Online, 1);
  c.Disconnect();

  // Online already: a change is simply the next target.
  ApplyServerSettings(conn, typo);
  EXPECT_EQ(c.CheckConnection(), 0);
  ApplyServerSettings(conn, fixed);
  EXPECT_EQ(c.CheckConnection(), 1);
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 2);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});

  // Line breaks would end the sign-in line early.
  ServerSettings bad = fixed;
  bad.UserName = "taro\r";
  EXPECT_EQ(CheckServerSettings(bad), SettingsProblem::LineBreakInUserName);
  bad = fixed;
  bad.Password = "a\nb";
  EXPECT_EQ(CheckServerSettings(bad), SettingsProblem::LineBreakInPassword);
  bad = fixed;
  bad.ServerPort = 65536;
  EXPECT_EQ(CheckServerSettings(bad), SettingsProblem::PortOutOfRange);
  EXPECT_EQ(CheckServerSettings(fixed), SettingsProblem::None);
}

UserEntry User(int32_t id, const std::string& name, const std::string& display = {}) {
  UserEntry u;
  u.UserID = id;
  u.UserName = name;
  u.DisplayName = display;
  return u;
}

TEST(ReferenceUsersCommand, OfflineOrWithoutAListTheChooserIsNotShown) {
  StoreFile f;
  ASSERT_EQ(f.store.SaveUserList({User(2, "ann"), User(3, "bob")}), 1);
  test::FakeHost messages;
  ViewState state;
  state.DrawEnabled = 1;
  int list_calls = 0, shown = 0;
  bool list_ok = true;
  ReferenceUsersDeps deps;
  deps.get_user_list = [&](std::vector<UserEntry>& out) {
    ++list_calls;
    out = {User(2, "ann", "Ann"), User(4, "cat", "Cat")};
    return list_ok;
  };
  bool answer = false;
  deps.choose = [&](ReferenceChoice& c) {
    ++shown;
    EXPECT_EQ(state.DrawEnabled, 0);
    // The chooser's moves are its own until OK.
    MoveUser(c.candidates, c.chosen, 0);
    return answer;
  };

  // Believed offline, the server is asked all the same: the user asked.
  state.Online = 0;
  list_ok = false;
  EXPECT_EQ(RunReferenceUsersCommand(state, f.store, "me", deps, messages),
            ReferenceUsersResult::NotConnected);
  EXPECT_EQ(list_calls, 1);
  state.Online = 1;
  EXPECT_EQ(RunReferenceUsersCommand(state, f.store, "me", deps, messages),
            ReferenceUsersResult::NotConnected);
  EXPECT_EQ(list_calls, 2);
  EXPECT_EQ(shown, 0);
  ASSERT_EQ(messages.messages.size(), 2u);
  for (const auto& m : messages.messages) EXPECT_EQ(m, NotConnectedText());
  EXPECT_EQ(state.DrawEnabled, 1);

  // Cancel: the store keeps both; memory holds what the server still lists.
  list_ok = true;
  state.RefreshReferences = 0;
  EXPECT_EQ(RunReferenceUsersCommand(state, f.store, "me", deps, messages),
            ReferenceUsersResult::Cancelled);
  EXPECT_EQ(shown, 1);
  std::vector<UserEntry> stored;
  f.store.LoadUserList(stored);
  EXPECT_EQ(stored.size(), 2u);
  ASSERT_EQ(state.ReferenceUsers.size(), 1u);
  EXPECT_EQ(state.ReferenceUsers[0].DisplayName, "Ann");
  EXPECT_EQ(state.RefreshReferences, 0);
  EXPECT_EQ(state.DrawEnabled, 1);

  // OK on a store that cannot be written: said, not hidden.
  answer = true;
  f.store.CloseStore();
  EXPECT_EQ(RunReferenceUsersCommand(state, f.store, "me", deps, messages),
            ReferenceUsersResult::SaveFailed);
  EXPECT_EQ(messages.messages.back(), ReferenceUsersNotSavedText());
  EXPECT_EQ(state.DrawEnabled, 1);
}

}  // namespace
}  // namespace kv
