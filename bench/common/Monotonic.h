#pragma once
// The monotonic clock in nanoseconds, comparable across processes: a
// start-up is timed from the parent's spawn to the child's first frame.
#include <time.h>

#include <cstdint>

namespace kv::bench {

inline int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

}  // namespace kv::bench
