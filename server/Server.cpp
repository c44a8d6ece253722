#include "server/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server/Log.h"

namespace kv::server {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A connected socket with an idle time-out per transfer, a deadline that
// the session may move (the sign-in deadline, then the connection's), and
// a pipe that cuts every connection off at once.
class SocketChannel final : public ByteChannel {
 public:
  SocketChannel(int fd, int cut_fd, int idle_ms, SteadyClock::time_point deadline)
      : fd_(fd), cut_fd_(cut_fd), idle_ms_(idle_ms), deadline_(deadline) {}

  std::ptrdiff_t Read(char* buf, std::size_t max) override {
    if (!Wait(POLLIN)) return -1;
    for (;;) {
      const ssize_t n = recv(fd_, buf, max, 0);
      if (n < 0 && errno == EINTR) continue;
      return n < 0 ? -1 : n;
    }
  }

  bool Write(const char* data, std::size_t n) override {
    while (n > 0) {
      if (!Wait(POLLOUT)) return false;
      const ssize_t k = send(fd_, data, n, MSG_NOSIGNAL);
      if (k < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return false;
      }
      data += k;
      n -= static_cast<std::size_t>(k);
    }
    return true;
  }

  void SetDeadline(SteadyClock::time_point t) { deadline_ = t; }

  // Sleeps up to ms; false when the connection was closed or cut meanwhile.
  bool Pause(int ms) {
    const auto until = SteadyClock::now() + milliseconds(ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<milliseconds>(until - SteadyClock::now()).count();
      if (left <= 0) return true;
      pollfd p[2] = {{fd_, 0, 0}, {cut_fd_, POLLIN, 0}};
      const int r = poll(p, 2, static_cast<int>(left));
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) return true;
      if (p[1].revents) cut_ = true;
      return false;
    }
  }

  bool TimedOut() const { return timed_out_; }
  bool Cut() const { return cut_; }

 private:
  bool Wait(short events) {
    for (;;) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - SteadyClock::now()).count();
      if (left <= 0) return Expire();
      pollfd p[2] = {{fd_, events, 0}, {cut_fd_, POLLIN, 0}};
      const int r = poll(p, 2, static_cast<int>(std::min<long long>(left, idle_ms_)));
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) return Expire();
      if (r < 0) return false;
      if (p[1].revents) {
        cut_ = true;
        return false;
      }
      return true;
    }
  }
  bool Expire() {
    timed_out_ = true;
    return false;
  }

  int fd_;
  int cut_fd_;
  int idle_ms_;
  SteadyClock::time_point deadline_;
  bool timed_out_ = false;
  bool cut_ = false;
};

void SetError(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
}

// Closing with a zero linger time sends a reset instead of the orderly
// close that a client takes as its upload's confirmation.
void CloseWithReset(int fd) {
  const linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

}  // namespace

std::string ClientKey(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "";
  if (peer.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
    return text;
  }
  if (peer.ss_family != AF_INET6) return "?";
  in6_addr a = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&a)) {
    inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
    return text;
  }
  // One household or machine gets a /64 of its own.
  std::memset(&a.s6_addr[8], 0, 8);
  inet_ntop(AF_INET6, &a, text, sizeof text);
  return std::string(text) + "/64";
}

// The session's view of its connection.
class Server::Hooks final : public SessionHooks {
 public:
  Hooks(Server& server, int fd, SocketChannel& channel, SteadyClock::time_point end)
      : server_(server), fd_(fd), channel_(channel), end_(end) {}
  void SignInReceived() override {
    channel_.SetDeadline(end_);
    std::lock_guard<std::mutex> lock(server_.mu_);
    server_.SetIdle(fd_, false);
  }
  // A refused client waiting for its answer may make room for others.
  bool Pause(int ms) override {
    {
      std::lock_guard<std::mutex> lock(server_.mu_);
      server_.SetIdle(fd_, true);
    }
    const bool woke = channel_.Pause(ms);
    std::lock_guard<std::mutex> lock(server_.mu_);
    server_.SetIdle(fd_, false);
    return woke && !server_.Evicted(fd_);
  }

