#include "server/UploadStage.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kv::server {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t k = write(fd, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// A file no other process can open: unnamed where the file system allows
// it, otherwise removed from its folder at once.
int OpenUnnamed(const std::string& dir) {
  const std::string d = dir.empty() ? "." : dir;
#ifdef O_TMPFILE
  const int fd = open(d.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  std::string tmpl = d + "/.kalvane-upload-XXXXXX";
  const int t = mkostemp(tmpl.data(), O_CLOEXEC);
  if (t >= 0) unlink(tmpl.c_str());
  return t;
}

}  // namespace

UploadStage::UploadStage(std::string dir, std::size_t memory_limit)
    : dir_(std::move(dir)), memory_limit_(memory_limit) {}

UploadStage::~UploadStage() {
  if (fd_ >= 0) close(fd_);
}

bool UploadStage::Spill() {
  if (fd_ < 0) fd_ = OpenUnnamed(dir_);
  if (fd_ < 0 || !WriteAll(fd_, buffer_.data(), buffer_.size())) return false;
  buffer_.clear();
  buffer_.shrink_to_fit();
  return true;
}

bool UploadStage::Add(std::string_view text) {
  if (failed_) return false;
  const auto n = static_cast<uint32_t>(text.size());
  buffer_.append(reinterpret_cast<const char*>(&n), sizeof n);
  buffer_.append(text);
  ++count_;
  if (buffer_.size() > memory_limit_ && !Spill()) failed_ = true;
  return !failed_;
}

bool UploadStage::ForEach(const std::function<bool(std::string_view)>& fn) {
  if (failed_) return false;
  auto walk = [&](std::string_view data, std::size_t* used) {
    std::size_t pos = 0;
    for (;;) {
      uint32_t n = 0;
      if (data.size() - pos < sizeof n) break;
      std::memcpy(&n, data.data() + pos, sizeof n);
      if (data.size() - pos - sizeof n < n) break;
      if (!fn(data.substr(pos + sizeof n, n))) return false;
      pos += sizeof n + n;
    }
    if (used) *used = pos;
    return true;
  };
  if (fd_ < 0) return walk(buffer_, nullptr);
  if (!Spill() || lseek(fd_, 0, SEEK_SET) != 0) return false;
  // Read back in chunks; a record longer than what is buffered makes the
  // buffer grow to hold it, never more.
  std::string window;
  for (;;) {
    const std::size_t old = window.size();
    window.resize(old + kChunk);
    ssize_t k;
    do {
      k = read(fd_, window.data() + old, kChunk);
    } while (k < 0 && errno == EINTR);
    if (k < 0) return false;
    window.resize(old + static_cast<std::size_t>(k));
    std::size_t used = 0;
    if (!walk(window, &used)) return false;
    window.erase(0, used);
    if (k == 0) return window.empty();
  }
}

}  // namespace kv::server
