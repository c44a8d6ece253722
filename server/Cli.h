#pragma once
// The server's command line: serving and user administration.
#include <iosfwd>
#include <string>
#include <vector>

namespace kv::server {

// Runs one command; returns the process exit code. `serve` blocks SIGTERM
// and SIGINT in the calling thread before it starts the server's threads,
// and returns when one of them arrives; other commands leave the signals
// alone, so Ctrl-C ends a password prompt.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// A client that goes away must not end the process.
void IgnoreBrokenPipes();

std::string UsageText();

}  // namespace kv::server
