#include "alarm/AlarmArgs.h"

namespace kv::alarm {

namespace {

ParsedArgs Error(std::string text) {
  ParsedArgs p;
  p.error = std::move(text);
  return p;
}

// Older callers protect the span with quotes; they are not part of it.
std::string Unquote(const std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

std::string AlarmUsage() {
  return "使い方: QvxAlarm.exe -S 件名 -T 日時 [-P 場所] [-D 内容]";
}

ParsedArgs ParseAlarmArgs(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    ParsedArgs p;
    p.help = true;
    return p;
  }
  for (const std::string& a : args)
    if (a.size() > kMaxArgumentBytes) return Error("引数が長すぎます。");

  // Flags in their fixed order; a value is whatever follows its flag, so a
  // subject may itself start with "-".
  struct Flag {
    const char* name;
    const char* label;
    bool required;
  };
  static const Flag kFlags[] = {
      {"-S", "件名", true}, {"-T", "日時", true}, {"-P", "場所", false}, {"-D", "内容", false}};
  std::optional<std::string> values[4];
  std::size_t pos = 0;
  for (int f = 0; f < 4; ++f) {
    if (pos < args.size() && args[pos] == kFlags[f].name) {
      if (pos + 1 >= args.size())
        return Error(std::string(kFlags[f].name) + " の後に" + kFlags[f].label + "がありません。");
      values[f] = args[pos + 1];
      pos += 2;
    } else if (kFlags[f].required) {
      return Error(std::string(kFlags[f].name) + " (" + kFlags[f].label + ") がありません。");
    }
  }
  if (pos < args.size()) return Error("余分な引数があります: " + args[pos]);

  AlarmRequest r;
  r.subject = *values[0];
  r.span = Unquote(*values[1]);
  r.place = values[2];
  r.desc = values[3];
  ParsedArgs p;
  p.request = std::move(r);
  return p;
}

}  // namespace kv::alarm
