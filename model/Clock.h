#pragma once
// The one source of "now" for the whole program. Tests install a fixed
// clock; the program uses the local wall clock.
#include <memory>
#include <mutex>

#include "model/DateTime.h"

namespace kv {

class Clock {
 public:
  virtual ~Clock() = default;
  // Local wall-clock time to the whole second; invalid if unreadable.
  virtual DateTime Now() const = 0;
  // Seconds on a clock that only runs forward and stands still while the
  // machine sleeps: set against Now(), it shows the wall clock jumping.
  virtual int64_t ElapsedSeconds() const = 0;

  // A shared handle, so a clock replaced meanwhile stays alive for the
  // threads still reading it.
  static std::shared_ptr<const Clock> Instance();
  // Replaces the process-wide clock; nullptr restores the system clock.
  static void SetInstance(std::shared_ptr<Clock> clock);
};

class SystemClock final : public Clock {
 public:
  DateTime Now() const override;
  int64_t ElapsedSeconds() const override;
};

class FixedClock final : public Clock {
 public:
  explicit FixedClock(DateTime now) : now_(now) {}
  // Locked: tests move the clock while server threads read it.
  DateTime Now() const override {
    std::lock_guard<std::mutex> lock(mu_);
    return now_;
  }
  int64_t ElapsedSeconds() const override {
    std::lock_guard<std::mutex> lock(mu_);
    return elapsed_;
  }
  // The wall clock is set: elapsed time does not move.
  void Set(DateTime now) {
    std::lock_guard<std::mutex> lock(mu_);
    now_ = now;
  }
  // Time passes: both move.
  void Advance(int64_t seconds) {
    std::lock_guard<std::mutex> lock(mu_);
    now_ = now_.AddSeconds(seconds);
    elapsed_ += seconds;
  }

 private:
  mutable std::mutex mu_;
  DateTime now_;
  int64_t elapsed_ = 0;
};

// Shorthand for Clock::Instance()->Now().
inline DateTime Now() { return Clock::Instance()->Now(); }

}  // namespace kv
