#pragma once
// The server's log: one line per event on standard error, which the
// journal collects when the server runs as a service. Tests divert it.
#include <functional>
#include <string>
#include <string_view>

namespace kv::server {

// Writes one line (a newline is added); safe from any thread.
void LogLine(std::string_view line);

// Replaces where lines go; an empty function restores standard error.
void SetLogSink(std::function<void(std::string_view)> sink);

// CP932 text that came from a client (a user name), made safe for one
// log line: at most `max` bytes, in UTF-8, control characters as \xNN.
std::string LogSafe(std::string_view raw, std::size_t max = 64);

}  // namespace kv::server
