#include "server/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kv::server {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A connected socket with an idle time-out per transfer and an overall
// deadline for the connection.
class SocketChannel final : public ByteChannel {
 public:
  SocketChannel(int fd, int idle_ms, int total_ms)
      : fd_(fd), idle_ms_(idle_ms), deadline_(SteadyClock::now() + std::chrono::milliseconds(total_ms)) {}

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

  bool TimedOut() const { return timed_out_; }

 private:
  bool Wait(short events) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - SteadyClock::now()).count();
      if (left <= 0) return Expire();
      pollfd p{fd_, events, 0};
      const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, idle_ms_)));
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) return Expire();
      return r > 0;
    }
  }
  bool Expire() {
    timed_out_ = true;
    return false;
  }

  int fd_;
  int idle_ms_;
  SteadyClock::time_point deadline_;
  bool timed_out_ = false;
};

void SetError(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
}

}  // namespace

Server::Server(ServerStore& store, ServerConfig config) : store_(store), config_(std::move(config)) {}

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
  listen_fd_ = fd;
  stopping_ = false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void Server::AcceptLoop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return stopping_ || running_ < config_.max_connections; });
      if (stopping_) return;
    }
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int r = poll(p, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (stopping_ || (p[1].revents & POLLIN)) return;
    if (!(p[0].revents & POLLIN)) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors and the like: back off instead of spinning.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) poll(nullptr, 0, 50);
      continue;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++running_;
      ++stats_.connections;
      active_.insert(fd);
    }
    try {
      std::thread([this, fd] { Serve(fd); }).detach();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mu_);
      --running_;
      active_.erase(fd);
      close(fd);
      cv_.notify_all();
    }
  }
}

void Server::Serve(int fd) {
  SocketChannel channel(fd, config_.idle_timeout_ms, config_.connection_timeout_ms);
  SessionResult result;
  try {
    result = RunSession(channel, store_, config_.limits);
  } catch (...) {
    // Out of memory and the like: this connection ends, the server goes on.
    result.end = SessionEnd::Malformed;
  }
  std::lock_guard<std::mutex> lock(mu_);
  switch (result.end) {
    case SessionEnd::Done: ++stats_.completed; break;
    case SessionEnd::Refused: ++stats_.refused; break;
    case SessionEnd::WriteFailed: ++stats_.write_failed; break;
    default: ++stats_.malformed; break;
  }
  if (channel.TimedOut()) ++stats_.timed_out;
  active_.erase(fd);
  close(fd);
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
  if (!cv_.wait_for(lock, std::chrono::milliseconds(config_.stop_grace_ms), [&] { return running_ == 0; })) {
    // Cut off what is left: a half-received change is never applied, so
    // no stored data suffers.
    for (int fd : active_) shutdown(fd, SHUT_RDWR);
    cv_.wait(lock, [&] { return running_ == 0; });
  }
  lock.unlock();
  close(wake_[0]);
  close(wake_[1]);
  wake_[0] = wake_[1] = -1;
}

ServerStats Server::Stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stats_;
}

}  // namespace kv::server
