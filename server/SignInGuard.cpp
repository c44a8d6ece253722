#include "server/SignInGuard.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "server/Log.h"
#include "server/Password.h"

namespace kv::server {

namespace {

std::string PairKey(const std::string& address, const std::string& name) { return "p" + address + '\n' + name; }
std::string NameKey(const std::string& name) { return "n" + name; }
std::string AddressKey(const std::string& address) { return "a" + address; }
std::string KnownKey(const std::string& address, const std::string& name) { return address + '\n' + name; }

std::string From(const std::string& address) { return address.empty() ? "an unknown address" : address; }

// Makes room in a table that has reached `max` entries: first by removing
// what `stale` names, then, when that was not enough, everything.
template <class Table, class Stale>
void MakeRoom(Table& table, std::size_t max, Stale stale) {
  if (table.size() < max) return;
  std::erase_if(table, stale);
  if (table.size() >= max) table.clear();
}

std::ptrdiff_t HashingSlots() {
  const unsigned n = std::thread::hardware_concurrency();
  return std::clamp<std::ptrdiff_t>(n, 2, 8);
}

}  // namespace

SignInGuard::SignInGuard(ThrottleOptions options, NowMs now_ms)
    : o_(options), now_ms_(std::move(now_ms)), hashing_(HashingSlots()) {
  if (PasswordHashingReady()) {
    randombytes_buf(cache_key_, sizeof cache_key_);
  } else {
    // Without libsodium nothing verifies, so nothing is ever cached.
    std::fill(std::begin(cache_key_), std::end(cache_key_), 0);
  }
}

int64_t SignInGuard::Now(bool shared) const {
  if (now_ms_) return now_ms_();
  if (shared)
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int SignInGuard::DelayFor(const ThrottleOptions& o, int failures) {
  if (failures <= o.free_failures) return 0;
  const int steps = std::min(failures - o.free_failures - 1, 20);
  return static_cast<int>(std::min<int64_t>(int64_t{o.first_delay_ms} << steps, o.max_delay_ms));
}

int64_t SignInGuard::LockFor(const ThrottleOptions& o, int failures, int lock_after) {
  if (failures < lock_after) return 0;
  const int steps = std::min(failures - lock_after, 20);
  return std::min<int64_t>(int64_t{o.lock_ms} << steps, o.max_lock_ms);
}

void SignInGuard::Forget(std::unordered_map<std::string, Count>& table, int64_t now) {
  if (table.size() < o_.max_entries) return;
  std::erase_if(table, [&](const auto& e) { return now - e.second.last_ms > o_.forget_ms; });
  // Still full: keep the counts that hold something back.
  MakeRoom(table, o_.max_entries, [&](const auto& e) { return e.second.failures <= o_.free_failures; });
}

SignInGuard::Count& SignInGuard::At(const std::string& key, int64_t now) {
  auto it = counts_.find(key);
  if (it == counts_.end()) {
    Forget(counts_, now);
    it = counts_.emplace(key, Count{}).first;
  }
  if (now - it->second.last_ms > o_.forget_ms) it->second.failures = 0;
  return it->second;
}

void SignInGuard::Fail(const std::string& key, int64_t now) {
  Count& c = At(key, now);
  ++c.failures;
  c.last_ms = now;
}

bool SignInGuard::Locked(const std::string& key, int lock_after, int64_t now, int64_t* left_ms) {
  auto it = counts_.find(key);
  if (it == counts_.end()) return false;
  const Count& c = it->second;
  const int failures = now - c.last_ms > o_.forget_ms ? 0 : c.failures;
  // Guesses sent in parallel count before their answers once a name has
  // failed a few times; a burst of good sign-ins never locks anything.
  const int seen = failures > o_.free_failures ? failures + c.inflight : failures;
  if (seen < lock_after) return false;
  const int64_t until = (failures >= lock_after ? c.last_ms : now) + LockFor(o_, seen, lock_after);
  if (until <= now) return false;
  if (left_ms) *left_ms = std::max(*left_ms, until - now);
  return true;
}

bool SignInGuard::Known(const std::string& address, const std::string& name, int64_t now) {
  auto it = known_.find(KnownKey(address, name));
  return it != known_.end() && now - it->second <= o_.known_ms;
}

std::string SignInGuard::CacheKey(const std::string& hash, const std::string& password) const {
  unsigned char out[32];
  crypto_generichash_state st;
  crypto_generichash_init(&st, cache_key_, sizeof cache_key_, sizeof out);
  crypto_generichash_update(&st, reinterpret_cast<const unsigned char*>(hash.data()), hash.size() + 1);
  crypto_generichash_update(&st, reinterpret_cast<const unsigned char*>(password.data()), password.size());
  crypto_generichash_final(&st, out, sizeof out);
  return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

bool SignInGuard::Cached(const std::string& hash, const std::string& password, int64_t now) {
  if (!PasswordHashingReady()) return false;
  auto it = cache_.find(CacheKey(hash, password));
  return it != cache_.end() && it->second > now;
}

void SignInGuard::Remember(const std::string& hash, const std::string& password, int64_t now) {
  if (!PasswordHashingReady()) return;
  MakeRoom(cache_, o_.max_entries, [&](const auto& e) { return e.second <= now; });
  cache_[CacheKey(hash, password)] = now + o_.cache_ms;
}

bool SignInGuard::Verify(const std::string& password, const std::string& hash) {
  hashing_.acquire();
  ++verifications_;
  const bool ok = CheckPassword(password, hash);
  hashing_.release();
  return ok;
}

void SignInGuard::Upgrade(ServerStore& store, int32_t id, const std::string& old_hash, const std::string& password,
                          int64_t now) {
  if (!NeedsRehash(old_hash)) return;
  hashing_.acquire();
  const std::string fresh = HashPassword(password);
  hashing_.release();
  if (fresh.empty() || !store.ReplaceHash(id, old_hash, fresh)) return;
  std::lock_guard<std::mutex> lock(mu_);
  Remember(fresh, password, now);
}

void SignInGuard::Pull(ServerStore& store, const std::vector<std::string>& keys, const std::string& known,
                       int64_t now) {
  std::vector<std::string> all = keys;
  all.push_back("k" + known);
  const auto rows = store.ThrottleRead(all);
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < keys.size(); ++i) {
    Count& c = At(keys[i], now);
    c.failures = rows[i].failures;
    c.last_ms = rows[i].last_ms;
  }
  if (rows.back().last_ms > 0)
    known_[known] = rows.back().last_ms;
  else
    known_.erase(known);
}

// Counts the failures in the database; the first key's count there, or
// -1 when the database did not take them.
int SignInGuard::Push(ServerStore& store, const std::vector<std::string>& keys, int64_t now) {
  const int n = store.ThrottleFail(keys, now, o_.forget_ms);
  if (++pushes_ % 256 == 0)
    store.ThrottlePrune(now - o_.forget_ms, "k", now - o_.known_ms,
                        3 * static_cast<int64_t>(o_.max_entries), o_.free_failures);
  return n;
}

GuardOutcome SignInGuard::SignInAs(ServerStore& store, const std::string& name, const std::string& password,
                                   const std::string& address) {
  GuardOutcome out;
  bool failed = false;
  const auto creds = store.CredentialsOf(name, &failed);
  const std::string pair = PairKey(address, name);
  const std::string who = "\"" + LogSafe(name) + "\" from " + From(address);
  if (failed) {
    out.who = SignIn{-2, 0, 0};
    out.unavailable = true;
    LogLine("sign-in of " + who + " not checked: the database cannot be read");
    return out;
  }
  const bool shared = o_.enabled && store.Shared();
  int64_t now = Now(shared);

  // Unknown names cost no hashing, but spraying them still counts
  // against the address.
  if (!creds) {
    out.who = SignIn{-1, 0, 0};
    if (o_.enabled) {
      std::lock_guard<std::mutex> lock(mu_);
      Fail(pair, now);
      Fail(AddressKey(address), now);
      out.delay_ms = DelayFor(o_, At(pair, now).failures);
    }
    if (shared) {
      const int n = Push(store, {pair, AddressKey(address)}, now);
      if (n > 0) out.delay_ms = DelayFor(o_, n);
    }
    LogLine("sign-in refused: no user " + who);
    return out;
  }

  // Which candidates may be tried at all.
  std::vector<const Candidate*> delegates;
  if (shared) {
    std::vector<std::string> keys = {pair, NameKey(name), AddressKey(address)};
    for (const Candidate& d : creds->delegates) keys.push_back(PairKey(address, d.name));
    Pull(store, keys, KnownKey(address, name), now);
  }
  if (o_.enabled) {
    std::lock_guard<std::mutex> lock(mu_);
    const bool known = Known(address, name, now);
    int64_t left = 0;
    const bool locked = Locked(pair, o_.lock_after, now, &left) ||
                        (!known && (Locked(NameKey(name), o_.broad_lock_after, now, &left) ||
                                    Locked(AddressKey(address), o_.broad_lock_after, now, &left)));
    if (locked) {
      out.who = SignIn{-2, 0, 0};
      out.throttled = true;
      LogLine("sign-in refused: too many failures for " + who + ", held back for " +
              std::to_string((left + 999) / 1000) + " s");
      return out;
    }
    ++At(pair, now).inflight;
    for (const Candidate& d : creds->delegates) {
      // Guessing a delegate's password through the user it may write is
      // held back as guessing it directly would be.
      if (!Locked(PairKey(address, d.name), o_.lock_after, now, nullptr)) delegates.push_back(&d);
    }
  } else {
    for (const Candidate& d : creds->delegates) delegates.push_back(&d);
  }

  // The user's own hash first, then the delegates' in ID order: the first
  // that `matches` decides who signs in.
  int32_t actor = 0;
  const std::string* used_hash = nullptr;
  std::string actor_name;
  auto first_match = [&](auto&& matches) {
    if (matches(creds->hash)) {
      actor = creds->user.id;
      used_hash = &creds->hash;
      return true;
    }
    for (const Candidate* d : delegates)
      if (matches(d->hash)) {
        actor = d->id;
        used_hash = &d->hash;
        actor_name = d->name;
        return true;
      }
    return false;
  };
  // A correct password seen lately needs no slow hash.
  {
    std::lock_guard<std::mutex> lock(mu_);
    first_match([&](const std::string& hash) { return Cached(hash, password, now); });
  }
  const bool fresh_check =
      !actor && first_match([&](const std::string& hash) { return Verify(password, hash); });
  now = Now(shared);

  int failures = 0;
  if (o_.enabled) {
    std::lock_guard<std::mutex> lock(mu_);
    Count& p = At(pair, now);
    p.inflight = std::max(0, p.inflight - 1);
    if (!actor) {
      Fail(pair, now);
      Fail(NameKey(name), now);
      Fail(AddressKey(address), now);
      for (const Candidate* d : delegates) Fail(PairKey(address, d->name), now);
      failures = At(pair, now).failures;
      out.delay_ms = DelayFor(o_, failures);
    } else {
      p.failures = 0;
      MakeRoom(known_, o_.max_entries, [&](const auto& e) { return now - e.second > o_.known_ms; });
      known_[KnownKey(address, name)] = now;
      if (!actor_name.empty()) {
        if (auto it = counts_.find(PairKey(address, actor_name)); it != counts_.end()) it->second.failures = 0;
        known_[KnownKey(address, actor_name)] = now;
      }
    }
  }
  if (shared && !actor) {
    std::vector<std::string> keys = {pair, NameKey(name), AddressKey(address)};
    for (const Candidate* d : delegates) keys.push_back(PairKey(address, d->name));
    const int n = Push(store, keys, now);
    if (n > 0) {
      failures = n;
      out.delay_ms = DelayFor(o_, n);
    }
  } else if (shared) {
    store.ThrottleSet(pair, 0, now);
    store.ThrottleSet("k" + KnownKey(address, name), 0, now);
    if (!actor_name.empty()) {
      store.ThrottleSet(PairKey(address, actor_name), 0, now);
      store.ThrottleSet("k" + KnownKey(address, actor_name), 0, now);
    }
  }
  if (!actor) {
    out.who = SignIn{-2, 0, 0};
    LogLine("sign-in refused: wrong password for " + who +
            (failures ? " (" + std::to_string(failures) + " failures from there)" : std::string()));
    return out;
  }

  out.who = SignIn{0, creds->user.id, actor};
  if (fresh_check) {
    std::lock_guard<std::mutex> lock(mu_);
    Remember(*used_hash, password, now);
  }
  Upgrade(store, actor, *used_hash, password, now);
  return out;
}

}  // namespace kv::server
