#include "sync/TcpChannel.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kv {

namespace {

bool WaitFor(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeout_ms);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

int ConnectOne(const addrinfo* ai, int timeout_ms) {
  const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
  if (fd < 0) return -1;
  if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
    int err = errno;
    if (err == EINPROGRESS && WaitFor(fd, POLLOUT, timeout_ms)) {
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

}  // namespace

bool TcpChannel::Connect(const std::string& host, int port, int connect_timeout_ms,
                         int io_timeout_ms) {
  Close();
  if (port <= 0 || port > 65535) return false;
  io_timeout_ms_ = io_timeout_ms;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return false;
  for (const addrinfo* ai = res; ai && fd_ < 0; ai = ai->ai_next) fd_ = ConnectOne(ai, connect_timeout_ms);
  ::freeaddrinfo(res);
  return fd_ >= 0;
}

void TcpChannel::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::ptrdiff_t TcpChannel::Read(char* buf, std::size_t max) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, max, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd_, POLLIN, io_timeout_ms_)) continue;
    return -1;
  }
}

bool TcpChannel::Write(const char* data, std::size_t n) {
  if (fd_ < 0) return false;
  while (n > 0) {
    const ssize_t k = ::send(fd_, data, n, MSG_NOSIGNAL);
    if (k > 0) {
      data += k;
      n -= static_cast<std::size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd_, POLLOUT, io_timeout_ms_))
      continue;
    return false;
  }
  return true;
}

}  // namespace kv
