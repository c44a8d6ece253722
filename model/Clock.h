#pragma once
// The one source of "now" for the whole program. Tests install a fixed
// clock; the program uses the local wall clock.
#include <memory>

#include "model/DateTime.h"

namespace kv {

class Clock {
 public:
  virtual ~Clock() = default;
  // Local wall-clock time to the whole second; invalid if unreadable.
  virtual DateTime Now() const = 0;

  static const Clock& Instance();
  // Replaces the process-wide clock; nullptr restores the system clock.
  static void SetInstance(std::shared_ptr<Clock> clock);
};

class SystemClock final : public Clock {
 public:
  DateTime Now() const override;
};

class FixedClock final : public Clock {
 public:
  explicit FixedClock(DateTime now) : now_(now) {}
  DateTime Now() const override { return now_; }
  void Set(DateTime now) { now_ = now; }
  void Advance(int64_t seconds) { now_ = now_.AddSeconds(seconds); }

 private:
  DateTime now_;
};

// Shorthand for Clock::Instance().Now().
inline DateTime Now() { return Clock::Instance().Now(); }

}  // namespace kv
