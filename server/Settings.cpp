#include "server/Settings.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace kv::server {

namespace {

constexpr std::size_t kMaxConfigBytes = 64 * 1024;

enum class Kind { Text, Number, Flag };

struct Entry {
  const char* name;  // in the file; "--name" on the command line
  const char* env;
  Kind kind;
  long long lo, hi;
  const char* help;
  std::function<void(Settings&, const std::string&, long long)> apply;
};

const std::vector<Entry>& Table() {
  static const std::vector<Entry> table = {
      {"db", "KALVANE_SERVER_DB", Kind::Text, 0, 0, "the database: a file (default ./kalvane-server.db) or a postgresql:// URI without password",
       [](Settings& s, const std::string& v, long long) { s.db = v; }},
      {"address", "KALVANE_SERVER_ADDRESS", Kind::Text, 0, 0,
       "IPv4 or IPv6 address to listen on (default 127.0.0.1: this machine only; 0.0.0.0 or :: for all)",
       [](Settings& s, const std::string& v, long long) { s.server.address = v; }},
      {"port", "KALVANE_SERVER_PORT", Kind::Number, 0, 65535, "TCP port (default 4780; 0: any free port)",
       [](Settings& s, const std::string&, long long n) { s.server.port = static_cast<uint16_t>(n); }},
      {"timeout", "KALVANE_SERVER_TIMEOUT", Kind::Number, 1, 86400,
       "seconds a connection may stay silent (default 30)",
       [](Settings& s, const std::string&, long long n) {
         s.server.idle_timeout_ms = static_cast<int>(n * 1000);
         s.server.connection_timeout_ms = std::max(s.server.connection_timeout_ms, s.server.idle_timeout_ms);
       }},
      {"sign-in-timeout", "KALVANE_SERVER_SIGN_IN_TIMEOUT", Kind::Number, 1, 300,
       "seconds in which a client must have sent its sign-in (default 5)",
       [](Settings& s, const std::string&, long long n) { s.server.sign_in_timeout_ms = static_cast<int>(n * 1000); }},
      {"max-connections", "KALVANE_SERVER_MAX_CONNECTIONS", Kind::Number, 1, 10000,
       "connections served at once (default 256)",
       [](Settings& s, const std::string&, long long n) { s.server.max_connections = static_cast<int>(n); }},
      {"max-per-address", "KALVANE_SERVER_MAX_PER_ADDRESS", Kind::Number, 1, 10000,
       "connections served at once for one client address (default 32)",
       [](Settings& s, const std::string&, long long n) {
         s.server.max_connections_per_address = static_cast<int>(n);
       }},
      {"max-items", "KALVANE_SERVER_MAX_ITEMS", Kind::Number, 1, 100000000,
       "items one user may keep, deletions included (default 200000)",
       [](Settings& s, const std::string&, long long n) { s.max_items = n; }},
      {"memory-budget", "KALVANE_SERVER_MEMORY_BUDGET", Kind::Number, 16, 1048576,
       "MiB all connections may hold at once for records (default 256)",
       [](Settings& s, const std::string&, long long n) {
         s.server.memory_budget = static_cast<std::size_t>(n) * 1024 * 1024;
       }},
      {"download-slack", "KALVANE_SERVER_DOWNLOAD_SLACK", Kind::Number, 0, 30LL * 86400,
       "seconds before a client's last synchronisation from which changes are sent again (default 86400)",
       [](Settings& s, const std::string&, long long n) { s.server.limits.download_slack_seconds = n; }},
      {"fast-sync", "KALVANE_SERVER_FAST_SYNC", Kind::Flag, 0, 1,
       "commit without waiting for the disk: the last changes may be lost on a power failure",
       [](Settings& s, const std::string&, long long n) { s.fast_sync = n != 0; }},
  };
  return table;
}

const Entry* Find(const std::string& name) {
  for (const Entry& e : Table())
    if (name == e.name) return &e;
  return nullptr;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool Apply(const Entry& e, const std::string& raw, const std::string& where, Settings& s, std::string& error) {
  const std::string v = Trim(raw);
  long long n = 0;
  if (e.kind == Kind::Flag) {
    if (v == "yes" || v == "true" || v == "1" || v == "on") {
      n = 1;
    } else if (v == "no" || v == "false" || v == "0" || v == "off") {
      n = 0;
    } else {
      error = where + ": " + e.name + " takes yes or no";
      return false;
    }
  } else if (e.kind == Kind::Number) {
    const auto parsed = ParseNumber(v, e.lo, e.hi);
    if (!parsed) {
      error = where + ": " + e.name + " takes " + std::to_string(e.lo) + " to " + std::to_string(e.hi);
      return false;
    }
    n = *parsed;
  } else if (v.empty()) {
    error = where + ": " + e.name + " must not be empty";
    return false;
  }
  e.apply(s, v, n);
  return true;
}

bool ReadConfig(const std::string& path, Settings& s, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read the configuration file " + path;
    return false;
  }
  std::string text(kMaxConfigBytes + 1, '\0');
  f.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(f.gcount()));
  if (text.size() > kMaxConfigBytes) {
    error = path + " is longer than " + std::to_string(kMaxConfigBytes) + " bytes";
    return false;
  }
  std::istringstream lines(text);
  std::string line;
  for (int no = 1; std::getline(lines, line); ++no) {
    const std::string where = path + " line " + std::to_string(no);
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    const auto eq = t.find('=');
    if (eq == std::string::npos) {
      error = where + ": expected name = value";
      return false;
    }
    const std::string name = Trim(t.substr(0, eq));
    const Entry* e = Find(name);
    if (!e) {
      error = where + ": unknown setting " + name;
      return false;
    }
    if (!Apply(*e, t.substr(eq + 1), where, s, error)) return false;
  }
  return true;
}

}  // namespace