 private:
  Server& server_;
  int fd_;
  SocketChannel& channel_;
  SteadyClock::time_point end_;
};

Server::Server(ServerStore& store, ServerConfig config)
    : store_(store), config_(std::move(config)), guard_(config_.throttle), budget_(config_.memory_budget) {}

Server::~Server() { Stop(); }

bool Server::Start(std::string* error) {
  if (listen_fd_ >= 0) return true;
  sockaddr_storage addr{};
  socklen_t len = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET, config_.address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(config_.port);
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, config_.address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(config_.port);
    len = sizeof *v6;
  } else {
    SetError(error, "not an IPv4 or IPv6 address: " + config_.address);
    return false;
  }
  const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(error, std::string("socket: ") + std::strerror(errno));
    return false;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 128) != 0) {
    SetError(error, "cannot listen on " + config_.address + " port " + std::to_string(config_.port) + ": " +
                        std::strerror(errno));
    close(fd);
    return false;
  }
  sockaddr_storage bound{};
  socklen_t blen = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &blen);
  port_ = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                           : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError(error, std::string("pipe: ") + std::strerror(errno));
    close(fd);
    return false;
  }
  if (pipe2(cut_, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError(error, std::string("pipe: ") + std::strerror(errno));
    close(wake_[0]);
    close(wake_[1]);
    wake_[0] = wake_[1] = -1;
    close(fd);
    return false;
  }
  listen_fd_ = fd;
  stopping_ = false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

bool Server::HasIdle() const {
  for (const auto& [fd, c] : conns_)
    if (c.idle && !c.evicted) return true;
  return false;
}

int Server::OldestIdle(const std::string* address) const {
  int best = -1;
  SteadyClock::time_point when{};
  for (const auto& [fd, c] : conns_) {
    if (!c.idle || c.evicted || (address && c.address != *address)) continue;
    if (best < 0 || c.accepted < when) {
      best = fd;
      when = c.accepted;
    }
  }
  return best;
}

void Server::Uncount(const std::string& address) {
  --counted_;
  if (--per_address_[address] <= 0) per_address_.erase(address);
}

void Server::Drop(int fd) {
  const Conn& c = conns_.at(fd);
  if (!c.evicted) Uncount(c.address);
  conns_.erase(fd);
}

void Server::Evict(int fd) {
  Conn& c = conns_.at(fd);
  c.evicted = true;
  Uncount(c.address);
  ++stats_.evicted;
  // Wakes the connection's thread, which then ends; it still owns fd.
  shutdown(fd, SHUT_RDWR);
}

void Server::SetIdle(int fd, bool idle) {
  auto it = conns_.find(fd);
  if (it == conns_.end()) return;
  it->second.idle = idle;
  if (idle) cv_.notify_all();
}

bool Server::Evicted(int fd) const {
  auto it = conns_.find(fd);
  return it == conns_.end() || it->second.evicted;
}

// At most one line a second of each kind: an attack must not flood the log.
void Server::Note(const std::string& kind, const std::string& line) {
  const auto now = SteadyClock::now();
  auto& [last, skipped] = noted_[kind];
  if (last != SteadyClock::time_point{} && now - last < std::chrono::seconds(1)) {
    ++skipped;
    return;
  }
  LogLine(line + (skipped ? " (and " + std::to_string(skipped) + " more like it)" : std::string()));
  last = now;
  skipped = 0;
}

void Server::AcceptLoop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return stopping_ || counted_ < config_.max_connections || HasIdle(); });
      if (stopping_) return;
    }
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    // Wakes now and then: an idle connection may have become busy since.
    const int r = poll(p, 2, 1000);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (stopping_ || (p[1].revents & POLLIN)) return;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_storage peer{};
    socklen_t plen = sizeof peer;
    const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &plen, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors and the like: back off instead of spinning.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) poll(nullptr, 0, 50);
      continue;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const std::string address = ClientKey(peer);
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++stats_.connections;
      if (per_address_[address] >= config_.max_connections_per_address) {
        const int victim = OldestIdle(&address);
        if (victim < 0) {
          ++stats_.address_refused;
          ++stats_.ended;
          Note("address", "connection from " + address + " closed: it already has " +
                              std::to_string(config_.max_connections_per_address) + " running");
          close(fd);
          continue;
        }
        Evict(victim);
      }
      if (counted_ >= config_.max_connections) {
        // The idle connection seen before accepting may have moved on.
        const int victim = OldestIdle(nullptr);
        if (victim < 0) {
          ++stats_.ended;
          Note("full", "server full: a new connection from " + address + " was closed");
          close(fd);
          continue;
        }
        Evict(victim);
        Note("evict", "server full: the oldest connection still signing in was closed");
      }
      ++running_;
      ++counted_;
      ++per_address_[address];
      conns_[fd] = Conn{address, SteadyClock::now(), true, false};
    }
    try {
      std::thread([this, fd, address] { Serve(fd, address); }).detach();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mu_);
      --running_;
      Drop(fd);
      ++stats_.ended;
      close(fd);
      cv_.notify_all();
    }
  }
}

