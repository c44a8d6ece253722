#pragma once
// Shared by the group tests: the reference server on loopback with three
// users, and a secret service in memory.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/group/PasswordKeeper.h"
#include "store/ItemStore.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/TestSupport.h"

namespace kv::test {

// taro, hanako and jiro; hanako may write taro's items.
struct Team {
  ScopedClock clock;
  server::test::LoopbackServer net;
  server::ServerStore& store = net.store;
  std::unique_ptr<server::Server>& server = net.server;
  int32_t taro = 0, hanako = 0, jiro = 0;
  explicit Team(DateTime now) : clock(now) {
    server::ServerConfig cfg;
    cfg.idle_timeout_ms = 2000;
    cfg.stop_grace_ms = 1000;
    std::string err;
    using server::test::Person;
    EXPECT_TRUE(net.Start({Person("taro", &taro), Person("hanako", &hanako), Person("jiro", &jiro)},
                          {{"hanako", "taro"}}, cfg, &err))
        << err;
  }
  // Uploads have no answer: waits until the server has applied them.
  void Settle() {
    if (!server::test::Settle(*server)) ADD_FAILURE() << "the server did not finish its connections";
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
