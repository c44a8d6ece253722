#pragma once
// A scripted server on 127.0.0.1 for the client tests: per connection a
// list of steps that check the client's exact bytes and answer exact bytes.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/DateTime.h"
#include "model/ScheduleItem.h"

namespace kv::test {

struct PeerStep {
  enum Kind { Expect, Send, CloseNow, Capture, Stall, Reset, Hold, Trickle } kind;
  std::string bytes;      // Expect: what must arrive; Send, Trickle: what to send
  std::size_t chunk = 0;  // Send: slice size (0 = all at once)
  int delay_ms = 0;       // Trickle: pause before each byte
};

class ScriptedPeer {
 public:
  // One script per expected connection, in order.
  explicit ScriptedPeer(std::vector<std::vector<PeerStep>> scripts);
  ~ScriptedPeer();
  int Port() const { return port_; }
  // Waits for the scripts to finish (or the peer to give up).
  void Join();
  int Accepted() const { return accepted_.load(); }
  // Mismatches and failures seen by the peer; empty when all went as scripted.
  std::vector<std::string> Problems();
  // Bytes gathered by Capture steps, per connection.
  std::vector<std::string> Captured();
  // Ends every Hold step, now and later.
  void Release();
  // What Trickle steps saw: "hung up after N bytes" when the client went
  // away, "gave up after N bytes" when the peer's own limit came first.
  std::vector<std::string> Notes();

 private:
  void Run();
  int listen_fd_ = -1;
  int port_ = 0;
  std::vector<std::vector<PeerStep>> scripts_;
  std::thread thread_;
  std::atomic<int> accepted_{0};
  std::mutex mu_;
  std::vector<std::string> problems_;
  std::vector<std::string> captured_;
  std::vector<std::string> notes_;
  std::condition_variable released_cv_;
  bool released_ = false;
  bool joined_ = false;
};

PeerStep ExpectBytes(std::string b);
PeerStep SendBytes(std::string b, std::size_t chunk = 0);
PeerStep CloseConnection();
PeerStep CaptureRest();
PeerStep StallUntilClientCloses();
// Closes with a reset (RST) instead of the orderly end.
PeerStep ResetConnection();
// Keeps the connection open, reading nothing, until Release() (at most
// 30 s); then closes.
PeerStep HoldUntilReleased();
// Sends `pattern` over and over, one byte each delay_ms, until the client
// goes away (or 60 s pass).
PeerStep TrickleForever(std::string pattern, int delay_ms);

std::string Le32(int32_t v);
std::string Date12(const DateTime& d);
std::string Line(const std::string& s);
std::string Record(const ScheduleItem& it);
std::string EndOfList();
// The sign-in the client sends and an answer with the server's clock.
std::string SignIn(const std::string& user, const std::string& password);
std::string SignInAnswer(int32_t code, const DateTime& server_now);

}  // namespace kv::test
