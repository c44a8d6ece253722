#pragma once
#include <string>
#include <vector>

#include "sync/Notifier.h"
#include "sync/SyncClient.h"

namespace kv::test {

struct RecordingNotifier final : UserNotifier {
  std::vector<std::string> messages;  // CP932
  std::vector<std::string> statuses;
  void ShowMessage(const std::string& m) override { messages.push_back(m); }
  void SetStatus(int pane, const std::string& t) override {
    statuses.push_back(std::to_string(pane) + ":" + t);
  }
};

inline ConnectionState LocalServer(int port) {
  ConnectionState st;
  st.UserName = "taro";
  st.ServerName = "127.0.0.1";
  st.ServerPort = port;
  st.Password = "pw";
  st.ConnectTimeoutMs = 2000;
  st.IoTimeoutMs = 2000;
  return st;
}

// The same, signing in as `user` with `password`.
inline ConnectionState LocalServer(int port, const std::string& user, const std::string& password) {
  ConnectionState st = LocalServer(port);
  st.UserName = user;
  st.Password = password;
  return st;
}

}  // namespace kv::test
