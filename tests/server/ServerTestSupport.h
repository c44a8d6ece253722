#pragma once
// Byte-level helpers for talking to the server as a raw client: the wire
// pieces of a conversation, sockets from a chosen loopback address, and
// how the server ended a connection. Settle and the loopback server come
// with it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

#include "model/ScheduleItem.h"
#include "server/Server.h"
#include "sync/RequestCodes.h"
#include "tests/server/LoopbackServer.h"
#include "sync/WireRecord.h"
#include "sync/WireStream.h"

namespace kv::server::test {

inline std::string Int(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
inline std::string Line(const std::string& s) { return s + "\r\n"; }
inline std::string Date(const DateTime& d) {
  char b[12];
  EncodeWireDate(d, b);
  return std::string(b, 12);
}
inline std::string Frame(const std::string& text) { return Int(static_cast<int32_t>(text.size())) + text + '\0'; }
inline std::string Record(const ScheduleItem& it) { return Frame(EncodeRecordText(it)); }
inline std::string EndOfList() {
  ScheduleItem end;
  end.SyncFlag = SyncEndOfList;
  return Record(end);
}
// Item n as a client sends it: an hour on 2004-08-16, changed 2004-08-10.
inline ScheduleItem TestItem(int n, const std::string& subject = "stored") {
  ScheduleItem it;
  it.Index = DateTime::FromParts(2004, 8, 1, 9).AddSeconds(n);
  it.Updated = DateTime::FromParts(2004, 8, 10);
  it.Start = DateTime::FromParts(2004, 8, 16, 10);
  it.End = DateTime::FromParts(2004, 8, 16, 11);
  it.Subject = subject;
  it.SyncFlag = SyncClean;
  return it;
}

inline std::string SignInLines(const std::string& user, const std::string& password) {
  return Line(user) + Line(password);
}

// A TCP connection to 127.0.0.1:port from `source` (any 127.x.y.z works
// on loopback); -1 on failure.
inline int Connect(uint16_t port, const char* source = nullptr) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source) {
    sockaddr_in s{};
    s.sin_family = AF_INET;
    inet_pton(AF_INET, source, &s.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&s), sizeof s) != 0) {
      close(fd);
      return -1;
    }
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

enum class Ending { Orderly, Reset, StillOpen };

// Reads (and drops) what the server sends until it closes the connection
// or `ms` pass; tells an orderly close from a reset.
inline Ending AwaitEnd(int fd, int ms, std::string* received = nullptr) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  while (std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      if (received) received->append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) return Ending::Orderly;
    if (errno == ECONNRESET) return Ending::Reset;
    if (errno != EINTR && errno != EAGAIN) return Ending::Reset;
  }
  return Ending::StillOpen;
}

inline const char* ToString(Ending e) {
  switch (e) {
    case Ending::Orderly: return "orderly close";
    case Ending::Reset: return "reset";
    default: return "still open";
  }
}

// This process's resident memory now, from /proc/self/status (KiB).
// Sends bytes, half-closes as the client does after an upload, and
// reports how the server ended the connection.
inline Ending SendAndHalfClose(uint16_t port, const std::string& bytes, std::string* received = nullptr) {
  const int fd = Connect(port);
  if (fd < 0) return Ending::StillOpen;
  const bool sent = SendAll(fd, bytes);
  shutdown(fd, SHUT_WR);
  const Ending e = sent ? AwaitEnd(fd, 20000, received) : Ending::Reset;
  close(fd);
  return e;
}

inline long ResidentKiB() {
  std::ifstream f("/proc/self/status");
  std::string key;
  while (f >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      f >> kib;
      return kib;
    }
    f.ignore(4096, '\n');
  }
  return -1;
}

// Record n of a large upload, with only the fields an upload needs: one
// half-hour item an hour from 2010-01-01 on.
inline std::string MinimalRecord(int64_t n) {
  const DateTime index = DateTime::FromParts(2010, 1, 1).AddSeconds(n * 3600);
  return Frame("Index=" + FormatWireDate(index) + kFieldSeparator + "Updated=" + FormatWireDate(index) +
               kFieldSeparator + "Start=" + FormatWireDate(index) + kFieldSeparator +
               "End=" + FormatWireDate(index.AddSeconds(1800)) + kFieldSeparator + "SyncFlag=3");
}

// Streams an upload of `count` minimal records, half-closes and waits for
// the server's answer to it.
inline Ending StreamUpload(uint16_t port, const std::string& start, int count) {
  const int fd = Connect(port);
  if (fd < 0) return Ending::StillOpen;
  std::string batch = start;
  bool sent = true;
  for (int i = 0; i < count && sent; ++i) {
    batch += MinimalRecord(i);
    if (batch.size() > 64 * 1024) {
      sent = SendAll(fd, batch);
      batch.clear();
    }
  }
  sent = sent && SendAll(fd, batch + EndOfList());
  shutdown(fd, SHUT_WR);
  const Ending e = sent ? AwaitEnd(fd, 300000) : Ending::Reset;
  close(fd);
  return e;
}

// Largest resident size seen while fn runs, less the size before, in MiB.
template <typename F>
double ResidentGrowthMiB(F fn) {
  const long before = ResidentKiB();
  std::atomic<bool> done{false};
  std::atomic<long> peak{before};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak.load(), ResidentKiB());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  fn();
  done = true;
  sampler.join();
  peak = std::max(peak.load(), ResidentKiB());
  return static_cast<double>(peak.load() - before) / 1024.0;
}

}  // namespace kv::server::test
