#pragma once
// A POSIX TCP connection as a ByteChannel, with time-outs for the name
// look-up, the connect, every transfer and the whole conversation.
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "sync/WireStream.h"

namespace kv {

struct Endpoint {
  sockaddr_storage addr{};
  socklen_t len = 0;
};

// Turns a host name or address into endpoints to try in order; false when
// the name cannot be resolved. It runs on a helper thread and is waited for
// only as long as the connect time-out allows, so a look-up that never
// returns cannot hold the caller.
using Resolver = std::function<bool(const std::string& host, int port, std::vector<Endpoint>& out)>;
// The platform's look-up (getaddrinfo).
bool SystemResolve(const std::string& host, int port, std::vector<Endpoint>& out);

struct ChannelTimeouts {
  int connect_ms = 10000;   // look-up and connect
  int io_ms = 30000;        // each read or write
  int request_ms = 300000;  // everything from the look-up to the close
};

class TcpChannel final : public ByteChannel {
 public:
  TcpChannel() = default;
  ~TcpChannel() override { Close(); }
  TcpChannel(const TcpChannel&) = delete;
  TcpChannel& operator=(const TcpChannel&) = delete;

  // Resolves host (name or dotted address) and connects; false on any
  // failure. The request deadline starts here. An empty resolver means
  // SystemResolve.
  bool Connect(const std::string& host, int port, const ChannelTimeouts& timeouts,
               const Resolver& resolve = {});
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // Ends the sending direction (the peer reads the end of the stream);
  // reading goes on.
  bool ShutdownWrite();

  std::ptrdiff_t Read(char* buf, std::size_t max) override;
  bool Write(const char* data, std::size_t n) override;

 private:
  using SteadyClock = std::chrono::steady_clock;
  // Milliseconds to wait for the next transfer; 0 once the deadline passed.
  int WaitBudget() const;

  int fd_ = -1;
  int io_timeout_ms_ = 30000;
  SteadyClock::time_point deadline_{};
};

}  // namespace kv
