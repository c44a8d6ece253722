#pragma once
// A fault-injecting SQLite file layer. While a FaultVfs exists it is the
// default VFS of the process, so every database opened then (the store's
// included) writes through it; it passes everything on to the real one
// until told to fail.
#include <cstdint>

namespace kv::test {

class FaultVfs {
 public:
  FaultVfs();
  ~FaultVfs();
  FaultVfs(const FaultVfs&) = delete;
  FaultVfs& operator=(const FaultVfs&) = delete;

  // After `n` more successful writes every write fails as on a full disk
  // (n = 0: the very next one). Negative: never.
  void FailAfterWrites(int64_t n);
  // After `n` more successful reads every read fails as on a bad disk.
  // Negative: never.
  void FailReadsAfter(int64_t n);
  // Files opened from now on act as read-only files do for a normal user
  // (root ignores the mode bits).
  void SetReadOnly(bool on);
  void Clear();

  // Writes that reached the real file since construction.
  int64_t Writes() const;
  // Writes and reads refused since construction.
  int64_t Refused() const;
};

}  // namespace kv::test
