#pragma once
// Shared by the group tests: the reference server on loopback with three
// users, and a secret service in memory.
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/group/PasswordKeeper.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "store/ItemStore.h"
#include "tests/support/TestSupport.h"

namespace kv::test {

// taro, hanako and jiro; hanako may write taro's items.
struct Team {
  ScopedClock clock;
  explicit Team(DateTime now) : clock(now) { Setup(); }
  TempDir dir;
  server::ServerStore store;
  std::unique_ptr<server::Server> server;
  int32_t taro = 0, hanako = 0, jiro = 0;
  void Setup() {
    std::string err;
    EXPECT_TRUE(store.Open(dir.File("server.db"), &err)) << err;
    store.SetFullSync(false);
    EXPECT_TRUE(store.AddUser("taro", J("山田太郎"), "pw-taro", 0, &taro, &err)) << err;
    EXPECT_TRUE(store.AddUser("hanako", J("佐藤花子"), "pw-hanako", 0, &hanako, &err)) << err;
    EXPECT_TRUE(store.AddUser("jiro", J("鈴木次郎"), "pw-jiro", 0, &jiro, &err)) << err;
    EXPECT_TRUE(store.Grant("hanako", "taro", &err)) << err;  // hanako may write taro's items
    server::ServerConfig cfg;
    cfg.port = 0;
    cfg.idle_timeout_ms = 2000;
    cfg.stop_grace_ms = 1000;
    server = std::make_unique<server::Server>(store, cfg);
    EXPECT_TRUE(server->Start(&err)) << err;
  }
  // Uploads have no answer: waits until the server has applied them.
  void Settle() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      const server::ServerStats s = server->Stats();
      if (s.completed + s.refused + s.malformed + s.write_failed >= s.connections) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ADD_FAILURE() << "the server did not finish its connections";
  }
};

inline UserEntry Ref(int32_t id, const std::string& name, const std::string& display = {}) {
  UserEntry u;
  u.UserID = id;
  u.UserName = name;
  u.DisplayName = display;
  return u;
}

// A secret service in memory; `broken` makes every call answer that way.
class FakeSecrets final : public SecretStore {
 public:
  std::map<std::string, std::string> entries;
  std::optional<Status> broken;
  std::optional<Status> write_fails;
  int reads = 0, writes = 0, removes = 0;
  Status Read(const std::string& key, std::string& secret) override {
    ++reads;
    if (broken) return *broken;
    auto it = entries.find(key);
    if (it == entries.end()) return Status::NotFound;
    secret = it->second;
    return Status::Ok;
  }
  Status Write(const std::string& key, const std::string& secret) override {
    ++writes;
    if (broken) return *broken;
    if (write_fails) return *write_fails;
    entries[key] = secret;
    return Status::Ok;
  }
  Status Remove(const std::string& key) override {
    ++removes;
    if (broken) return *broken;
    return entries.erase(key) ? Status::Ok : Status::NotFound;
  }
};

}  // namespace kv::test
