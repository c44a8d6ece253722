#include "sync/WireStream.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kv {

static_assert(std::endian::native == std::endian::little, "wire integers are little-endian");

std::ptrdiff_t MemoryChannel::Read(char* buf, std::size_t max) {
  const std::size_t n = std::min(max, input_.size() - pos_);
  std::memcpy(buf, input_.data() + pos_, n);
  pos_ += n;
  return static_cast<std::ptrdiff_t>(n);
}

bool InStream::Fill() {
  if (failed_) return false;
  const std::ptrdiff_t n = ch_.Read(buf_, sizeof buf_);
  if (n <= 0) {
    failed_ = true;
    return false;
  }
  pos_ = 0;
  len_ = static_cast<std::size_t>(n);
  return true;
}

bool InStream::ReadBytes(void* dst, std::size_t n) {
  char* out = static_cast<char*>(dst);
  while (n > 0) {
    if (pos_ == len_ && !Fill()) return false;
    const std::size_t k = std::min(n, len_ - pos_);
    std::memcpy(out, buf_ + pos_, k);
    pos_ += k;
    out += k;
    n -= k;
  }
  return !failed_;
}

bool InStream::ReadInto(std::string& out, std::size_t n) {
  while (n > 0) {
    if (pos_ == len_ && !Fill()) return false;
    const std::size_t k = std::min(n, len_ - pos_);
    out.append(buf_ + pos_, k);
    pos_ += k;
    n -= k;
  }
  return !failed_;
}

bool InStream::ReadInt32(int32_t& v) {
  char b[4];
  if (!ReadBytes(b, 4)) return false;
  std::memcpy(&v, b, 4);
  return true;
}

bool InStream::ReadDate(DateTime& d) {
  char b[12];
  if (!ReadBytes(b, 12)) return false;
  d = DecodeWireDate(b);
  return true;
}

bool InStream::ReadLine(std::string& line) {
  std::string got;
  for (;;) {
    if (pos_ == len_ && !Fill()) return false;
    const char* start = buf_ + pos_;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
    const std::size_t k = lf ? static_cast<std::size_t>(lf - start) : len_ - pos_;
    if (got.size() + k > kMaxLineLength) {
      failed_ = true;
      return false;
    }
    got.append(start, k);
    pos_ += k;
    if (lf) {
      ++pos_;
      break;
    }
  }
  if (!got.empty() && got.back() == '\r') got.pop_back();
  line = std::move(got);
  return true;
}

bool InStream::ReadOrderlyEnd() {
  if (failed_) return false;
  failed_ = true;
  if (pos_ != len_) return false;
  char b;
  return ch_.Read(&b, 1) == 0;
}

void OutStream::Drain() {
  if (len_ == 0) return;
  if (!failed_ && !ch_.Write(buf_, len_)) failed_ = true;
  len_ = 0;
}

void OutStream::WriteBytes(const void* src, std::size_t n) {
  const char* in = static_cast<const char*>(src);
  while (n > 0) {
    if (len_ == sizeof buf_) Drain();
    const std::size_t k = std::min(n, sizeof buf_ - len_);
    std::memcpy(buf_ + len_, in, k);
    len_ += k;
    in += k;
    n -= k;
  }
}

void OutStream::WriteInt32(int32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  WriteBytes(b, 4);
}

void OutStream::WriteDate(const DateTime& d) {
  char b[12];
  EncodeWireDate(d, b);
  WriteBytes(b, 12);
}

void OutStream::WriteLine(std::string_view text) {
  WriteBytes(text.data(), text.size());
  WriteBytes("\r\n", 2);
}

bool OutStream::Flush() {
  Drain();
  return !failed_;
}

void EncodeWireDate(const DateTime& d, char out[12]) {
  const double v = d.GetStatus() == DateTime::valid ? d.OleValue() : 0.0;
  const int32_t st = static_cast<int32_t>(d.GetStatus());
  std::memcpy(out, &v, 8);
  std::memcpy(out + 8, &st, 4);
}

DateTime DecodeWireDate(const char in[12]) {
  double v;
  int32_t st;
  std::memcpy(&v, in, 8);
  std::memcpy(&st, in + 8, 4);
  if (st == DateTime::null) return DateTime::Null();
  if (st != DateTime::valid) return DateTime::Invalid();
  return DateTime::FromOle(v);  // NaN or out of range: invalid
}

}  // namespace kv
