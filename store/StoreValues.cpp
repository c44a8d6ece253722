#include "store/StoreValues.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kv::store_detail {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads 1..max_digits decimal digits.
bool Number(std::string_view& s, int max_digits, int& out) {
  int n = 0;
  int v = 0;
  while (n < max_digits && n < static_cast<int>(s.size()) && s[n] >= '0' && s[n] <= '9') {
    v = v * 10 + (s[n] - '0');
    ++n;
  }
  if (n == 0) return false;
  s.remove_prefix(n);
  out = v;
  return true;
}

bool Expect(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

// H:M or H:M:S, consuming the whole of s.
bool TimeOfDay(std::string_view s, int& h, int& mi, int& sec) {
  sec = 0;
  if (!Number(s, 2, h) || !Expect(s, ':') || !Number(s, 2, mi)) return false;
  if (!s.empty()) {
    if (!Expect(s, ':') || !Number(s, 2, sec)) return false;
  }
  return s.empty() && h <= 23 && mi <= 59 && sec <= 59;
}

}  // namespace

DateTime DateFromText(std::string_view text) {
  std::string_view s = Trim(text);
  if (s.empty()) return DateTime::Invalid();
  int h = 0, mi = 0, sec = 0;
  if (s.find('/') == std::string_view::npos && s.find('-') == std::string_view::npos) {
    if (!TimeOfDay(s, h, mi, sec)) return DateTime::Invalid();
    return DateTime::FromLinearSeconds(h * 3600 + mi * 60 + sec);
  }
  int y = 0, m = 0, d = 0;
  if (!Number(s, 4, y) || s.empty()) return DateTime::Invalid();
  const char sep = s.front();
  if ((sep != '/' && sep != '-') || !Expect(s, sep) || !Number(s, 2, m) || !Expect(s, sep) ||
      !Number(s, 2, d)) {
    return DateTime::Invalid();
  }
  if (!s.empty()) {
    if (!IsBlank(s.front())) return DateTime::Invalid();
    if (!TimeOfDay(Trim(s), h, mi, sec)) return DateTime::Invalid();
  }
  // A text names an existing day; rolling 30 February forward is for
  // computed dates, not for reading.
  if (m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return DateTime::Invalid();
  return DateTime::FromParts(y, m, d, h, mi, sec);
}

std::optional<int32_t> IntFromReal(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  const double r = std::nearbyint(v);
  if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(r);
}

std::optional<int32_t> IntFromText(std::string_view text) {
  std::string s(Trim(text));
  if (s.empty()) return std::nullopt;
  // strtod also takes hex, "inf" and "nan"; only plain decimals are numbers here.
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) {
      return std::nullopt;
    }
  }
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE) return std::nullopt;
  return IntFromReal(v);
}

}  // namespace kv::store_detail
