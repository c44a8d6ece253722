#include "sync/WireRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kv {

namespace {

enum class Kind { Text, Int, Color, Date };

struct FieldDef {
  std::string_view key;
  Kind kind;
  std::string ScheduleItem::*text = nullptr;
  int32_t ScheduleItem::*integer = nullptr;
  DateTime ScheduleItem::*date = nullptr;
};

constexpr FieldDef T(std::string_view k, std::string ScheduleItem::*m) { return {k, Kind::Text, m}; }
constexpr FieldDef I(std::string_view k, int32_t ScheduleItem::*m) {
  return {k, Kind::Int, nullptr, m};
}
constexpr FieldDef D(std::string_view k, DateTime ScheduleItem::*m) {
  return {k, Kind::Date, nullptr, nullptr, m};
}
constexpr FieldDef C() { return {"Color", Kind::Color}; }

// Writing order.
const FieldDef kWriteOrder[] = {
    D("Index", &ScheduleItem::Index),     T("Subject", &ScheduleItem::Subject),
    T("Place", &ScheduleItem::Place),     T("Execute", &ScheduleItem::Execute),
    I("Private", &ScheduleItem::Private), C(),
    I("UserID", &ScheduleItem::UserID),   I("Type", &ScheduleItem::Type),
    D("Updated", &ScheduleItem::Updated), D("Start", &ScheduleItem::Start),
    D("End", &ScheduleItem::End),         I("Alarm", &ScheduleItem::Alarm),
    T("Desc", &ScheduleItem::Desc),       I("RepType", &ScheduleItem::RepType),
    I("RepX", &ScheduleItem::RepX),       I("RepY", &ScheduleItem::RepY),
    I("RepZ", &ScheduleItem::RepZ),       D("RepStart", &ScheduleItem::RepStart),
    D("RepEnd", &ScheduleItem::RepEnd),   T("Attr1", &ScheduleItem::Attr1),
    T("Attr2", &ScheduleItem::Attr2),     T("Attr3", &ScheduleItem::Attr3),
    T("Attr4", &ScheduleItem::Attr4),     T("Attr5", &ScheduleItem::Attr5),
    D("AlarmTime", &ScheduleItem::AlarmTime), I("SyncFlag", &ScheduleItem::SyncFlag),
};

// Matching order: the first key whose "Key=" starts the piece wins.
const FieldDef kMatchOrder[] = {
    D("Index", &ScheduleItem::Index),     T("Subject", &ScheduleItem::Subject),
    T("Place", &ScheduleItem::Place),     T("Execute", &ScheduleItem::Execute),
    I("Private", &ScheduleItem::Private), C(),
    I("UserID", &ScheduleItem::UserID),   I("Type", &ScheduleItem::Type),
    D("Updated", &ScheduleItem::Updated), D("Start", &ScheduleItem::Start),
    D("End", &ScheduleItem::End),         I("Alarm", &ScheduleItem::Alarm),
    D("AlarmTime", &ScheduleItem::AlarmTime), T("Desc", &ScheduleItem::Desc),
    I("RepType", &ScheduleItem::RepType), I("RepX", &ScheduleItem::RepX),
    I("RepY", &ScheduleItem::RepY),       I("RepZ", &ScheduleItem::RepZ),
    D("RepStart", &ScheduleItem::RepStart), D("RepEnd", &ScheduleItem::RepEnd),
    T("Attr1", &ScheduleItem::Attr1),     T("Attr2", &ScheduleItem::Attr2),
    T("Attr3", &ScheduleItem::Attr3),     T("Attr4", &ScheduleItem::Attr4),
    T("Attr5", &ScheduleItem::Attr5),     I("SyncFlag", &ScheduleItem::SyncFlag),
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of 1..max_digits digits at pos; false when there is none or it is longer.
bool TakeNumber(std::string_view s, std::size_t& pos, int max_digits, int& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    if (static_cast<int>(pos - start) == max_digits) return false;
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool TakeChar(std::string_view s, std::size_t& pos, char c) {
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// "H:M" or "H:M:S" at pos.
bool TakeTime(std::string_view s, std::size_t& pos, int& h, int& mi, int& sec) {
  sec = 0;
  if (!TakeNumber(s, pos, 2, h) || !TakeChar(s, pos, ':') || !TakeNumber(s, pos, 2, mi)) return false;
  if (TakeChar(s, pos, ':') && !TakeNumber(s, pos, 2, sec)) return false;
  return h <= 23 && mi <= 59 && sec <= 59;
}

void AppendText(std::string& out, const std::string& value) {
  const std::size_t at = out.size();
  out += value;
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(), kFieldSeparator, ' ');
}

}  // namespace

std::string FormatWireDate(const DateTime& d) {
  if (d.GetStatus() == DateTime::null) return {};
  int y, mo, dd, h, mi, s;
  if (!d.Split(y, mo, dd, h, mi, s)) return "Invalid DateTime";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", y, mo, dd, h, mi, s);
  return buf;
}

DateTime ParseWireDate(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  s = s.substr(b, e - b);
  std::size_t pos = 0;
  int h = 0, mi = 0, sec = 0;
  if (s.find('/') == std::string_view::npos) {
    if (!TakeTime(s, pos, h, mi, sec) || pos != s.size()) return DateTime::Invalid();
    return DateTime::FromLinearSeconds(h * 3600 + mi * 60 + sec);
  }
  int y, mo, d;
  if (!TakeNumber(s, pos, 4, y) || !TakeChar(s, pos, '/') || !TakeNumber(s, pos, 2, mo) ||
      !TakeChar(s, pos, '/') || !TakeNumber(s, pos, 2, d))
    return DateTime::Invalid();
  if (pos < s.size()) {
    if (!IsBlank(s[pos])) return DateTime::Invalid();
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    if (!TakeTime(s, pos, h, mi, sec) || pos != s.size()) return DateTime::Invalid();
  }
  // No rolling over here: a text date must name a real day.
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) return DateTime::Invalid();
  return DateTime::FromParts(y, mo, d, h, mi, sec);
}

int32_t ParseWireInt(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) v = int64_t{INT32_MAX} + 1;  // saturate, keep scanning
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

std::string EncodeRecordText(const ScheduleItem& item) {
  std::string out;
  out.reserve(item.TextBytes() + 500);
  bool first = true;
  for (const FieldDef& f : kWriteOrder) {
    if (!first) out += kFieldSeparator;
    first = false;
    out += f.key;
    out += '=';
    switch (f.kind) {
      case Kind::Text: AppendText(out, item.*f.text); break;
      case Kind::Int: out += std::to_string(item.*f.integer); break;
      case Kind::Color: out += std::to_string(static_cast<int32_t>(item.Color)); break;
      case Kind::Date: out += FormatWireDate(item.*f.date); break;
    }
  }
  return out;
}

void DecodeRecordText(std::string_view text, ScheduleItem& item) {
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(kFieldSeparator, pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(pos, end - pos);
    pos = end + 1;
    if (piece.empty()) continue;
    for (const FieldDef& f : kMatchOrder) {
      if (piece.size() <= f.key.size() || piece.compare(0, f.key.size(), f.key) != 0 ||
          piece[f.key.size()] != '=')
        continue;
      const std::string_view value = piece.substr(f.key.size() + 1);
      switch (f.kind) {
        case Kind::Text: (item.*f.text).assign(value); break;
        case Kind::Int: item.*f.integer = ParseWireInt(value); break;
        case Kind::Color: item.Color = static_cast<uint32_t>(ParseWireInt(value)); break;
        case Kind::Date: item.*f.date = ParseWireDate(value); break;
      }
      break;
    }
  }
}

bool WriteRecord(OutStream& out, const ScheduleItem& item) {
  return WriteRecordText(out, EncodeRecordText(item));
}

bool WriteRecordText(OutStream& out, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(kMaxRecordLength)) return false;
  out.WriteInt32(static_cast<int32_t>(text.size()));
  out.WriteBytes(text.data(), text.size());
  out.WriteBytes("", 1);
  return out.Flush();
}

bool ReadRecord(InStream& in, ScheduleItem& item) { return ReadRecord(in, item, nullptr); }

bool ReadRecord(InStream& in, ScheduleItem& item, std::size_t* bytes) {
  int32_t n;
  if (!in.ReadInt32(n) || n < 0 || n > kMaxRecordLength) return false;
  std::string text;
  if (!in.ReadInto(text, static_cast<std::size_t>(n) + 1)) return false;
  // A length that does not match the text shows here: the byte in the
  // terminator's place is part of some field.
  if (text.back() != '\0') return false;
  text.pop_back();
  DecodeRecordText(text, item);
  if (bytes) *bytes += text.size();
  return true;
}

}  // namespace kv
