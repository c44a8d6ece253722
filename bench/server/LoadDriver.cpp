#include "bench/server/LoadDriver.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <latch>
#include <string_view>
#include <memory>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/DateTime.h"
#include "model/ScheduleItem.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"

namespace kv::load {

namespace {

using Steady = std::chrono::steady_clock;

const DateTime kIndexBase = DateTime::FromParts(2021, 1, 1);
const DateTime kUpdatedBase = DateTime::FromParts(2021, 6, 1);
// Each write of an item moves Updated on by a minute: far beyond the
// client's 10 s tolerance and any jitter of its whole-second clock offset,
// so every newer version really is newer wherever it is compared.
constexpr int64_t kUpdatedStep = 60;
// Each client's Indexes lie in a range of their own, in every account.
constexpr int64_t kIndexRange = 1000000;

struct Tracked {
  int owner = 0;  // the client whose account holds the item
  int version = 0;
  bool live = false;
  // A write that failed may or may not have reached the store: the item's
  // state is unknown from then on, so it is neither used nor checked.
  bool uncertain = false;
  ScheduleItem item;        // as last sent
  DateTime stored_updated;  // what the server must hold: sent less the clock offset
};

struct Counts {
  uint64_t requests = 0, accepted = 0, wrong_reads = 0, errors = 0;
  uint64_t adds = 0, updates = 0, deletes = 0, delegated = 0, user_lists = 0, syncs = 0;
  int64_t max_offset = 0;
  bool timed_out = false;
};

struct Client {
  int n = 0;
  std::string name, password;
  int32_t id = 0;
  int target = -1;  // the client whose items this one may also write
  std::unique_ptr<ItemStore> local;
  std::vector<Tracked> items;  // every item it wrote, own and delegated
  int64_t next_seq = 0;
  Counts counts;
};

struct Shared {
  const LoadConfig& cfg;
  std::vector<Client>& clients;
  std::vector<uint16_t> ports;
  Steady::time_point deadline;
};

std::string MakeTempDir() {
  const char* tmp = getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kv-load-XXXXXX";
  if (!mkdtemp(tmpl.data())) return {};
  return tmpl;
}

ScheduleItem NewItem(const Client& c, int owner_id, int64_t seq) {
  ScheduleItem it;
  it.Index = kIndexBase.AddSeconds(c.n * kIndexRange + seq);
  it.SyncFlag = SyncClean;
  it.UserID = owner_id;
  it.Type = 0;
  it.Start = kIndexBase.AddDays(seq % 28).AddSeconds(9 * 3600);
  it.End = it.Start.AddSeconds(3600);
  it.Place = "room " + std::to_string(c.n);
  it.Desc = std::string(static_cast<size_t>(seq % 160), 'd');
  return it;
}

void Stamp(Tracked& t, int writer) {
  ++t.version;
  t.item.Updated = kUpdatedBase.AddSeconds(t.version * kUpdatedStep);
  t.item.Subject = "c" + std::to_string(writer) + " i" + std::to_string(t.item.Index.LinearSeconds()) +
                   " v" + std::to_string(t.version);
}

class Worker {
 public:
  Worker(Shared& sh, Client& c) : sh_(sh), c_(c), rng_(sh.cfg.seed * 7919u + static_cast<uint32_t>(c.n)) {
    st_.UserName = c.name;
    st_.ServerName = "127.0.0.1";
    st_.ServerPort = sh.ports[static_cast<size_t>(c.n) % sh.ports.size()];
    st_.Password = c.password;
    st_.Online = 1;
  }

  void Run() {
    SyncClient client(st_, nullptr);
    for (int r = 0; r < sh_.cfg.requests_per_client; ++r) {
      if (Steady::now() >= sh_.deadline) {
        c_.counts.timed_out = true;
        break;
      }
      ++c_.counts.requests;
      NoteOffset();
      const int pick = Pick(100);
      if (pick < 30) {
        Add(client, c_.n);
      } else if (pick < 55) {
        Change(client, c_.n, false);
      } else if (pick < 65) {
        Change(client, c_.n, true);
      } else if (pick < 75) {
        UserList(client);
      } else if (pick < 90) {
        Sync(client);
      } else if (c_.target >= 0) {
        ++c_.counts.delegated;
        const int what = Pick(5);
        if (what < 2)
          Add(client, c_.target);
        else
          Change(client, c_.target, what == 4);
      } else {
        Add(client, c_.n);
      }
    }
    NoteOffset();
  }