std::optional<long long> ParseNumber(const std::string& s, long long lo, long long hi) {
  long long v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

EnvLookup ProcessEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
  };
}

bool IsSettingOption(const std::string& option) {
  return option == "--config" || (option.rfind("--", 0) == 0 && Find(option.substr(2)));
}

bool IsSettingFlag(const std::string& option) {
  const Entry* e = option.rfind("--", 0) == 0 ? Find(option.substr(2)) : nullptr;
  return e && e->kind == Kind::Flag;
}

bool ResolveSettings(const std::map<std::string, std::string>& options, const EnvLookup& env, Settings& out,
                     std::string& error) {
  Settings s;
  std::optional<std::string> config;
  if (auto it = options.find("--config"); it != options.end()) {
    config = it->second;
  } else if (env) {
    config = env("KALVANE_SERVER_CONFIG");
  }
  if (config && !ReadConfig(*config, s, error)) return false;
  for (const Entry& e : Table()) {
    const auto v = env ? env(e.env) : std::nullopt;
    if (v && !Apply(e, *v, e.env, s, error)) return false;
  }
  for (const Entry& e : Table()) {
    auto it = options.find(std::string("--") + e.name);
    if (it != options.end() && !Apply(e, it->second, std::string("--") + e.name, s, error)) return false;
  }
  out = std::move(s);
  return true;
}

std::string SettingsUsage() {
  std::string u =
      "settings (an option wins over its environment variable, which wins over\n"
      "the configuration file named by --config FILE or KALVANE_SERVER_CONFIG,\n"
      "whose lines read \"name = value\"; # starts a comment):\n";
  for (const Entry& e : Table()) {
    u += "  --" + std::string(e.name) + (e.kind == Kind::Flag ? "" : " VALUE") + "  (" + e.env + ", " + e.name +
         (e.kind == Kind::Flag ? " = yes" : " = ...") + ")\n      " + e.help + "\n";
  }
  return u;
}

}  // namespace kv::server
