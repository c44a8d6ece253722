#include "server/Cli.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>

#include "model/Text.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "server/Settings.h"

namespace kv::server {

namespace {

struct Parsed {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // --name value; a setting flag maps to "yes"
  std::vector<std::string> flags;              // --name
};

bool IsValueOption(const std::string& name) {
  return (IsSettingOption(name) && !IsSettingFlag(name)) || name == "--display" || name == "--id" ||
         name == "--from" || name == "--to";
}

bool IsFlag(const std::string& name) { return name == "--help" || name == "-h"; }

bool Parse(const std::vector<std::string>& args, Parsed& p, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--password" || a.rfind("--password=", 0) == 0) {
      error = "--password is not accepted: other users of this machine could read it in the process list; "
              "type the password when asked, or give it on standard input";
      return false;
    }
    if (IsFlag(a)) {
      p.flags.push_back(a == "-h" ? "--help" : a);
    } else if (IsSettingFlag(a)) {
      p.options[a] = "yes";
    } else if (IsValueOption(a)) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      p.options[a] = args[++i];
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

// The terminal as it was before the prompt turned echo off; a signal
// during the prompt puts it back before the program ends.
struct termios g_saved_terminal;
volatile sig_atomic_t g_terminal_changed = 0;

void RestoreTerminalAndDie(int sig) {
  if (g_terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  [[maybe_unused]] const ssize_t w = write(STDERR_FILENO, "\n", 1);
  signal(sig, SIG_DFL);
  raise(sig);
}

// One line from the terminal without echo. Ctrl-C ends the program.
std::optional<std::string> PromptHidden(const char* prompt, std::ostream& err) {
  struct termios t;
  const bool have = tcgetattr(STDIN_FILENO, &t) == 0;
  struct sigaction act {}, old_int {}, old_term {};
  act.sa_handler = RestoreTerminalAndDie;
  sigemptyset(&act.sa_mask);
  if (have) {
    g_saved_terminal = t;
    sigaction(SIGINT, &act, &old_int);
    sigaction(SIGTERM, &act, &old_term);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    t.c_lflag |= ECHONL;
    g_terminal_changed = tcsetattr(STDIN_FILENO, TCSAFLUSH, &t) == 0;
  }
  // Only once echo is off: what is typed after the prompt is never shown,
  // and never thrown away as type-ahead.
  err << prompt << std::flush;
  std::string line;
  bool got = false;
  for (char c;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got = true;
    if (c == '\n') break;
    if (line.size() < 4096) line.push_back(c);
  }
  if (have) {
    if (g_terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    g_terminal_changed = 0;
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
  }
  if (!got) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Passwords never come from the command line: from the terminal, asked
// twice without echo, or else the first line of standard input.
bool ReadPassword(std::istream& in, std::string& password, std::ostream& err) {
  std::string raw;
  if (&in == &std::cin && isatty(STDIN_FILENO)) {
    const auto first = PromptHidden("password: ", err);
    const auto again = first ? PromptHidden("password again: ", err) : std::nullopt;
    if (!first || !again) {
      err << "kalvane-server: no password given\n";
      return false;
    }
    if (*first != *again) {
      err << "kalvane-server: the two passwords differ\n";
      return false;
    }
    raw = *first;
  } else {
    if (!std::getline(in, raw)) {
      err << "kalvane-server: no password given (type it when asked, or give it on standard input)\n";
      return false;
    }
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
  }
  if (raw.empty()) {
    err << "kalvane-server: a password must not be empty\n";
    return false;
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

int Serve(const Settings& settings, ServerStore& store, std::ostream& out, std::ostream& err) {
  if (settings.fast_sync) store.SetFullSync(false);
  store.SetItemLimit(settings.max_items);
  // Blocked before the server's threads start, so that they inherit it
  // and the signals come only to sigwait below.
  sigset_t set, old;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, &old);
  int code = 0;
  {
    Server server(store, settings.server);
    std::string error;
    if (!server.Start(&error)) {
      code = Fail(err, error);
    } else {
      out << "kalvane-server: listening on " << settings.server.address << " port " << server.Port() << std::endl;
      int sig = 0;
      while (sigwait(&set, &sig) != 0) {
      }
      server.Stop();
      const ServerStats s = server.Stats();
      out << "kalvane-server: stopped after " << s.connections << " connections (" << s.completed
          << " completed, " << s.refused << " refused sign-ins, " << s.malformed << " broken off, " << s.timed_out
          << " timed out, " << s.evicted << " closed to make room)" << std::endl;
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return code;
}

// Copies a group's database into an empty one, e.g. from its SQLite file
// to PostgreSQL; the source is only read.
int Migrate(const Parsed& p, std::ostream& out, std::ostream& err) {
  const auto from = p.options.find("--from");
  const auto to = p.options.find("--to");
  if (from == p.options.end() || to == p.options.end() || !p.positional.empty())
    return Fail(err, "migrate takes --from DATABASE --to DATABASE (see --help)");
  // Opening a file that is not there would make an empty database.
  if (from->second.find("://") == std::string::npos && access(from->second.c_str(), R_OK) != 0)
    return Fail(err, "cannot read " + from->second + ": " + std::strerror(errno));
  ServerStore source, target;
  std::string error;
  if (!source.Open(from->second, &error) || !target.Open(to->second, &error)) return Fail(err, error);
  if (!source.CopyTo(target, &error)) return Fail(err, error);
  out << "copied " << source.Users().size() << " users with their permissions and items to " << to->second << "\n";
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
  return R"(usage: kalvane-server [--config FILE] [--db DATABASE] COMMAND [ARGUMENTS]

The schedule server of Kalvane. Its data lives in one SQLite file, readable
by its owner only (default ./kalvane-server.db, created when missing), or in
a PostgreSQL database.

commands:
  serve [SETTINGS]        Serve clients until SIGTERM or SIGINT.
  add-user NAME [--display TEXT] [--id N]
      Add a user; the ID is the next free one unless given.
  remove-user NAME        Remove a user with all their items and permissions.
  set-password NAME       Change a user's password.
  set-display NAME TEXT   Change the name shown to other users.
  grant USER OWNER        Let USER add, change and delete OWNER's items.
  revoke USER OWNER       Take that permission back.
  list                    Show the users and the permissions.
  migrate --from DATABASE --to DATABASE
      Copy users, password hashes, permissions and items exactly into an
      empty database (e.g. from the SQLite file to PostgreSQL).

DATABASE (--db) is a file path or a PostgreSQL URI,
postgresql://user@host/dbname (also postgres://). A URI never carries the
password: libpq reads it from PGPASSFILE (~/.pgpass) or a service file
(PGSERVICEFILE, ?service=NAME). Several server processes may serve one
PostgreSQL database at once.

Passwords are never taken from the command line: add-user and set-password
ask for the password twice without showing it, or read the first line of
standard input when it is not a terminal. Empty passwords are refused.

)" + SettingsUsage() +
         R"(
Signing in for another user: a client that adds, changes or deletes an
item of OWNER signs in with OWNER's user name and its own user's password.
The server accepts this when the password is OWNER's own or belongs to a
user granted write permission on OWNER; such a connection may only add,
change and delete OWNER's items.

Failed sign-ins are answered more and more slowly and, after ten from one
address for one name, refused for a minute (doubling, at most fifteen).
Clocks: clients' clocks must be within a day (--download-slack) of the
server's, or a client ahead of it misses changes made by others.
)";
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

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
                                      "set-display", "grant", "revoke", "list", "migrate"};
  bool ok = false;
  for (const char* k : known) ok = ok || p.command == k;
  if (!ok) return Fail(err, "unknown command " + p.command + " (see --help)");

  if (p.command == "migrate") return Migrate(p, out, err);

  Settings settings;
  if (!ResolveSettings(p.options, ProcessEnvironment(), settings, error)) return Fail(err, error);
  ServerStore store;
  if (!store.Open(settings.db, &error)) return Fail(err, error);

  if (p.command == "serve") {
    if (!p.positional.empty()) return Fail(err, "serve takes no names");
    return Serve(settings, store, out, err);
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
      const auto v = ParseNumber(it->second, 1, INT32_MAX);
      if (!v) return Fail(err, "--id takes a positive number");
      id = static_cast<int32_t>(*v);
    }
    if (!ReadPassword(in, password, err)) return 1;
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
    if (!ReadPassword(in, password, err)) return 1;
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
