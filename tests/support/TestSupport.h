#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "model/Clock.h"
#include "model/ScheduleItem.h"

namespace kv::test {

// A UTF-8 literal as the CP932 bytes the program holds; aborts the test
// binary if the literal has no CP932 form (a mistake in the test).
std::string J(std::string_view utf8);

// Installs a fixed clock for the lifetime of the object.
class ScopedClock {
 public:
  explicit ScopedClock(DateTime now);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
  void Set(DateTime now) { clock_->Set(now); }
  void Advance(int64_t seconds) { clock_->Advance(seconds); }
  DateTime Now() const { return clock_->Now(); }

 private:
  std::shared_ptr<FixedClock> clock_;
};

inline DateTime D(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  return DateTime::FromParts(y, m, d, h, mi, s);
}

// A repeating item with the given rule fields; times of day from start/end.
ScheduleItem MakeRule(int type, int x, int y, int z, DateTime rep_start, DateTime rep_end,
                      DateTime start, DateTime end);

// A temporary directory removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

}  // namespace kv::test
