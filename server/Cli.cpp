#include "server/Cli.h"

#include <signal.h>

#include <charconv>
#include <iostream>
#include <map>
#include <optional>

#include "model/Text.h"
#include "server/Server.h"
#include "server/ServerStore.h"

namespace kv::server {

namespace {

constexpr const char* kDefaultDb = "kalvane-server.db";

struct Parsed {
  std::string db = kDefaultDb;
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // --name value
  std::vector<std::string> flags;              // --name
};

bool IsValueOption(const std::string& name) {
  return name == "--db" || name == "--address" || name == "--port" || name == "--timeout" ||
         name == "--max-connections" || name == "--display" || name == "--password" || name == "--id" ||
         name == "--download-slack";
}

bool IsFlag(const std::string& name) { return name == "--help" || name == "-h" || name == "--fast-sync"; }

bool Parse(const std::vector<std::string>& args, Parsed& p, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsFlag(a)) {
      p.flags.push_back(a == "-h" ? "--help" : a);
    } else if (IsValueOption(a)) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      (a == "--db" ? p.db : p.options[a]) = args[++i];
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      error = "unknown option " + a;
      return false;
    } else if (p.command.empty()) {
      p.command = a;
    } else {
      p.positional.push_back(a);
    }
  }
  return true;
}

bool HasFlag(const Parsed& p, const char* f) {
  for (const auto& x : p.flags)
    if (x == f) return true;
  return false;
}

std::optional<long long> Number(const std::string& s, long long lo, long long hi) {
  long long v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

// Names and passwords are typed as UTF-8 and kept as the CP932 bytes the
// clients send.
bool ToWire(const std::string& utf8, std::string& cp932, std::ostream& err) {
  auto r = text::FromUtf8(utf8);
  if (!r) {
    err << "kalvane-server: \"" << utf8 << "\" has characters that Shift-JIS cannot hold\n";
    return false;
  }
  cp932 = *r;
  return true;
}

bool PasswordArg(const Parsed& p, std::istream& in, std::ostream& out, std::string& password,
                 std::ostream& err) {
  auto it = p.options.find("--password");
  std::string raw;
  if (it != p.options.end()) {
    raw = it->second;
  } else {
    out << "password: " << std::flush;
    if (!std::getline(in, raw)) {
      err << "kalvane-server: no password given\n";
      return false;
    }
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
  }
  return ToWire(raw, password, err);
}

bool Expect(const Parsed& p, size_t n, std::ostream& err) {
  if (p.positional.size() == n) return true;
  err << "kalvane-server: " << p.command << " takes " << n << (n == 1 ? " name" : " names")
      << " (see --help)\n";
  return false;
}

int Fail(std::ostream& err, const std::string& msg) {
  err << "kalvane-server: " << msg << "\n";
  return 1;
}

int Serve(const Parsed& p, ServerStore& store, std::ostream& out, std::ostream& err) {
  ServerConfig cfg;
  if (auto it = p.options.find("--address"); it != p.options.end()) cfg.address = it->second;
  if (auto it = p.options.find("--port"); it != p.options.end()) {
    const auto v = Number(it->second, 0, 65535);
    if (!v) return Fail(err, "--port takes 0 to 65535");
    cfg.port = static_cast<uint16_t>(*v);
  }
  if (auto it = p.options.find("--timeout"); it != p.options.end()) {
    const auto v = Number(it->second, 1, 86400);
    if (!v) return Fail(err, "--timeout takes 1 to 86400 seconds");
    cfg.idle_timeout_ms = static_cast<int>(*v * 1000);
    cfg.connection_timeout_ms = std::max(cfg.connection_timeout_ms, cfg.idle_timeout_ms);
  }
  if (auto it = p.options.find("--max-connections"); it != p.options.end()) {
    const auto v = Number(it->second, 1, 10000);
    if (!v) return Fail(err, "--max-connections takes 1 to 10000");
    cfg.max_connections = static_cast<int>(*v);
  }
  if (auto it = p.options.find("--download-slack"); it != p.options.end()) {
    const auto v = Number(it->second, 0, 30LL * 86400);
    if (!v) return Fail(err, "--download-slack takes 0 to 2592000 seconds");
    cfg.limits.download_slack_seconds = *v;
  }
  if (HasFlag(p, "--fast-sync")) store.SetFullSync(false);
  Server server(store, cfg);
  std::string error;
  if (!server.Start(&error)) return Fail(err, error);
  out << "kalvane-server: listening on " << cfg.address << " port " << server.Port() << std::endl;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  server.Stop();
  const ServerStats s = server.Stats();
  out << "kalvane-server: stopped after " << s.connections << " connections (" << s.completed << " completed, "
      << s.refused << " refused sign-ins, " << s.malformed << " broken off, " << s.timed_out << " timed out)"
      << std::endl;
  return 0;
}

int List(ServerStore& store, std::ostream& out) {
  const auto users = store.Users();
  std::map<int32_t, std::string> names;
  out << "ID\tuser name\tdisplay name\n";
  for (const User& u : users) {
    names[u.id] = text::ToUtf8Lossy(u.name);
    out << u.id << "\t" << names[u.id] << "\t" << text::ToUtf8Lossy(u.display) << "\n";
  }
  const auto perms = store.Permissions();
  if (!perms.empty()) out << "\nwrite permissions (user: may write the items of)\n";
  for (const Permission& pm : perms) out << names[pm.actor] << ": " << names[pm.target] << "\n";
  return 0;
}

}  // namespace

