#pragma once
// The records of one upload, kept until its end-of-list record has come so
// that an upload is applied whole or not at all. Small uploads stay in
// memory; beyond `memory_limit` bytes they go to an unnamed file (mode
// 0600, gone with the process) in the given directory.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kv::server {

class UploadStage {
 public:
  UploadStage(std::string dir, std::size_t memory_limit);
  ~UploadStage();
  UploadStage(const UploadStage&) = delete;
  UploadStage& operator=(const UploadStage&) = delete;

  // False when the record could not be kept (the file could not be
  // made or written).
  bool Add(std::string_view text);
  std::size_t Count() const { return count_; }
  // Bytes held in memory now.
  std::size_t MemoryHeld() const { return buffer_.capacity(); }
  bool Spilled() const { return fd_ >= 0; }
  // Hands every record to fn in order; stops and returns false when fn
  // does or the file cannot be read back.
  bool ForEach(const std::function<bool(std::string_view)>& fn);

 private:
  bool Spill();
  std::string dir_;
  std::size_t memory_limit_;
  std::string buffer_;  // length-prefixed texts not yet in the file
  std::size_t count_ = 0;
  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace kv::server
