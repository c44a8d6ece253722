#pragma once
// The reference server in-process on loopback, over a store of its own in
// a temporary folder, as the tests of the server, the sync client, the item
// commands, the group side and the window run it.
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/Server.h"
#include "server/ServerStore.h"
#include "tests/support/TestSupport.h"

namespace kv::server::test {

// Waits (at most `within`) until every connection the server took has
// ended; false if some never did. An upload has no answer, and the counts
// of a refusal are made after it was sent.
inline bool Settle(const Server& server, std::chrono::seconds within = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < until) {
    const ServerStats s = server.Stats();
    if (s.ended >= s.connections) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

struct TestUser {
  std::string name;
  std::string display;  // CP932
  std::string password;
  int32_t* id = nullptr;  // receives the ID the store gave the user
};

// One of the tests' people: taro (山田太郎), hanako (佐藤花子) or jiro
// (鈴木次郎), with the password "pw-" and the name.
inline TestUser Person(const std::string& name, int32_t* id) {
  static const std::map<std::string, const char*> kDisplay = {
      {"taro", "山田太郎"}, {"hanako", "佐藤花子"}, {"jiro", "鈴木次郎"}};
  const auto it = kDisplay.find(name);
  return TestUser{name, it == kDisplay.end() ? std::string() : kv::test::J(it->second), "pw-" + name, id};
}

// `writer` may add, change and delete the items of `owner`.
struct TestGrant {
  std::string writer, owner;
};

struct LoopbackServer {
  kv::test::TempDir dir;
  ServerStore store;
  std::unique_ptr<Server> server;

  // Opens the store (commits without waiting for the disk), adds the users
  // and the grants, and starts on a free port; false, with the reason, at
  // the first step that fails.
  bool Start(const std::vector<TestUser>& users, const std::vector<TestGrant>& grants, ServerConfig cfg,
             std::string* error) {
    if (!store.Open(dir.File("server.db"), error)) return false;
    store.SetFullSync(false);
    for (const TestUser& u : users)
      if (!store.AddUser(u.name, u.display, u.password, 0, u.id, error)) return false;
    for (const TestGrant& g : grants)
      if (!store.Grant(g.writer, g.owner, error)) return false;
    cfg.port = 0;
    server = std::make_unique<Server>(store, cfg);
    return server->Start(error);
  }

  uint16_t Port() const { return server->Port(); }

  // The user's items the server holds, tombstones left out: Index to Subject.
  std::map<std::string, std::string> Live(int32_t user) {
    std::map<std::string, std::string> m;
    for (const auto& it : store.LiveItems(user)) m[it.Index.ToString()] = it.Subject;
    return m;
  }
};

}  // namespace kv::server::test
