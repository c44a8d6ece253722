#pragma once
// The alarm program's command line: -S subject -T time [-P place]
// [-D description], in that order, each value the argument after its flag.
#include <optional>
#include <string>
#include <vector>

namespace kv::alarm {

// Longest single argument accepted; the client sends far less.
inline constexpr std::size_t kMaxArgumentBytes = 16 * 1024;

struct AlarmRequest {
  std::string subject;  // UTF-8
  std::string span;     // the time span, without surrounding quotes
  std::optional<std::string> place;
  std::optional<std::string> desc;
};

struct ParsedArgs {
  std::optional<AlarmRequest> request;
  bool help = false;   // --help / -h alone
  std::string error;   // UTF-8, when neither request nor help
};

// args: the arguments after the program name.
ParsedArgs ParseAlarmArgs(const std::vector<std::string>& args);

// The one-line usage text (UTF-8).
std::string AlarmUsage();

}  // namespace kv::alarm
