#include "model/Clock.h"

#include <ctime>
#include <mutex>

namespace kv {

namespace {
std::mutex g_mutex;
std::shared_ptr<Clock>& Slot() {
  static std::shared_ptr<Clock> slot = std::make_shared<SystemClock>();
  return slot;
}
}  // namespace

std::shared_ptr<const Clock> Clock::Instance() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Slot();
}

void Clock::SetInstance(std::shared_ptr<Clock> clock) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Slot() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

DateTime SystemClock::Now() const {
  std::time_t t = std::time(nullptr);
  if (t == static_cast<std::time_t>(-1)) return DateTime::Invalid();
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return DateTime::Invalid();
  return DateTime::FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                             tm.tm_sec == 60 ? 59 : tm.tm_sec);
}

int64_t SystemClock::ElapsedSeconds() const {
  // CLOCK_MONOTONIC stands still during a suspend (CLOCK_BOOTTIME would not).
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

}  // namespace kv
