#include "store/StoreSeal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <vector>

namespace kv::store_detail {

namespace {

constexpr const char* kSealSuffix = "-seal";
constexpr const char* kSealTag = "kalvane-seal 1";
// A seal is one short line; anything longer is not one.
constexpr size_t kMaxSealBytes = 128;
constexpr size_t kChunk = 1 << 20;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to n bytes at offset; -1 on an error.
ssize_t PreadAll(int fd, char* buf, size_t n, off_t at) {
  for (;;) {
    const ssize_t got = ::pread(fd, buf, n, at);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool HasContent(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return st.st_size > 0;
  return errno != ENOENT;  // cannot tell: as if it had
}

}  // namespace

std::string SealPath(const std::string& store_path) { return store_path + kSealSuffix; }

std::optional<std::string> SealOf(int64_t size, const ReadAt& read) {
  if (size < 0) return std::nullopt;
  std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> h(XXH3_createState(), XXH3_freeState);
  if (!h || XXH3_128bits_reset(h.get()) == XXH_ERROR) return std::nullopt;
  std::vector<char> buf(kChunk);
  int64_t at = 0;
  for (;;) {
    const int64_t got = read(buf.data(), buf.size(), at);
    if (got < 0 || got > static_cast<int64_t>(buf.size())) return std::nullopt;
    if (got == 0) break;
    if (XXH3_128bits_update(h.get(), buf.data(), static_cast<size_t>(got)) == XXH_ERROR)
      return std::nullopt;
    at += got;
  }
  // A file that changed length while it was read is not the one sealed.
  if (at != size) return std::nullopt;
  const XXH128_hash_t d = XXH3_128bits_digest(h.get());
  char text[kMaxSealBytes];
  std::snprintf(text, sizeof text, "%s %" PRId64 " %016" PRIx64 "%016" PRIx64 "\n", kSealTag, at,
                static_cast<uint64_t>(d.high64), static_cast<uint64_t>(d.low64));
  return std::string(text);
}

std::optional<std::string> SealOf(const std::string& file) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return SealOf(st.st_size, [&](char* buf, size_t n, int64_t at) -> int64_t {
    return PreadAll(fd.get(), buf, n, static_cast<off_t>(at));
  });
}

bool IsSealed(const std::string& store_path, int64_t size, const ReadAt& read) {
  // Changes still in a log or journal are not in the sealed bytes.
  if (HasContent(store_path + "-wal") || HasContent(store_path + "-journal")) return false;
  std::string seal;
  {
    Fd fd(::open(SealPath(store_path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) return false;
    char buf[kMaxSealBytes + 1];
    const ssize_t got = PreadAll(fd.get(), buf, sizeof buf, 0);
    if (got <= 0 || static_cast<size_t>(got) > kMaxSealBytes) return false;
    seal.assign(buf, static_cast<size_t>(got));
  }
  const std::optional<std::string> now = SealOf(size, read);
  return now && *now == seal;
}

bool WriteSeal(const std::string& store_path) {
  const std::optional<std::string> seal = SealOf(store_path);
  if (!seal) return false;
  const std::string path = SealPath(store_path);
  std::string temp = path + ".new-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // 0600
  if (fd < 0) return false;
  bool ok = ::write(fd, seal->data(), seal->size()) == static_cast<ssize_t>(seal->size());
  ok = ::close(fd) == 0 && ok;
  // The seal is only ever a shortcut: a lost or torn one means a full
  // check, so it is not forced to the disk.
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

void RemoveSeal(const std::string& store_path) { ::unlink(SealPath(store_path).c_str()); }

}  // namespace kv::store_detail
