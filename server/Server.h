#pragma once
// The listening side: accepts connections on one address and runs each
// connection's session on a thread of its own.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "server/ServerStore.h"
#include "server/Session.h"

namespace kv::server {

struct ServerConfig {
  std::string address = "127.0.0.1";  // an IPv4 or IPv6 literal
  uint16_t port = 4780;                // 0: any free port (see Server::Port)
  // A connection that sends nothing for this long is closed.
  int idle_timeout_ms = 30000;
  // No connection lives longer than this, however slowly it trickles.
  int connection_timeout_ms = 300000;
  // Connections served at once; further ones wait in the listen queue.
  int max_connections = 256;
  // On stop, connections still running after this are cut off.
  int stop_grace_ms = 5000;
  SessionLimits limits;
};

struct ServerStats {
  uint64_t connections = 0;
  uint64_t completed = 0;   // requests that ran to their end
  uint64_t refused = 0;     // refused sign-ins
  uint64_t malformed = 0;   // unusable input, early close, unknown request
  uint64_t timed_out = 0;
  uint64_t write_failed = 0;
};

class Server {
 public:
  Server(ServerStore& store, ServerConfig config);
  ~Server();  // stops and waits
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds, listens and starts accepting; false with a reason on failure.
  bool Start(std::string* error = nullptr);
  // The bound port (the chosen one when the configured port was 0).
  uint16_t Port() const { return port_; }
  // Stops accepting, lets running connections finish within the grace
  // time, cuts off the rest and returns when every thread has ended.
  // Safe to call from any thread but not from a signal handler.
  void Stop();
  ServerStats Stats() const;

 private:
  void AcceptLoop();
  void Serve(int fd);

  ServerStore& store_;
  ServerConfig config_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::set<int> active_;  // sockets of running connections
  int running_ = 0;       // connection threads not yet ended
  ServerStats stats_;
};

}  // namespace kv::server
