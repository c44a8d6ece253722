#include "sync/TcpChannel.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace kv {

namespace {

using SteadyClock = std::chrono::steady_clock;

int MsUntil(SteadyClock::time_point t) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - SteadyClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits for `events` until `until`; false on time-out or error.
bool WaitFor(int fd, short events, SteadyClock::time_point until) {
  for (;;) {
    const int ms = MsUntil(until);
    if (ms == 0) return false;
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, ms);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

int ConnectOne(const Endpoint& ep, SteadyClock::time_point until) {
  const int fd = ::socket(ep.addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&ep.addr), ep.len) != 0) {
    int err = errno;
    if (err == EINPROGRESS && WaitFor(fd, POLLOUT, until)) {
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    } else if (err == EINPROGRESS) {
      err = ETIMEDOUT;
    }
    if (err != 0) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

// Runs the look-up on its own thread and waits for it until `until`. A
// look-up still running then is abandoned; it ends on its own and its
// result goes with the shared job.
bool ResolveWithin(const Resolver& resolve, const std::string& host, int port,
                   SteadyClock::time_point until, std::vector<Endpoint>& out) {
  struct Job {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;
    std::vector<Endpoint> endpoints;
  };
  auto job = std::make_shared<Job>();
  try {
    std::thread([job, resolve, host, port] {
      std::vector<Endpoint> eps;
      bool ok = false;
      try {
        ok = resolve(host, port, eps);
      } catch (...) {
        ok = false;
      }
      std::lock_guard<std::mutex> lock(job->mu);
      job->ok = ok;
      job->endpoints = std::move(eps);
      job->done = true;
      job->cv.notify_all();
    }).detach();
  } catch (...) {
    return false;  // no thread to run it on
  }
  std::unique_lock<std::mutex> lock(job->mu);
  if (!job->cv.wait_until(lock, until, [&] { return job->done; })) return false;
  if (!job->ok) return false;
  out = std::move(job->endpoints);
  return true;
}

}  // namespace

bool SystemResolve(const std::string& host, int port, std::vector<Endpoint>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return false;
  for (const addrinfo* ai = res; ai; ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Endpoint ep;
    std::memcpy(&ep.addr, ai->ai_addr, ai->ai_addrlen);
    ep.len = ai->ai_addrlen;
    out.push_back(ep);
  }
  ::freeaddrinfo(res);
  return !out.empty();
}

bool TcpChannel::Connect(const std::string& host, int port, const ChannelTimeouts& timeouts,
                         const Resolver& resolve) {
  Close();
  if (port <= 0 || port > 65535) return false;
  const auto now = SteadyClock::now();
  io_timeout_ms_ = std::max(1, timeouts.io_ms);
  deadline_ = now + std::chrono::milliseconds(std::max(1, timeouts.request_ms));
  const auto connect_until =
      std::min(deadline_, now + std::chrono::milliseconds(std::max(1, timeouts.connect_ms)));
  std::vector<Endpoint> endpoints;
  if (!ResolveWithin(resolve ? resolve : Resolver(SystemResolve), host, port, connect_until, endpoints))
    return false;
  for (const Endpoint& ep : endpoints) {
    if (ep.len == 0 || ep.len > sizeof ep.addr) continue;
    fd_ = ConnectOne(ep, connect_until);
    if (fd_ >= 0) break;
  }
  return fd_ >= 0;
}

void TcpChannel::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpChannel::ShutdownWrite() { return fd_ >= 0 && ::shutdown(fd_, SHUT_WR) == 0; }

int TcpChannel::WaitBudget() const { return std::min(io_timeout_ms_, MsUntil(deadline_)); }

std::ptrdiff_t TcpChannel::Read(char* buf, std::size_t max) {
  if (fd_ < 0) return -1;
  for (;;) {
    const int budget = WaitBudget();
    if (budget == 0) return -1;
    const ssize_t n = ::recv(fd_, buf, max, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
        WaitFor(fd_, POLLIN, SteadyClock::now() + std::chrono::milliseconds(budget)))
      continue;
    return -1;
  }
}

bool TcpChannel::Write(const char* data, std::size_t n) {
  if (fd_ < 0) return false;
  while (n > 0) {
    const int budget = WaitBudget();
    if (budget == 0) return false;
    const ssize_t k = ::send(fd_, data, n, MSG_NOSIGNAL);
    if (k > 0) {
      data += k;
      n -= static_cast<std::size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        WaitFor(fd_, POLLOUT, SteadyClock::now() + std::chrono::milliseconds(budget)))
      continue;
    return false;
  }
  return true;
}

}  // namespace kv
