#pragma once
// Byte channels and the buffered streams the protocol runs on. The server
// uses the same classes on its side of the connection.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/DateTime.h"

namespace kv {

// A bidirectional byte pipe (a socket, or a buffer in tests and fuzzing).
class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // Up to max bytes into buf: the count (> 0), 0 when the peer closed,
  // -1 on error or time-out.
  virtual std::ptrdiff_t Read(char* buf, std::size_t max) = 0;
  // All n bytes or false.
  virtual bool Write(const char* data, std::size_t n) = 0;
};

// Reads a fixed in-memory buffer, then reports the end of the stream. The
// channel keeps its own copy, so a temporary passed in cannot dangle.
class MemoryChannel final : public ByteChannel {
 public:
  explicit MemoryChannel(std::string_view input = {}) : input_(input) {}
  std::ptrdiff_t Read(char* buf, std::size_t max) override;
  bool Write(const char* data, std::size_t n) override {
    output_.append(data, n);
    return true;
  }
  const std::string& Output() const { return output_; }

 private:
  std::string input_;
  std::size_t pos_ = 0;
  std::string output_;
};

inline constexpr std::size_t kStreamBufferSize = 4096;
// Longest line accepted from the peer (user names, display names).
inline constexpr std::size_t kMaxLineLength = 64 * 1024;

// Buffered reading. After the first failure (closed, error, time-out,
// over-long line) every later read fails too and yields nothing.
class InStream {
 public:
  explicit InStream(ByteChannel& ch) : ch_(ch) {}
  bool ReadBytes(void* dst, std::size_t n);
  // Appends n bytes to out; grows out as data arrives, so a lying length
  // costs no more memory than the bytes actually received.
  bool ReadInto(std::string& out, std::size_t n);
  bool ReadInt32(int32_t& v);
  bool ReadDate(DateTime& d);
  // Up to LF; the LF and a CR just before it are dropped.
  bool ReadLine(std::string& line);
  // True when the peer closes in order with nothing more sent. A byte, an
  // error or a time-out gives false. Nothing can be read afterwards.
  bool ReadOrderlyEnd();
  bool Failed() const { return failed_; }

 private:
  bool Fill();
  ByteChannel& ch_;
  char buf_[kStreamBufferSize];
  std::size_t pos_ = 0, len_ = 0;
  bool failed_ = false;
};

// Buffered writing: data leaves when the buffer is full or at Flush.
class OutStream {
 public:
  explicit OutStream(ByteChannel& ch) : ch_(ch) {}
  void WriteBytes(const void* src, std::size_t n);
  void WriteInt32(int32_t v);
  void WriteDate(const DateTime& d);
  void WriteLine(std::string_view text);
  // True when everything written so far has left without error.
  bool Flush();
  bool Failed() const { return failed_; }

 private:
  void Drain();
  ByteChannel& ch_;
  char buf_[kStreamBufferSize];
  std::size_t len_ = 0;
  bool failed_ = false;
};

// The 12-byte wire date: IEEE double day count, then the status as int32.
void EncodeWireDate(const DateTime& d, char out[12]);
DateTime DecodeWireDate(const char in[12]);

}  // namespace kv
