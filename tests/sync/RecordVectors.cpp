#include "tests/sync/RecordVectors.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kv::test {

namespace {

std::string Unescape(const std::string& s, bool& ok) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      ok = false;
    }
  }
  return out;
}

bool ParseDate(const std::string& v, DateTime& d) {
  if (v == "null") return d = DateTime::Null(), true;
  if (v == "invalid") return d = DateTime::Invalid(), true;
  int y, mo, dd, h, mi, s;
  char tail;
  if (std::sscanf(v.c_str(), "%d/%d/%d %d:%d:%d%c", &y, &mo, &dd, &h, &mi, &s, &tail) != 6)
    return false;
  d = DateTime::FromParts(y, mo, dd, h, mi, s);
  return d.IsValid();
}

std::string Show(const DateTime& d) { return d.ToString(); }

}  // namespace

ScheduleItem VectorBaseItem() {
  ScheduleItem it;
  it.SyncFlag = 0;
  it.Alarm = 0;
  return it;
}

bool SetVectorField(ScheduleItem& it, const std::string& key, const std::string& raw) {
  bool ok = true;
  const std::string v = Unescape(raw, ok);
  if (!ok) return false;
  std::string* texts[] = {&it.Subject, &it.Place, &it.Execute, &it.Desc, &it.Attr1,
                          &it.Attr2,   &it.Attr3, &it.Attr4,   &it.Attr5};
  const char* text_keys[] = {"Subject", "Place", "Execute", "Desc", "Attr1",
                             "Attr2",   "Attr3", "Attr4",   "Attr5"};
  for (int i = 0; i < 9; ++i)
    if (key == text_keys[i]) return *texts[i] = v, true;
  DateTime* dates[] = {&it.Index, &it.Updated, &it.Start, &it.End,
                       &it.RepStart, &it.RepEnd, &it.AlarmTime};
  const char* date_keys[] = {"Index", "Updated", "Start", "End", "RepStart", "RepEnd", "AlarmTime"};
  for (int i = 0; i < 7; ++i)
    if (key == date_keys[i]) return ParseDate(v, *dates[i]);
  char* end = nullptr;
  const long long n = std::strtoll(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0') return false;
  if (key == "Color") return it.Color = static_cast<uint32_t>(n), true;
  int32_t* ints[] = {&it.Private, &it.UserID, &it.Type, &it.Alarm, &it.RepType,
                     &it.RepX,    &it.RepY,   &it.RepZ, &it.SyncFlag};
  const char* int_keys[] = {"Private", "UserID", "Type", "Alarm", "RepType",
                            "RepX",    "RepY",   "RepZ", "SyncFlag"};
  for (int i = 0; i < 9; ++i)
    if (key == int_keys[i]) return *ints[i] = static_cast<int32_t>(n), true;
  return false;
}

std::vector<RecordVector> LoadRecordVectors(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return {};
  }
  std::vector<RecordVector> out;
  RecordVector cur;
  bool open = false;
  std::string line;
  int no = 0;
  auto fail = [&](const std::string& why) {
    error = path + ":" + std::to_string(no) + ": " + why;
    return std::vector<RecordVector>{};
  };
  while (std::getline(in, line)) {
    ++no;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t sp = line.find(' ');
    const std::string tag = line.substr(0, sp);
    const std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (tag == "vector") {
      if (open) return fail("vector inside vector");
      cur = RecordVector{};
      cur.name = rest;
      cur.item = VectorBaseItem();
      open = true;
      continue;
    }
    if (!open) return fail("outside a vector");
    if (tag == "end") {
      cur.expected = cur.item;
      out.push_back(cur);
      open = false;
    } else if (tag == "kind") {
      if (rest != "encode" && rest != "decode") return fail("bad kind");
      cur.encode = rest == "encode";
    } else if (tag == "hex") {
      std::istringstream hs(rest);
      std::string b;
      while (hs >> b) cur.bytes += static_cast<char>(std::stoi(b, nullptr, 16));
    } else if (tag == "item" || tag == "expect") {
      const std::size_t ks = rest.find(' ');
      const std::string key = rest.substr(0, ks);
      const std::string value = ks == std::string::npos ? "" : rest.substr(ks + 1);
      if (tag == "item") {
        if (!SetVectorField(cur.item, key, value)) return fail("bad field " + key);
      } else {
        cur.expected_keys.push_back(key + " " + value);
      }
    } else {
      return fail("unknown line " + tag);
    }
  }
  if (open) return fail("unterminated vector");
  // Apply the expectations over a copy of each item.
  for (RecordVector& v : out) {
    v.expected = v.item;
    for (const std::string& kv : v.expected_keys) {
      const std::size_t ks = kv.find(' ');
      if (!SetVectorField(v.expected, kv.substr(0, ks), kv.substr(ks + 1))) {
        error = v.name + ": bad expect " + kv;
        return {};
      }
    }
  }
  return out;
}

std::string RecordVectorPath() { return KV_RECORD_VECTORS; }

std::string DescribeDifferences(const ScheduleItem& a, const ScheduleItem& b) {
  std::ostringstream os;
  auto dt = [&](const char* k, const DateTime& x, const DateTime& y) {
    if (x.GetStatus() != y.GetStatus() || (x.IsValid() && x.LinearSeconds() != y.LinearSeconds()))
      os << k << ": want " << Show(x) << " got " << Show(y) << "\n";
  };
  auto tx = [&](const char* k, const std::string& x, const std::string& y) {
    if (x != y) os << k << ": want [" << x << "] got [" << y << "]\n";
  };
  auto in = [&](const char* k, long long x, long long y) {
    if (x != y) os << k << ": want " << x << " got " << y << "\n";
  };
  dt("Index", a.Index, b.Index);
  dt("Updated", a.Updated, b.Updated);
  dt("Start", a.Start, b.Start);
  dt("End", a.End, b.End);
  dt("RepStart", a.RepStart, b.RepStart);
  dt("RepEnd", a.RepEnd, b.RepEnd);
  dt("AlarmTime", a.AlarmTime, b.AlarmTime);
  tx("Subject", a.Subject, b.Subject);
  tx("Place", a.Place, b.Place);
  tx("Execute", a.Execute, b.Execute);
  tx("Desc", a.Desc, b.Desc);
  tx("Attr1", a.Attr1, b.Attr1);
  tx("Attr2", a.Attr2, b.Attr2);
  tx("Attr3", a.Attr3, b.Attr3);
  tx("Attr4", a.Attr4, b.Attr4);
  tx("Attr5", a.Attr5, b.Attr5);
  in("Private", a.Private, b.Private);
  in("Color", a.Color, b.Color);
  in("UserID", a.UserID, b.UserID);
  in("Type", a.Type, b.Type);
  in("Alarm", a.Alarm, b.Alarm);
  in("RepType", a.RepType, b.RepType);
  in("RepX", a.RepX, b.RepX);
  in("RepY", a.RepY, b.RepY);
  in("RepZ", a.RepZ, b.RepZ);
  in("SyncFlag", a.SyncFlag, b.SyncFlag);
  return os.str();
}

}  // namespace kv::test