void Server::Serve(int fd, std::string address) {
  const auto accepted = SteadyClock::now();
  const auto end = accepted + milliseconds(config_.connection_timeout_ms);
  SocketChannel channel(fd, cut_[0], config_.idle_timeout_ms,
                        std::min(end, accepted + milliseconds(config_.sign_in_timeout_ms)));
  Hooks hooks(*this, fd, channel, end);
  SessionEnv env;
  env.limits = config_.limits;
  env.guard = &guard_;
  env.budget = &budget_;
  env.address = address;
  env.hooks = &hooks;
  SessionResult result;
  try {
    result = RunSession(channel, store_, env);
  } catch (...) {
    // Out of memory and the like: this connection ends, the server goes on.
    result.end = SessionEnd::Malformed;
  }
  // An upload counts as confirmed only by an orderly close after it was
  // applied; anything cut off is reset so the client keeps its items.
  const bool reset = result.reset || channel.Cut() ||
                     (result.request == RequestUpload && result.end != SessionEnd::Done);
  std::lock_guard<std::mutex> lock(mu_);
  switch (result.end) {
    case SessionEnd::Done: ++stats_.completed; break;
    case SessionEnd::Refused: ++stats_.refused; break;
    case SessionEnd::WriteFailed: ++stats_.write_failed; break;
    default: ++stats_.malformed; break;
  }
  if (channel.TimedOut()) ++stats_.timed_out;
  if (reset) ++stats_.reset;
  ++stats_.ended;
  Drop(fd);
  if (reset) {
    CloseWithReset(fd);
  } else {
    close(fd);
  }
  --running_;
  cv_.notify_all();
}

void Server::Stop() {
  if (listen_fd_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  const char b = 1;
  [[maybe_unused]] const ssize_t w = write(wake_[1], &b, 1);
  if (acceptor_.joinable()) acceptor_.join();
  close(listen_fd_);
  listen_fd_ = -1;
  std::unique_lock<std::mutex> lock(mu_);
  // Nobody waits for a connection that has not even signed in.
  for (auto& [fd, c] : conns_)
    if (c.idle && !c.evicted) Evict(fd);
  if (!cv_.wait_for(lock, milliseconds(config_.stop_grace_ms), [&] { return running_ == 0; })) {
    [[maybe_unused]] const ssize_t cw = write(cut_[1], &b, 1);
    cv_.wait(lock, [&] { return running_ == 0; });
  }
  lock.unlock();
  for (int* p : {wake_, cut_}) {
    close(p[0]);
    close(p[1]);
    p[0] = p[1] = -1;
  }
}

ServerStats Server::Stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stats_;
}

}  // namespace kv::server
