#pragma once
// The sign-in rule with guessing slowed down. Failures are counted per
// user name from one client address (strict), and per user name and per
// address alone (looser, so that guessing spread over many addresses or
// many names is slowed too). A failed answer is delayed more with every
// failure; past a threshold the attempt is refused unverified for a time
// that doubles with every further failure. An address from which a user
// has recently signed in is not held back by the looser counts, so an
// attacker elsewhere cannot lock the real user out.
//
// Where several server processes share a PostgreSQL database the counts
// and the known addresses live in it, so guesses spread over the processes
// count together; each process refreshes its tables from there before it
// decides, and its clock is then the wall clock they share.
//
// Successful checks are remembered for a while under a keyed digest, so a
// client that signs in for every request pays the slow hash once, not
// every time; only a correct password can ever hit.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <semaphore>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/ServerStore.h"

namespace kv::server {

struct ThrottleOptions {
  bool enabled = true;
  int free_failures = 3;        // per name and address, answered at once
  int first_delay_ms = 250;     // then doubling...
  int max_delay_ms = 4000;      // ...up to this
  int lock_after = 10;          // failures of one name from one address
  int broad_lock_after = 30;    // of one name from anywhere, of one address for any name
  int lock_ms = 60 * 1000;      // the first refusal period, doubling...
  int max_lock_ms = 15 * 60 * 1000;  // ...up to this
  int64_t forget_ms = 60 * 60 * 1000;  // failures count this long after the last one
  int64_t known_ms = 30LL * 24 * 3600 * 1000;  // how long a good address stays known
  int64_t cache_ms = 60 * 60 * 1000;
  std::size_t max_entries = 100000;  // of each table
};

struct GuardOutcome {
  SignIn who;
  int delay_ms = 0;        // wait this long before answering a refusal
  bool throttled = false;  // refused without looking at the password
  bool unavailable = false;  // the database could not be read: no answer at all
};

class SignInGuard {
 public:
  using NowMs = std::function<int64_t()>;
  explicit SignInGuard(ThrottleOptions options = {}, NowMs now_ms = {});
  SignInGuard(const SignInGuard&) = delete;
  SignInGuard& operator=(const SignInGuard&) = delete;

  // `address` names the client (empty when unknown); every refusal is
  // logged, never with the password.
  GuardOutcome SignInAs(ServerStore& store, const std::string& name, const std::string& password,
                        const std::string& address);

  // Slow hash checks run so far (cache hits excluded).
  uint64_t Verifications() const { return verifications_.load(); }
  static int DelayFor(const ThrottleOptions& o, int failures);
  static int64_t LockFor(const ThrottleOptions& o, int failures, int lock_after);

 private:
  struct Count {
    int failures = 0;
    int inflight = 0;  // attempts being checked now
    int64_t last_ms = 0;
  };
  enum class Kind { Pair, Name, Address };

  int64_t Now(bool shared = false) const;
  void Pull(ServerStore& store, const std::vector<std::string>& keys, const std::string& known, int64_t now);
  int Push(ServerStore& store, const std::vector<std::string>& keys, int64_t now);
  Count& At(const std::string& key, int64_t now);
  void Fail(const std::string& key, int64_t now);
  bool Locked(const std::string& key, int lock_after, int64_t now, int64_t* left_ms);
  bool Known(const std::string& address, const std::string& name, int64_t now);
  void Forget(std::unordered_map<std::string, Count>& table, int64_t now);
  std::string CacheKey(const std::string& hash, const std::string& password) const;
  bool Cached(const std::string& hash, const std::string& password, int64_t now);
  void Remember(const std::string& hash, const std::string& password, int64_t now);
  bool Verify(const std::string& password, const std::string& hash);
  void Upgrade(ServerStore& store, int32_t id, const std::string& old_hash, const std::string& password,
               int64_t now);

  ThrottleOptions o_;
  NowMs now_ms_;
  unsigned char cache_key_[32];
  std::mutex mu_;
  std::unordered_map<std::string, Count> counts_;
  std::unordered_map<std::string, int64_t> known_;  // address|name -> last good sign-in
  std::unordered_map<std::string, int64_t> cache_;  // digest -> expiry
  // Each slow hash takes 19 MiB: only a few run at once.
  std::counting_semaphore<64> hashing_;
  std::atomic<uint64_t> verifications_{0};
  std::atomic<uint64_t> pushes_{0};
};

}  // namespace kv::server