 private:
  // The offset left by the previous request's sign-in.
  void NoteOffset() {
    c_.counts.max_offset = std::max(c_.counts.max_offset, std::abs(st_.ClockOffset.TotalSeconds()));
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  // The real client holds every request off for 300 s after a failure;
  // the load wants each request to try, so the failure is forgotten.
  void Failed() {
    ++c_.counts.errors;
    st_.Online = 1;
  }

  int Write(SyncClient& client, int code, int owner, const ScheduleItem& item) {
    const std::string& user = sh_.clients[static_cast<size_t>(owner)].name;
    if (owner == c_.n) {
      switch (code) {
        case RequestAddItem: return client.AddItem(item);
        case RequestUpdateItem: return client.UpdateItem(item);
        default: return client.DeleteItem(item);
      }
    }
    switch (code) {
      case RequestAddItem: return client.AddItemFor(user, item);
      case RequestUpdateItem: return client.UpdateItemFor(user, item);
      default: return client.DeleteItemFor(user, item);
    }
  }

  void Accepted(Tracked& t) {
    ++c_.counts.accepted;
    // The client sends Updated less the offset measured at this sign-in.
    t.stored_updated = t.item.Updated - st_.ClockOffset;
  }

  void Add(SyncClient& client, int owner) {
    ++c_.counts.adds;
    Tracked t;
    t.owner = owner;
    t.item = NewItem(c_, sh_.clients[static_cast<size_t>(owner)].id, c_.next_seq++);
    Stamp(t, c_.n);
    if (Write(client, RequestAddItem, owner, t.item) == 1) {
      t.live = true;
      Accepted(t);
    } else {
      t.uncertain = true;
      Failed();
    }
    c_.items.push_back(std::move(t));
  }

  void Change(SyncClient& client, int owner, bool remove) {
    std::vector<size_t> live;
    for (size_t i = 0; i < c_.items.size(); ++i)
      if (c_.items[i].owner == owner && c_.items[i].live && !c_.items[i].uncertain) live.push_back(i);
    if (live.empty()) return Add(client, owner);
    Tracked& t = c_.items[live[static_cast<size_t>(Pick(static_cast<int>(live.size())))]];
    ++(remove ? c_.counts.deletes : c_.counts.updates);
    if (remove) {
      // A deletion is a change like any other: it must be newer than every
      // copy a client may still hold, or an upload of that copy wins.
      ++t.version;
      t.item.Updated = kUpdatedBase.AddSeconds(t.version * kUpdatedStep);
    } else {
      Stamp(t, c_.n);
    }
    if (Write(client, remove ? RequestDeleteItem : RequestUpdateItem, owner, t.item) == 1) {
      t.live = !remove;
      Accepted(t);
    } else {
      t.uncertain = true;
      Failed();
    }
  }

  void UserList(SyncClient& client) {
    ++c_.counts.user_lists;
    std::vector<UserEntry> users;
    if (!client.GetUserList(users)) return Failed();
    bool right = users.size() == sh_.clients.size();
    for (const UserEntry& u : users) {
      auto it = std::find_if(sh_.clients.begin(), sh_.clients.end(),
                             [&](const Client& o) { return o.id == u.UserID; });
      if (it == sh_.clients.end() || it->name != u.UserName) {
        right = false;
        continue;
      }
      const bool writable = it->n == c_.n || it->n == c_.target;
      if (u.Writable != (writable ? 1 : 0)) right = false;
    }
    if (!right) ++c_.counts.wrong_reads;
  }

  void Sync(SyncClient& client) {
    ++c_.counts.syncs;
    // Synchronize reports 1 even when the server could not be reached; a
    // failed connection shows only as the state going offline.
    if (client.Synchronize(*c_.local, nullptr) != 1 || st_.Online != 1) return Failed();
    std::unordered_map<int64_t, ScheduleItem> got;
    ScheduleItem l;
    for (int ok = c_.local->ReadFirstItem(l); ok; ok = c_.local->ReadNextItem(l))
      got.emplace(l.Index.LinearSeconds(), l);
    // Only this client writes its own items, so after a download the local
    // copy must show the last accepted state of each of them.
    for (const Tracked& t : c_.items) {
      if (t.owner != c_.n || t.uncertain) continue;
      auto it = got.find(t.item.Index.LinearSeconds());
      const bool live_here = it != got.end() && it->second.SyncFlag != SyncDeleted;
      if (live_here != t.live || (t.live && it->second.Subject != t.item.Subject)) {
        ++c_.counts.wrong_reads;
        return;
      }
    }
  }

  Shared& sh_;
  Client& c_;
  std::mt19937 rng_;
  ConnectionState st_;
};

struct Check {
  uint64_t lost = 0, stray = 0, verified = 0, restamped = 0;
};

Check Verify(kv::server::ServerStore& store, const std::vector<Client>& clients) {
  Check r;
  for (const Client& owner : clients) {
    std::unordered_set<int64_t> accounted;
    for (const Client& writer : clients) {
      for (const Tracked& t : writer.items) {
        if (t.owner != owner.n) continue;
        accounted.insert(t.item.Index.LinearSeconds());
        if (t.uncertain) continue;
        ++r.verified;
        const auto s = store.FindItem(owner.id, t.item.Index);
        bool ok = s.has_value();
        if (ok && t.live) {
          ok = s->SyncFlag != SyncDeleted && s->Subject == t.item.Subject && s->Updated == t.stored_updated;
        } else if (ok) {
          // Clients send their tombstones again on every upload, which may
          // restamp Updated; only the deletion itself must hold.
          ok = s->SyncFlag == SyncDeleted;
          if (ok && s->Updated != t.stored_updated) ++r.restamped;
        }
        if (!ok) ++r.lost;
      }
    }
    for (const ScheduleItem& s : store.ChangedSince(owner.id, DateTime::Invalid()))
      if (!accounted.count(s.Index.LinearSeconds())) ++r.stray;
  }
  return r;
}

// A `serve` process with its output in a file of its own.
class ServerProcess {
 public:
  ServerProcess(const std::string& program, const std::string& log, const LoadConfig& cfg, int max_connections)
      : log_(log) {
    std::vector<std::string> args = {program, "serve"};
    std::vector<std::string> env = {"KALVANE_SERVER_DB=" + cfg.database, "KALVANE_SERVER_ADDRESS=127.0.0.1",
                                    "KALVANE_SERVER_PORT=0",
                                    "KALVANE_SERVER_MAX_CONNECTIONS=" + std::to_string(max_connections),
                                    "KALVANE_SERVER_MAX_PER_ADDRESS=" + std::to_string(max_connections)};
    if (!cfg.full_sync) env.push_back("KALVANE_SERVER_FAST_SYNC=yes");
    for (char** e = environ; *e; ++e)
      if (std::string_view(*e).rfind("KALVANE_SERVER_", 0) != 0) env.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess() { Stop(); }

  // The port it announced; 0 when it did not within ten seconds.
  uint16_t WaitForPort() {
    const auto until = Steady::now() + std::chrono::seconds(10);
    while (pid_ > 0 && Steady::now() < until) {
      const std::string text = Output();
      const size_t at = text.find(" port ");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos)
        return static_cast<uint16_t>(std::strtoul(text.c_str() + at + 6, nullptr, 10));
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
  }
  // SIGTERM lets it finish every connection first; killed when it has
  // not ended within thirty seconds. True when it ended by itself, well.
  bool Stop() {
    if (pid_ <= 0) return false;
    kill(pid_, SIGTERM);
    int status = -1;
    const auto until = Steady::now() + std::chrono::seconds(30);
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
      if (Steady::now() >= until) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return status == 0;
  }
  // What it printed, the first 64 KiB of it.
  std::string Output() const {
    std::ifstream in(log_);
    std::string text(64 * 1024, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

bool ServerAnswers(uint16_t port, const Client& c, size_t users_expected) {
  ConnectionState st;
  st.UserName = c.name;
  st.ServerName = "127.0.0.1";
  st.ServerPort = port;
  st.Password = c.password;
  st.Online = 1;
  SyncClient client(st, nullptr);
  std::vector<UserEntry> users;
  return client.GetUserList(users) && users.size() == users_expected;
}

}  // namespace

LoadResult RunLoad(const LoadConfig& cfg) {
  LoadResult res;
  if (cfg.clients <= 0 || cfg.requests_per_client < 0 || cfg.servers <= 0) {
    res.setup_error = "clients and servers must be positive and requests not negative";
    return res;
  }
  const bool own_dir = cfg.dir.empty();
  const std::string dir = own_dir ? MakeTempDir() : cfg.dir;
  if (dir.empty()) {
    res.setup_error = "no temporary directory";
    return res;
  }
  // The clients' stores and the server's go before the directory does.
  {
    std::vector<std::unique_ptr<kv::server::ServerStore>> stores;
    std::vector<Client> clients(static_cast<size_t>(cfg.clients));
    std::string err;
    bool ready = true;
    for (int n = 0; ready && n < cfg.servers; ++n) {
      stores.push_back(std::make_unique<kv::server::ServerStore>());
      ready = stores.back()->Open(cfg.database.empty() ? dir + "/server.db" : cfg.database, &err);
      if (ready) stores.back()->SetFullSync(cfg.full_sync);
    }
    kv::server::ServerStore& store = *stores.front();
    for (int n = 0; ready && n < cfg.clients; ++n) {
      Client& c = clients[static_cast<size_t>(n)];
      c.n = n;
      char name[32];
      std::snprintf(name, sizeof name, "load%03d", n);
      c.name = name;
      c.password = "pw-" + c.name;
      ready = store.AddUser(c.name, "Load " + std::to_string(n), c.password, 0, &c.id, &err);
      c.local = std::make_unique<ItemStore>();
      const std::string path = dir + "/" + c.name + ".mdb";
      if (ready && (c.local->CreateStore(path) != 1 || c.local->WriteSettings(c.name, "127.0.0.1", 0, c.password) != 1)) {
        err = "cannot create " + path;
        ready = false;
      }
    }
    for (int n = 0; ready && cfg.delegate_every > 0 && cfg.clients > 1 && n < cfg.clients; n += cfg.delegate_every) {
      Client& c = clients[static_cast<size_t>(n)];
      c.target = (n + 1) % cfg.clients;
      ready = store.Grant(c.name, clients[static_cast<size_t>(c.target)].name, &err);
    }
    kv::server::ServerConfig scfg;
    scfg.address = "127.0.0.1";
    scfg.port = 0;
    scfg.max_connections = std::max(256, cfg.clients * 2);
    // Every client is on loopback, so one address has them all.
    scfg.max_connections_per_address = scfg.max_connections;
    std::vector<std::unique_ptr<kv::server::Server>> servers;
    std::vector<std::unique_ptr<ServerProcess>> processes;
    std::vector<uint16_t> ports;
    if (cfg.program.empty()) {
      for (auto& s : stores) {
        servers.push_back(std::make_unique<kv::server::Server>(*s, scfg));
        if (ready) ready = servers.back()->Start(&err);
        if (ready) ports.push_back(servers.back()->Port());
      }
    } else if (cfg.database.empty()) {
      err = "server processes need a database both can reach";
      ready = false;
    } else {
      for (int n = 0; ready && n < cfg.servers; ++n) {
        const std::string log = dir + "/server" + std::to_string(n) + ".log";
        processes.push_back(std::make_unique<ServerProcess>(cfg.program, log, cfg, scfg.max_connections));
        ports.push_back(processes.back()->WaitForPort());
        if (ports.back() == 0) {
          err = cfg.program + " serve did not start: " + processes.back()->Output();
          ready = false;
        }
      }
    }
    bool stopped_well = true;
    const auto stop_all = [&] {
      for (auto& s : servers) s->Stop();
      for (auto& p : processes) stopped_well = p->Stop() && stopped_well;
    };
    if (!ready) {
      res.setup_error = err;
    } else {
      res.setup_ok = true;
      Shared sh{cfg, clients, ports, {}};
      std::latch gate(1);
      std::vector<std::thread> threads;
      threads.reserve(clients.size());
      for (Client& c : clients)
        threads.emplace_back([&sh, &c, &gate] {
          gate.wait();
          Worker(sh, c).Run();
        });
      const auto t0 = Steady::now();
      sh.deadline = t0 + std::chrono::seconds(cfg.timeout_s);
      gate.count_down();  // publishes the deadline to every thread
      for (std::thread& t : threads) t.join();
      res.seconds = std::chrono::duration<double>(Steady::now() - t0).count();

      for (const Client& c : clients) {
        const Counts& k = c.counts;
        res.requests += k.requests;
        res.accepted_writes += k.accepted;
        res.wrong_reads += k.wrong_reads;
        res.errors += k.errors;
        res.adds += k.adds;
        res.updates += k.updates;
        res.deletes += k.deletes;
        res.delegated += k.delegated;
        res.user_lists += k.user_lists;
        res.syncs += k.syncs;
        res.timed_out = res.timed_out || k.timed_out;
        res.max_clock_offset_s = std::max(res.max_clock_offset_s, k.max_offset);
      }
      res.server_alive = ServerAnswers(ports.front(), clients.front(), clients.size());
      // An upload has no answer, so the last one may still be applying;
      // stopping waits for every connection to end.
      stop_all();
      res.server_alive = res.server_alive && stopped_well;
      if (cfg.before_verify) cfg.before_verify(store);
      const Check check = Verify(store, clients);
      res.lost_writes = check.lost;
      res.stray_items = check.stray;
      res.verified_items = check.verified;
      res.restamped_tombstones = check.restamped;
    }
    stop_all();
    for (auto& s : servers) res.stats += s->Stats();
  }
  if (own_dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  return res;
}

}  // namespace kv::load
