#include "tests/sync/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "sync/WireRecord.h"

namespace kv::test {

namespace {
constexpr int kPeerTimeoutMs = 5000;

bool ReadSome(int fd, std::string& into, std::size_t max) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, kPeerTimeoutMs) <= 0) return false;
  char buf[65536];
  const ssize_t n = ::recv(fd, buf, std::min(max, sizeof buf), 0);
  if (n <= 0) return false;
  into.append(buf, static_cast<std::size_t>(n));
  return true;
}

std::string Hex(const std::string& s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02X ", c);
    out += b;
  }
  return out;
}
}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<std::vector<PeerStep>> scripts) : scripts_(std::move(scripts)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listen_fd_, 16);
  socklen_t len = sizeof a;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  Release();
  Join();
  ::close(listen_fd_);
}

void ScriptedPeer::Join() {
  if (!joined_ && thread_.joinable()) thread_.join();
  joined_ = true;
}

std::vector<std::string> ScriptedPeer::Problems() {
  Join();
  std::lock_guard<std::mutex> g(mu_);
  return problems_;
}

void ScriptedPeer::Release() {
  std::lock_guard<std::mutex> g(mu_);
  released_ = true;
  released_cv_.notify_all();
}

std::vector<std::string> ScriptedPeer::Notes() {
  Join();
  std::lock_guard<std::mutex> g(mu_);
  return notes_;
}

std::vector<std::string> ScriptedPeer::Captured() {
  Join();
  std::lock_guard<std::mutex> g(mu_);
  return captured_;
}

void ScriptedPeer::Run() {
  for (std::size_t c = 0; c < scripts_.size(); ++c) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, kPeerTimeoutMs) <= 0) {
      std::lock_guard<std::mutex> g(mu_);
      problems_.push_back("connection " + std::to_string(c) + " never came");
      return;
    }
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    ++accepted_;
    std::string captured;
    bool closed = false;
    for (const PeerStep& st : scripts_[c]) {
      if (st.kind == PeerStep::Expect) {
        std::string got;
        while (got.size() < st.bytes.size() && ReadSome(fd, got, st.bytes.size() - got.size())) {}
        if (got != st.bytes) {
          std::lock_guard<std::mutex> g(mu_);
          problems_.push_back("connection " + std::to_string(c) + ": expected " + Hex(st.bytes) +
                              "\n got " + Hex(got));
          break;
        }
      } else if (st.kind == PeerStep::Send) {
        const std::size_t step = st.chunk ? st.chunk : st.bytes.size();
        for (std::size_t i = 0; i < st.bytes.size(); i += step) {
          ::send(fd, st.bytes.data() + i, std::min(step, st.bytes.size() - i), MSG_NOSIGNAL);
          if (st.chunk) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      } else if (st.kind == PeerStep::CloseNow) {
        ::close(fd);
        closed = true;
        break;
      } else if (st.kind == PeerStep::Reset) {
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
        closed = true;
        break;
      } else if (st.kind == PeerStep::Hold) {
        std::unique_lock<std::mutex> g(mu_);
        released_cv_.wait_for(g, std::chrono::seconds(30), [&] { return released_; });
      } else if (st.kind == PeerStep::Trickle) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::size_t sent = 0;
        bool hung_up = false;
        while (std::chrono::steady_clock::now() < until) {
          std::this_thread::sleep_for(std::chrono::milliseconds(st.delay_ms));
          if (::send(fd, &st.bytes[sent % st.bytes.size()], 1, MSG_NOSIGNAL) != 1) {
            hung_up = true;
            break;
          }
          ++sent;
        }
        std::lock_guard<std::mutex> g(mu_);
        notes_.push_back((hung_up ? "hung up after " : "gave up after ") + std::to_string(sent) + " bytes");
      } else {  // Capture and Stall: read until the client closes
        while (ReadSome(fd, captured, 65536)) {}
      }
    }
    if (!closed) ::close(fd);
    std::lock_guard<std::mutex> g(mu_);
    captured_.push_back(captured);
  }
}

PeerStep ExpectBytes(std::string b) { return {PeerStep::Expect, std::move(b)}; }
PeerStep SendBytes(std::string b, std::size_t chunk) { return {PeerStep::Send, std::move(b), chunk}; }
PeerStep CloseConnection() { return {PeerStep::CloseNow, {}}; }
PeerStep CaptureRest() { return {PeerStep::Capture, {}}; }
PeerStep StallUntilClientCloses() { return {PeerStep::Stall, {}}; }
PeerStep ResetConnection() { return {PeerStep::Reset, {}}; }
PeerStep HoldUntilReleased() { return {PeerStep::Hold, {}}; }
PeerStep TrickleForever(std::string pattern, int delay_ms) {
  return {PeerStep::Trickle, std::move(pattern), 1, delay_ms};
}

std::string Le32(int32_t v) {
  std::string s(4, '\0');
  std::memcpy(s.data(), &v, 4);
  return s;
}
std::string Date12(const DateTime& d) {
  char b[12];
  EncodeWireDate(d, b);
  return std::string(b, 12);
}
std::string Line(const std::string& s) { return s + "\r\n"; }
std::string Record(const ScheduleItem& it) {
  const std::string t = EncodeRecordText(it);
  return Le32(static_cast<int32_t>(t.size())) + t + std::string(1, '\0');
}
std::string EndOfList() {
  ScheduleItem e;
  e.SyncFlag = SyncEndOfList;
  return Record(e);
}
std::string SignIn(const std::string& user, const std::string& password) {
  return Line(user) + Line(password);
}
std::string SignInAnswer(int32_t code, const DateTime& server_now) {
  return Le32(code) + Date12(server_now);
}

}  // namespace kv::test
