#pragma once
// The server's database: users, write permissions and every user's items
// with the server-side time of their last change. Either one SQLite file
// (one connection, taken in turn) or a PostgreSQL database that several
// server processes may share (a few connections per process; writers of
// one owner's items wait for each other through a lock in the database).
// Each change is one transaction. No exception leaves this class.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/ScheduleItem.h"
#include "server/Budget.h"

namespace kv::server {

struct User {
  int32_t id = 0;
  std::string name;     // CP932
  std::string display;  // CP932
};

struct Permission {
  int32_t actor = 0;   // may add, change and delete the items of
  int32_t target = 0;
};

// A user whose password may also sign in as another (a delegate).
struct Candidate {
  int32_t id = 0;
  std::string name;
  std::string hash;
};

// What the sign-in rule needs about one user name.
struct Credentials {
  User user;
  std::string hash;
  std::vector<Candidate> delegates;  // by ID
};

// Where a paged read goes on from.
struct PageCursor {
  int phase = 0;
  int64_t changed = INT64_MIN;
  int64_t idx = INT64_MIN;
};

struct ItemPage {
  std::vector<ScheduleItem> items;
  bool ok = true;     // false: the database failed or the memory budget ran out
  bool last = false;  // nothing follows
};

// Result of a sign-in. code: 0 signed in, -1 unknown user, -2 wrong password.
struct SignIn {
  int32_t code = -1;
  int32_t owner = 0;   // whose items the connection works on (the signed-in name)
  int32_t actor = 0;   // whose password was given
  bool delegated() const { return code == 0 && actor != owner; }
};

// One entry of the user list as the signed-in user sees it.
struct ListedUser {
  User user;
  int32_t writable = 0;
};

class ServerStore {
 public:
  ServerStore();
  ~ServerStore();
  ServerStore(const ServerStore&) = delete;
  ServerStore& operator=(const ServerStore&) = delete;

  // Opens a PostgreSQL database when `where` is a postgresql:// or
  // postgres:// URI (without a password: libpq reads PGPASSFILE or a
  // service file), else opens or creates the database file; the tables are
  // made when missing. False with a reason on failure.
  // A file and its journals are readable by their owner only: a new file
  // is made so before SQLite writes to it, an existing one is tightened.
  bool Open(const std::string& where, std::string* error = nullptr);
  // Where large uploads are staged: the folder of the database file, or
  // for PostgreSQL the service's state folder or else TMPDIR.
  std::string Directory() const;
  // Several server processes may share the database (PostgreSQL).
  bool Shared() const;
  // Copies users, password hashes, permissions and items exactly into an
  // empty database, in one transaction there.
  bool CopyTo(ServerStore& target, std::string* error);
  void Close();
  // Durable commits (synchronous=FULL) are the default; off trades the
  // last transactions before a power loss for speed.
  void SetFullSync(bool full);

  // Most items (tombstones included) one user may have; a change that
  // would add one more is refused.
  void SetItemLimit(int64_t limit);
  int64_t ItemLimit() const;

  // User administration. Return false with a reason in *error.
  // id 0 picks the next free ID. Empty passwords are refused.
  bool AddUser(const std::string& name, const std::string& display, const std::string& password,
               int32_t id, int32_t* assigned, std::string* error);
  // Removes the user, their items and every permission naming them.
  bool RemoveUser(const std::string& name, std::string* error);
  bool SetPassword(const std::string& name, const std::string& password, std::string* error);
  bool SetDisplayName(const std::string& name, const std::string& display, std::string* error);
  bool Grant(const std::string& actor, const std::string& target, std::string* error);
  bool Revoke(const std::string& actor, const std::string& target, std::string* error);
  std::vector<User> Users();
  std::vector<Permission> Permissions();
  std::optional<User> FindUser(const std::string& name);

