#pragma once
// The server's settings from three places, each overriding the one
// before: a configuration file ("name = value" lines), KALVANE_SERVER_*
// environment variables, and command-line options.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "server/Server.h"

namespace kv::server {

struct Settings {
  std::string db = "kalvane-server.db";
  ServerConfig server;
  bool fast_sync = false;
  int64_t max_items = 200000;  // per user, tombstones included
};

using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;
EnvLookup ProcessEnvironment();

// True for "--port" and the other options naming a setting; "--fast-sync"
// is the one without a value.
bool IsSettingOption(const std::string& option);
bool IsSettingFlag(const std::string& option);

// `options` maps options as typed ("--port") to their values; a flag maps
// to "yes". "--config" names the file (otherwise KALVANE_SERVER_CONFIG;
// neither: no file). False with a message naming the source on an
// unknown name or a value out of range.
bool ResolveSettings(const std::map<std::string, std::string>& options, const EnvLookup& env, Settings& out,
                     std::string& error);

// A whole decimal number (an optional minus sign, then only digits) within
// lo..hi.
std::optional<long long> ParseNumber(const std::string& s, long long lo, long long hi);

// The settings part of --help, one entry per setting.
std::string SettingsUsage();

}  // namespace kv::server