std::string UsageText() {
  return R"(usage: kalvane-server [--db FILE] COMMAND [ARGUMENTS]

The schedule server of Kalvane. Its data lives in one SQLite file
(default ./kalvane-server.db, created when missing).

commands:
  serve [--address ADDR] [--port N] [--timeout SECONDS] [--max-connections N]
        [--download-slack SECONDS] [--fast-sync]
      Serve clients until SIGTERM or SIGINT. ADDR is an IPv4 or IPv6 address
      (default 127.0.0.1, loopback only; 0.0.0.0 for every interface). Port
      4780 by default, 0 for any free port. A connection silent for
      SECONDS (default 30) is closed. --fast-sync commits without waiting
      for the disk (the last changes may be lost on a power failure).
  add-user NAME [--display TEXT] [--password TEXT] [--id N]
      Add a user; the ID is the next free one unless given. Without
      --password the password is read from the first line of input.
  remove-user NAME        Remove a user with all their items and permissions.
  set-password NAME [--password TEXT]
  set-display NAME TEXT   Change the name shown to other users.
  grant USER OWNER        Let USER add, change and delete OWNER's items.
  revoke USER OWNER       Take that permission back.
  list                    Show the users and the permissions.

Signing in for another user: a client that adds, changes or deletes an
item of OWNER signs in with OWNER's user name and its own user's password.
The server accepts this when the password is OWNER's own or belongs to a
user granted write permission on OWNER; such a connection may only add,
change and delete OWNER's items.
)";
}

void BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  Parsed p;
  std::string error;
  if (!Parse(args, p, error)) return Fail(err, error + " (see --help)");
  if (HasFlag(p, "--help") || p.command == "help") {
    out << UsageText();
    return 0;
  }
  if (p.command.empty()) {
    err << UsageText();
    return 2;
  }
  static const char* const known[] = {"serve", "add-user", "remove-user", "set-password",
                                      "set-display", "grant", "revoke", "list"};
  bool ok = false;
  for (const char* k : known) ok = ok || p.command == k;
  if (!ok) return Fail(err, "unknown command " + p.command + " (see --help)");

  ServerStore store;
  if (!store.Open(p.db, &error)) return Fail(err, error);

  if (p.command == "serve") {
    if (!p.positional.empty()) return Fail(err, "serve takes no names");
    return Serve(p, store, out, err);
  }
  if (p.command == "list") return List(store, out);

  std::vector<std::string> names;
  for (const auto& s : p.positional) {
    std::string w;
    if (!ToWire(s, w, err)) return 1;
    names.push_back(w);
  }
  if (p.command == "add-user") {
    if (!Expect(p, 1, err)) return 2;
    std::string display, password;
    if (auto it = p.options.find("--display"); it != p.options.end() && !ToWire(it->second, display, err)) return 1;
    int32_t id = 0;
    if (auto it = p.options.find("--id"); it != p.options.end()) {
      const auto v = Number(it->second, 1, INT32_MAX);
      if (!v) return Fail(err, "--id takes a positive number");
      id = static_cast<int32_t>(*v);
    }
    if (!PasswordArg(p, in, out, password, err)) return 1;
    int32_t assigned = 0;
    if (!store.AddUser(names[0], display, password, id, &assigned, &error)) return Fail(err, error);
    out << "added user " << p.positional[0] << " with ID " << assigned << "\n";
    return 0;
  }
  if (p.command == "remove-user") {
    if (!Expect(p, 1, err)) return 2;
    if (!store.RemoveUser(names[0], &error)) return Fail(err, error);
    out << "removed user " << p.positional[0] << "\n";
    return 0;
  }
  if (p.command == "set-password") {
    if (!Expect(p, 1, err)) return 2;
    std::string password;
    if (!PasswordArg(p, in, out, password, err)) return 1;
    if (!store.SetPassword(names[0], password, &error)) return Fail(err, error);
    out << "password of " << p.positional[0] << " changed\n";
    return 0;
  }
  if (p.command == "set-display") {
    if (!Expect(p, 2, err)) return 2;
    if (!store.SetDisplayName(names[0], names[1], &error)) return Fail(err, error);
    return 0;
  }
  if (!Expect(p, 2, err)) return 2;
  if (p.command == "grant") {
    if (!store.Grant(names[0], names[1], &error)) return Fail(err, error);
    out << p.positional[0] << " may now write the items of " << p.positional[1] << "\n";
  } else {
    if (!store.Revoke(names[0], names[1], &error)) return Fail(err, error);
    out << p.positional[0] << " may no longer write the items of " << p.positional[1] << "\n";
  }
  return 0;
}

}  // namespace kv::server
