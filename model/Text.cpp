#include "model/Text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace kv::text {

namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts everything or fails; on failure *bad_at is the input offset.
  bool Run(std::string_view in, std::string& out, std::size_t* bad_at) {
    out.clear();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    std::vector<char> buf(in.size() * 4 + 16);
    while (true) {
      char* dst = buf.data();
      std::size_t room = buf.size();
      std::size_t r = iconv(cd_, left ? &src : nullptr, &left, &dst, &room);
      out.append(buf.data(), dst - buf.data());
      if (r != static_cast<std::size_t>(-1)) {
        if (left == 0) {
          // Flush shift state.
          dst = buf.data();
          room = buf.size();
          iconv(cd_, nullptr, nullptr, &dst, &room);
          out.append(buf.data(), dst - buf.data());
          return true;
        }
        continue;
      }
      if (errno == E2BIG) continue;
      if (bad_at) *bad_at = in.size() - left;
      return false;
    }
  }

 private:
  iconv_t cd_;
};

thread_local Converter g_to_utf8("UTF-8", "CP932");
thread_local Converter g_from_utf8("CP932", "UTF-8");

}  // namespace

std::optional<std::string> ToUtf8(std::string_view cp932) {
  std::string out;
  if (!g_to_utf8.Run(cp932, out, nullptr)) return std::nullopt;
  return out;
}

std::string ToUtf8Lossy(std::string_view cp932) {
  std::string result;
  while (!cp932.empty()) {
    std::string part;
    std::size_t bad = 0;
    if (g_to_utf8.Run(cp932, part, &bad)) {
      result += part;
      break;
    }
    // Convert the good prefix, replace one undecodable character.
    std::string good;
    g_to_utf8.Run(cp932.substr(0, bad), good, nullptr);
    result += good;
    result += "\xEF\xBF\xBD";
    std::size_t skip = 1;
    if (bad + 1 < cp932.size() && IsLeadByte(static_cast<unsigned char>(cp932[bad]))) skip = 2;
    cp932.remove_prefix(std::min(cp932.size(), bad + skip));
  }
  return result;
}

std::optional<std::string> FromUtf8(std::string_view utf8) {
  std::string out;
  if (!g_from_utf8.Run(utf8, out, nullptr)) return std::nullopt;
  return out;
}

bool IsRepresentable(std::string_view utf8) { return FromUtf8(utf8).has_value(); }

std::string CutBytes(std::string_view cp932, std::size_t max_bytes) {
  std::size_t i = 0;
  while (i < cp932.size()) {
    const std::size_t w =
        IsLeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
    if (i + w > max_bytes) break;
    i += w;
  }
  return std::string(cp932.substr(0, i));
}

}  // namespace kv::text
