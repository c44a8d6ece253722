#pragma once
// The server's command line: serving and user administration.
#include <iosfwd>
#include <string>
#include <vector>

namespace kv::server {

// Runs one command; returns the process exit code. `serve` blocks until
// SIGTERM or SIGINT arrives (the caller must have blocked both signals in
// every thread, see BlockStopSignals).
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Blocks SIGTERM and SIGINT in the calling thread and the threads it
// starts later, so that `serve` can wait for them; ignores SIGPIPE.
void BlockStopSignals();

std::string UsageText();

}  // namespace kv::server