  // The sign-in rule: the password of the named user signs in as that user;
  // the password of another user who may write the named user's items signs
  // in as the named user on behalf of that other user. Not throttled (the
  // server signs clients in through SignInGuard).
  SignIn Authenticate(const std::string& name, const std::string& password);
  // *failed (when given) tells a database that could not be read from a
  // name that is not there.
  std::optional<Credentials> CredentialsOf(const std::string& name, bool* failed = nullptr);
  // Stores a new hash for the user if the stored one is still old_hash.
  bool ReplaceHash(int32_t id, const std::string& old_hash, const std::string& new_hash);
  bool MayWrite(int32_t actor, int32_t target);
  std::vector<ListedUser> UserList(int32_t viewer);

  // Item changes of the immediate requests; 1 done, 0 refused (also when
  // the owner has reached the item limit).
  // Add refuses an Index that already names a live item of the owner.
  int AddItem(int32_t owner, const ScheduleItem& item);
  // Update writes the item whether or not the server had it.
  int UpdateItem(int32_t owner, const ScheduleItem& item);
  // Delete keeps a tombstone (SyncFlag 4) so the deletion reaches the
  // owner's other clients.
  int DeleteItem(int32_t owner, const ScheduleItem& item);
  // Applies an upload in one transaction, last writer wins on Updated
  // (a deletion wins a tie). Returns the number of records applied, or
  // kUploadFailed when the transaction failed, kUploadOverLimit when it
  // would pass the item limit; then nothing was applied. The source hands
  // every item to its sink and returns false (failing the upload) when it
  // cannot, or when the sink does; it is asked again from the start when
  // the database makes the transaction run again.
  static constexpr int kUploadFailed = -1;
  static constexpr int kUploadOverLimit = -2;
  using ItemSink = std::function<bool(const ScheduleItem&)>;
  using ItemSource = std::function<bool(const ItemSink&)>;
  int ApplyUpload(int32_t owner, const ItemSource& source);
  int ApplyUpload(int32_t owner, const std::vector<ScheduleItem>& items);

  // Items (tombstones included) changed on the server at or after `since`;
  // all of them when `since` is not a valid date.
  std::vector<ScheduleItem> ChangedSince(int32_t owner, const DateTime& since);
  // Live items (no tombstones).
  std::vector<ScheduleItem> LiveItems(int32_t owner);

  // The same reads a page at a time, so that a connection holds only a
  // page, never a user's whole table. Each page charges its bytes to the
  // lease (when given) before reading them.
  // Download order: by change time, then Index.
  ItemPage ChangedPage(int32_t owner, const DateTime& since, PageCursor& cursor, BudgetLease* lease);
  // Live items that may occur in the week from `sunday`: single items
  // meeting the week, then every repeating item; the caller tests each.
  ItemPage WeekCandidatesPage(int32_t owner, const DateTime& sunday, PageCursor& cursor, BudgetLease* lease);
  // A single stored item, tombstones included; for checks and tools.
  std::optional<ScheduleItem> FindItem(int32_t owner, const DateTime& index);
  int64_t ItemCount(int32_t owner);

  // Sign-in failure counts kept in the database, so that the processes
  // sharing it count guesses together (see SignInGuard). Keys are opaque.
  struct ThrottleEntry {
    int failures = 0;
    int64_t last_ms = 0;
  };
  // In the order of `keys`; zeros where nothing is kept.
  std::vector<ThrottleEntry> ThrottleRead(const std::vector<std::string>& keys);
  // Counts a failure under each key (anew where the last is older than
  // forget_ms); the first key's count afterwards, -1 when it failed.
  int ThrottleFail(const std::vector<std::string>& keys, int64_t now_ms, int64_t forget_ms);
  void ThrottleSet(const std::string& key, int failures, int64_t now_ms);
  // Drops failure counts unchanged since forget_before and the other rows
  // (keys starting with `keep_prefix`, the known addresses) unchanged since
  // keep_before; then, while more than max_rows remain, the oldest failure
  // counts of at most free_failures, so a spray of names or addresses
  // cannot grow the table without end.
  void ThrottlePrune(int64_t forget_before, const std::string& keep_prefix, int64_t keep_before,
                     int64_t max_rows, int free_failures);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::server
