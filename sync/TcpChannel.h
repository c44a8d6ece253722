#pragma once
// A POSIX TCP connection as a ByteChannel, with connect and I/O time-outs.
#include <string>

#include "sync/WireStream.h"

namespace kv {

class TcpChannel final : public ByteChannel {
 public:
  TcpChannel() = default;
  ~TcpChannel() override { Close(); }
  TcpChannel(const TcpChannel&) = delete;
  TcpChannel& operator=(const TcpChannel&) = delete;

  // Resolves host (name or dotted address) and connects within
  // connect_timeout_ms; false on any failure.
  bool Connect(const std::string& host, int port, int connect_timeout_ms, int io_timeout_ms);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  std::ptrdiff_t Read(char* buf, std::size_t max) override;
  bool Write(const char* data, std::size_t n) override;

 private:
  int fd_ = -1;
  int io_timeout_ms_ = 30000;
};

}  // namespace kv
