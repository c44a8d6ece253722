#pragma once
// The listening side: accepts connections on one address and runs each
// connection's session on a thread of its own.
//
// Connections that have not yet sent both sign-in lines are idle: they get
// a short deadline, and when the server is full (overall, or for one
// client address) the oldest idle one is closed to make room, so clients
// that connect and trickle cannot keep the others out.
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "server/Budget.h"
#include "server/ServerStore.h"
#include "server/Session.h"
#include "server/SignInGuard.h"

namespace kv::server {

struct ServerConfig {
  std::string address = "127.0.0.1";  // an IPv4 or IPv6 literal
  uint16_t port = 4780;                // 0: any free port (see Server::Port)
  // A connection that sends nothing for this long is closed.
  int idle_timeout_ms = 30000;
  // Both sign-in lines must have come within this time.
  int sign_in_timeout_ms = 5000;
  // No connection lives longer than this, however slowly it trickles.
  int connection_timeout_ms = 300000;
  // Connections served at once, and from one client address (an IPv6
  // client's /64); past either, the oldest idle one makes room, and
  // without one a new connection waits (overall) or is closed (address).
  int max_connections = 256;
  int max_connections_per_address = 32;
  // On stop, connections still running after this are cut off.
  int stop_grace_ms = 5000;
  // What all connections may hold at once for records coming and going.
  std::size_t memory_budget = 256u * 1024 * 1024;
  ThrottleOptions throttle;
  SessionLimits limits;
};

struct ServerStats {
  uint64_t connections = 0;
  uint64_t completed = 0;   // requests that ran to their end
  uint64_t refused = 0;     // refused sign-ins
  uint64_t malformed = 0;   // unusable input, early close, unknown request, eviction
  uint64_t timed_out = 0;
  uint64_t write_failed = 0;
  uint64_t evicted = 0;          // idle connections closed to make room
  uint64_t address_refused = 0;  // closed at once: their address had no room
  uint64_t reset = 0;            // ended with a reset (an upload not applied)
  uint64_t ended = 0;            // connections whose thread has finished
  ServerStats& operator+=(const ServerStats& o) {
    connections += o.connections;
    completed += o.completed;
    refused += o.refused;
    malformed += o.malformed;
    timed_out += o.timed_out;
    write_failed += o.write_failed;
    evicted += o.evicted;
    address_refused += o.address_refused;
    reset += o.reset;
    ended += o.ended;
    return *this;
  }
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
  // Stops accepting, closes idle connections, lets running ones finish
  // within the grace time, cuts off the rest (an upload cut off is reset,
  // never confirmed) and returns when every thread has ended. Safe to
  // call from any thread but not from a signal handler.
  void Stop();
  ServerStats Stats() const;
  SignInGuard& Guard() { return guard_; }
  const MemoryBudget& Budget() const { return budget_; }

 private:
  struct Conn {
    std::string address;
    std::chrono::steady_clock::time_point accepted;
    bool idle = true;
    bool evicted = false;
  };
  class Hooks;

  void AcceptLoop();
  void Serve(int fd, std::string address);
  // Caller holds mu_.
  bool HasIdle() const;
  int OldestIdle(const std::string* address) const;
  void Evict(int fd);
  // A connection's slot is free: in the counts, and unless evicted (which
  // freed its slot already) in the table too.
  void Uncount(const std::string& address);
  void Drop(int fd);
  void SetIdle(int fd, bool idle);
  bool Evicted(int fd) const;
  void Note(const std::string& kind, const std::string& line);

  ServerStore& store_;
  ServerConfig config_;
  SignInGuard guard_;
  MemoryBudget budget_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // stops the acceptor
  int cut_[2] = {-1, -1};   // cuts off every connection
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::map<int, Conn> conns_;  // running connections by socket
  std::unordered_map<std::string, int> per_address_;
  int counted_ = 0;  // connections not evicted
  int running_ = 0;  // connection threads not yet ended
  ServerStats stats_;
  std::map<std::string, std::pair<std::chrono::steady_clock::time_point, uint64_t>> noted_;
};

// The key by which connections and sign-ins of one client are counted:
// the IPv4 address, or the /64 of an IPv6 one.
std::string ClientKey(const ::sockaddr_storage& peer);

}  // namespace kv::server
