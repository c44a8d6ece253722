#include "server/Log.h"

#include <cstdio>
#include <mutex>

#include "model/Text.h"

namespace kv::server {

namespace {

std::mutex& LogMutex() {
  static std::mutex mu;
  return mu;
}

std::function<void(std::string_view)>& Sink() {
  static std::function<void(std::string_view)> sink;
  return sink;
}

}  // namespace

void LogLine(std::string_view line) {
  std::lock_guard<std::mutex> lock(LogMutex());
  if (Sink()) {
    Sink()(line);
    return;
  }
  std::fprintf(stderr, "kalvane-server: %.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stderr);
}

void SetLogSink(std::function<void(std::string_view)> sink) {
  std::lock_guard<std::mutex> lock(LogMutex());
  Sink() = std::move(sink);
}

std::string LogSafe(std::string_view raw, std::size_t max) {
  static const char* digits = "0123456789abcdef";
  const std::string utf8 = text::ToUtf8Lossy(text::CutBytes(raw, max));
  std::string out;
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f || c == '\\' || c == '"') {
      out += "\\x";
      out.push_back(digits[c >> 4]);
      out.push_back(digits[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  if (raw.size() > max) out += "...";
  return out;
}

}  // namespace kv::server
