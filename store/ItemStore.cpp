#include "store/ItemStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>

#include "model/Clock.h"
#include "store/StoreSeal.h"
#include "store/StoreValues.h"

namespace kv {

namespace {

// MySelf columns in creation order; the statements below bind and read
// them in this order (parameters 1..26, result columns 1..26 after rowid).
enum Col {
  cUserID, cSubject, cPlace, cExecute, cType, cPrivate, cUpdated, cStart, cEnd, cAlarm,
  cAlarmTime, cDesc, cColor, cRepType, cRepX, cRepY, cRepZ, cRepStart, cRepEnd, cIndex,
  cSyncFlag, cAttr1, cAttr2, cAttr3, cAttr4, cAttr5, kColCount
};

constexpr const char* kItemColumns =
    "\"UserID\",\"Subject\",\"Place\",\"Execute\",\"Type\",\"Private\",\"Updated\",\"Start\","
    "\"End\",\"Alarm\",\"AlarmTime\",\"Desc\",\"Color\",\"RepType\",\"RepX\",\"RepY\",\"RepZ\","
    "\"RepStart\",\"RepEnd\",\"Index\",\"SyncFlag\",\"Attr1\",\"Attr2\",\"Attr3\",\"Attr4\","
    "\"Attr5\"";

// The load's columns: the shape of the item in the item columns' places,
// the long texts left out, Execute only as whether there is one.
constexpr const char* kShapeColumns =
    "\"UserID\",\"Subject\",NULL,length(\"Execute\")>0,\"Type\",\"Private\",NULL,\"Start\","
    "\"End\",\"Alarm\",\"AlarmTime\",NULL,\"Color\",\"RepType\",\"RepX\",\"RepY\",\"RepZ\","
    "\"RepStart\",\"RepEnd\",\"Index\",\"SyncFlag\",NULL,NULL,NULL,NULL,NULL";

// Conditions of the partial indexes; a query names the same text to use one.
// Long rows: more than the band the Start index is searched in, in day
// counts (kNearBandDays below, less a margin for rounding).
#define KV_LONG_ROWS "\"End\"-\"Start\">6.99"
#define KV_ODD_DATES \
  "(typeof(\"Start\") IN ('text','blob') OR typeof(\"End\") IN ('text','blob'))"
// Every RepType that can read as non-zero passes (texts, fractions and
// values beyond 32 bits too).
#define KV_REPEATING "\"RepType\"!=0"
// Alarm reads as 0 or more for numbers from -0.5 up, for Null, texts
// (they sort above every number), and for numbers beyond 32 bits.
#define KV_ALARMED "(\"Alarm\">=-0.5 OR \"Alarm\"<-2147483648.5 OR \"Alarm\" IS NULL)"
// Tombstones, for the purge at every start-up.
#define KV_TOMBSTONES "\"SyncFlag\"=4"
constexpr int kNearBandDays = 7;

// Memo columns are BLOB (no affinity: the CP932 bytes stay as written),
// Long columns INTEGER, Date columns REAL day counts.
constexpr const char* kSchema =
    "CREATE TABLE \"System\"(\"Version\" BLOB,\"UserName\" BLOB,\"ServerName\" BLOB,"
    "\"ServerPort\" INTEGER,\"Password\" BLOB,\"LastUpdate\" REAL);"
    "CREATE TABLE \"UserList\"(\"UserName\" BLOB,\"UserID\" INTEGER);"
    "CREATE TABLE \"MySelf\"(\"UserID\" INTEGER,\"Subject\" BLOB,\"Place\" BLOB,"
    "\"Execute\" BLOB,\"Type\" INTEGER,\"Private\" INTEGER,\"Updated\" REAL,\"Start\" REAL,"
    "\"End\" REAL,\"Alarm\" INTEGER,\"AlarmTime\" REAL,\"Desc\" BLOB,\"Color\" INTEGER,"
    "\"RepType\" INTEGER,\"RepX\" INTEGER,\"RepY\" INTEGER,\"RepZ\" INTEGER,\"RepStart\" REAL,"
    "\"RepEnd\" REAL,\"Index\" REAL,\"SyncFlag\" INTEGER,\"Attr1\" BLOB,\"Attr2\" BLOB,"
    "\"Attr3\" BLOB,\"Attr4\" BLOB,\"Attr5\" BLOB);";

// Look-ups by Index are logarithmic; entries with equal Index are ordered
// by rowid inside the index, i.e. in table order.
//
// The calendar's load reads only what it can show: items starting shortly
// before or inside its window (by Start), the few long ones (a partial
// index), the repeating ones and those with an alarm. Rows whose dates are
// not numbers (another program may write text dates) sort apart in every
// index, so they get a partial index of their own. The purge finds the
// tombstones through one more. The partial indexes cost nothing for the
// rows they leave out.
constexpr const char* kIndexSchema =
    "CREATE INDEX IF NOT EXISTS \"MySelfByIndex\" ON \"MySelf\"(\"Index\");"
    "CREATE INDEX IF NOT EXISTS \"MySelfByStart\" ON \"MySelf\"(\"Start\");"
    "CREATE INDEX IF NOT EXISTS \"MySelfLong\" ON \"MySelf\"(\"Start\") WHERE " KV_LONG_ROWS ";"
    "CREATE INDEX IF NOT EXISTS \"MySelfOddDates\" ON \"MySelf\"(\"Start\") WHERE " KV_ODD_DATES ";"
    "CREATE INDEX IF NOT EXISTS \"MySelfRepeating\" ON \"MySelf\"(\"RepType\") WHERE " KV_REPEATING ";"
    "CREATE INDEX IF NOT EXISTS \"MySelfAlarmed\" ON \"MySelf\"(\"Alarm\") WHERE " KV_ALARMED ";"
    "CREATE INDEX IF NOT EXISTS \"MySelfTombstones\" ON \"MySelf\"(\"Updated\") WHERE "
    KV_TOMBSTONES ";"
    // The UID of each event taken from an iCalendar file, with the item it
    // became and the file's version of it; made when missing, so older
    // files open as before.
    "CREATE TABLE IF NOT EXISTS \"Imported\"(\"Uid\" BLOB PRIMARY KEY,\"Index\" REAL,"
    "\"Version\" BLOB);";

// Every row the load window can reach, from four indexes.
constexpr const char* kNearParts[] = {
    "SELECT rowid FROM \"MySelf\" INDEXED BY \"MySelfByStart\" WHERE \"Start\">=?1 AND "
    "\"Start\"<?2",
    "SELECT rowid FROM \"MySelf\" INDEXED BY \"MySelfLong\" WHERE " KV_LONG_ROWS
    " AND \"Start\"<?2",
    "SELECT rowid FROM \"MySelf\" INDEXED BY \"MySelfOddDates\" WHERE " KV_ODD_DATES,
    "SELECT rowid FROM \"MySelf\" INDEXED BY \"MySelfRepeating\" WHERE " KV_REPEATING,
};
// The rows themselves, in table order: IN takes each rowid once.
std::string NearRowsQuery(const std::string& cols) {
  std::string parts;
  for (const char* p : kNearParts) parts += (parts.empty() ? "" : " UNION ALL ") + std::string(p);
  return "SELECT rowid," + cols + " FROM \"MySelf\" WHERE rowid IN (" + parts +
         ") ORDER BY rowid";
}
// At least as many as there are near rows (a row can be in two parts):
// counting in the indexes alone, without putting the parts together.
std::string NearCountQuery() {
  std::string sum;
  for (const char* p : kNearParts)
    sum += (sum.empty() ? "SELECT " : "+") + std::string("(SELECT count(*) FROM (") + p + "))";
  return sum;
}
constexpr const char* kAlarmedRows =
    "SELECT rowid FROM \"MySelf\" INDEXED BY \"MySelfAlarmed\" WHERE " KV_ALARMED;

// ---- values in and out ----

void BindText(sqlite3_stmt* st, int i, const std::string& s) {
  if (s.empty()) {
    sqlite3_bind_null(st, i);
  } else {
    sqlite3_bind_blob64(st, i, s.data(), s.size(), SQLITE_STATIC);
  }
}

void BindDate(sqlite3_stmt* st, int i, const DateTime& d) {
  if (d.IsValid()) {
    sqlite3_bind_double(st, i, d.OleValue());
  } else {
    sqlite3_bind_null(st, i);
  }
}

void ReadText(sqlite3_stmt* st, int i, std::string& out) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL:
      out.clear();
      return;
    case SQLITE_BLOB:
    case SQLITE_TEXT: {
      const void* p = sqlite3_column_blob(st, i);
      const int n = sqlite3_column_bytes(st, i);
      if (p && n > 0) {
        out.assign(static_cast<const char*>(p), static_cast<size_t>(n));
      } else {
        out.clear();
      }
      return;
    }
    default: {  // a number in a text column reads as its decimal form
      const unsigned char* p = sqlite3_column_text(st, i);
      const int n = sqlite3_column_bytes(st, i);
      out.assign(p ? reinterpret_cast<const char*>(p) : "", p ? static_cast<size_t>(n) : 0);
      return;
    }
  }
}

std::string_view ColumnBytes(sqlite3_stmt* st, int i) {
  const void* p = sqlite3_column_blob(st, i);
  const int n = sqlite3_column_bytes(st, i);
  if (!p || n <= 0) return {};
  return {static_cast<const char*>(p), static_cast<size_t>(n)};
}

// Integers keep their low 32 bits (a colour written unsigned by another
// program reads back the same); other types convert or read as 0.
int32_t ReadInt(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
      return static_cast<int32_t>(static_cast<uint32_t>(sqlite3_column_int64(st, i)));
    case SQLITE_FLOAT:
      return store_detail::IntFromReal(sqlite3_column_double(st, i)).value_or(0);
    case SQLITE_TEXT:
    case SQLITE_BLOB:
      return store_detail::IntFromText(ColumnBytes(st, i)).value_or(0);
    default:
      return 0;
  }
}

DateTime ReadDate(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_FLOAT:
    case SQLITE_INTEGER:
      return DateTime::FromOle(sqlite3_column_double(st, i));
    case SQLITE_TEXT:
    case SQLITE_BLOB:
      return store_detail::DateFromText(ColumnBytes(st, i));
    default:
      return DateTime::Invalid();
  }
}

void BindItem(sqlite3_stmt* st, const ScheduleItem& it) {
  auto p = [](Col c) { return static_cast<int>(c) + 1; };
  sqlite3_bind_int(st, p(cUserID), it.UserID);
  BindText(st, p(cSubject), it.Subject);
  BindText(st, p(cPlace), it.Place);
  BindText(st, p(cExecute), it.Execute);
  sqlite3_bind_int(st, p(cType), it.Type);
  sqlite3_bind_int(st, p(cPrivate), it.Private);
  BindDate(st, p(cUpdated), it.Updated);
  BindDate(st, p(cStart), it.Start);
  BindDate(st, p(cEnd), it.End);
  sqlite3_bind_int(st, p(cAlarm), it.Alarm);
  BindDate(st, p(cAlarmTime), it.AlarmTime);
  BindText(st, p(cDesc), it.Desc);
  sqlite3_bind_int(st, p(cColor), static_cast<int32_t>(it.Color));
  sqlite3_bind_int(st, p(cRepType), it.RepType);
  sqlite3_bind_int(st, p(cRepX), it.RepX);
  sqlite3_bind_int(st, p(cRepY), it.RepY);
  sqlite3_bind_int(st, p(cRepZ), it.RepZ);
  BindDate(st, p(cRepStart), it.RepStart);
  BindDate(st, p(cRepEnd), it.RepEnd);
  BindDate(st, p(cIndex), it.Index);
  sqlite3_bind_int(st, p(cSyncFlag), it.SyncFlag);
  BindText(st, p(cAttr1), it.Attr1);
  BindText(st, p(cAttr2), it.Attr2);
  BindText(st, p(cAttr3), it.Attr3);
  BindText(st, p(cAttr4), it.Attr4);
  BindText(st, p(cAttr5), it.Attr5);
}

// Result column 0 is the rowid; the item columns (or the shape columns)
// follow.
void ReadShape(sqlite3_stmt* st, ItemShape& it) {
  auto c = [](Col col) { return static_cast<int>(col) + 1; };
  it.UserID = ReadInt(st, c(cUserID));
  ReadText(st, c(cSubject), it.Subject);
  it.Type = ReadInt(st, c(cType));
  it.Private = ReadInt(st, c(cPrivate));
  it.Start = ReadDate(st, c(cStart));
  it.End = ReadDate(st, c(cEnd));
  it.Alarm = ReadInt(st, c(cAlarm));
  it.AlarmTime = ReadDate(st, c(cAlarmTime));
  it.Color = static_cast<uint32_t>(ReadInt(st, c(cColor)));
  it.RepType = ReadInt(st, c(cRepType));
  it.RepX = ReadInt(st, c(cRepX));
  it.RepY = ReadInt(st, c(cRepY));
  it.RepZ = ReadInt(st, c(cRepZ));
  it.RepStart = ReadDate(st, c(cRepStart));
  it.RepEnd = ReadDate(st, c(cRepEnd));
  it.Index = ReadDate(st, c(cIndex));
  it.SyncFlag = ReadInt(st, c(cSyncFlag));
}

void ReadItem(sqlite3_stmt* st, ScheduleItem& it) {
  auto c = [](Col col) { return static_cast<int>(col) + 1; };
  ReadShape(st, it);
  ReadText(st, c(cPlace), it.Place);
  ReadText(st, c(cExecute), it.Execute);
  it.Updated = ReadDate(st, c(cUpdated));
  ReadText(st, c(cDesc), it.Desc);
  ReadText(st, c(cAttr1), it.Attr1);
  ReadText(st, c(cAttr2), it.Attr2);
  ReadText(st, c(cAttr3), it.Attr3);
  ReadText(st, c(cAttr4), it.Attr4);
  ReadText(st, c(cAttr5), it.Attr5);
}

// A prepared statement that is reset and cleared of its bindings whenever
// it goes out of use, so no statement stays active between operations.
class Stmt {
 public:
  Stmt() = default;
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(st_);
    st_ = nullptr;
    damage_ = false;
    return sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr) ==
           SQLITE_OK;
  }
  void Finalize() {
    Note(sqlite3_finalize(st_));
    st_ = nullptr;
  }
  sqlite3_stmt* get() const { return st_; }
  void Reset() const {
    Note(sqlite3_reset(st_));
    sqlite3_clear_bindings(st_);
  }
  // A step of this statement met a damaged page or could not read the
  // file, since it was prepared.
  bool SawDamage() const { return damage_; }

 private:
  void Note(int rc) const {
    const int primary = rc & 0xFF;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR)
      damage_ = true;
  }

  sqlite3_stmt* st_ = nullptr;
  mutable bool damage_ = false;
};

// Resets the statement when the scope ends.
class Use {
 public:
  explicit Use(const Stmt& s) : s_(s) { s_.Reset(); }
  ~Use() { s_.Reset(); }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return s_.get(); }

 private:
  const Stmt& s_;
};

// Runs a statement that returns no rows.
bool Run(const Stmt& s) {
  Use u(s);
  return sqlite3_step(*u) == SQLITE_DONE;
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The single text value of a one-row pragma, or "" on failure.
std::string PragmaText(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  std::string r;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(st, 0);
    if (t) r = reinterpret_cast<const char*>(t);
  }
  sqlite3_finalize(st);
  return r;
}

// Removes a file with the journal files SQLite may have left beside it.
void RemoveWithJournals(const std::string& path) {
  ::unlink(path.c_str());
  ::unlink((path + "-wal").c_str());
  ::unlink((path + "-journal").c_str());
  ::unlink((path + "-shm").c_str());
}

// Moves a finished file to its place, never over an existing file.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // A file system without the flag: a hard link fails as well on a name
  // that exists.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// Makes a rename in the folder survive a crash of the machine.
void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The store holds the password: a file others can read is tightened.
void MakePrivate(const std::string& path) {
  for (const std::string& p : {path, path + "-wal"}) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && (st.st_mode & 077) != 0) ::chmod(p.c_str(), 0600);
  }
}

StoreFailure Classify(sqlite3* db) {
  if (!db) return StoreFailure::Io;
  switch (sqlite3_errcode(db) & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return StoreFailure::Locked;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_PERM:
    case SQLITE_READONLY:
      return StoreFailure::Io;
    default:
      return StoreFailure::Damaged;
  }
}

// Builds a complete new store in a file of its own (made empty by the
// caller). Rollback journal: the file is whole once this returns true.
bool BuildStoreFile(const std::string& path, StoreFailure& failure) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) == SQLITE_OK;
  if (ok) sqlite3_extended_result_codes(db, 1);
  ok = ok && Exec(db, "PRAGMA synchronous=FULL") && Exec(db, "PRAGMA locking_mode=EXCLUSIVE") &&
       Exec(db, "BEGIN EXCLUSIVE") && Exec(db, kSchema) && Exec(db, kIndexSchema) &&
       Exec(db, "INSERT INTO \"System\" VALUES(CAST('1.00' AS BLOB),NULL,NULL,0,NULL,36526.0)") &&
       Exec(db, "COMMIT");
  if (!ok) {
    failure = Classify(db);
    if (db && !sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK");
  }
  if (sqlite3_close_v2(db) != SQLITE_OK) ok = false;
  return ok;
}

}  // namespace

struct ItemStore::Impl {
  sqlite3* db = nullptr;
  std::string path;
  StoreFailure failure = StoreFailure::None;

  Stmt begin, commit, rollback;
  Stmt walk;  // item rows from a rowid on, in table order
  Stmt keys;
  Stmt find_number, find_text, index_run;
  Stmt insert, update, mark_deleted, set_flag;
  Stmt purge_select, purge_delete;
  Stmt settings_read, settings_write, touch, unsent_count;
  Stmt users_read, users_clear, users_add;
  Stmt near_count, alarmed_count;
  Stmt near_shapes, alarmed_shapes, row_at;
  Stmt imported_find, imported_put;

  // The shared current row.
  enum class Pos { BeforeFirst, AtRow, PastEnd };
  Pos pos = Pos::BeforeFirst;
  int64_t row = 0;
  // The walk statement has just returned `row` and can go on stepping.
  bool walk_live = false;
  bool read_failed = false;
  bool in_batch = false;
  bool batch_failed = false;
  bool checked_in_full = false;
  // Open for reading, not yet checked: nothing may be written, and closing
  // leaves the file and its seal exactly as they were found.
  bool unchecked = false;
  std::string path_opening;  // the file being opened, before `path` is set

  ~Impl() { Close(); }

  void Close() {
    // Only a store that was open, checked, and never met damage is sealed.
    bool clean = db && !path.empty() && !unchecked;
    unchecked = false;
    for (Stmt* s : {&begin, &commit, &rollback, &walk, &keys, &find_number, &find_text, &index_run,
                    &insert, &update, &mark_deleted, &set_flag, &purge_select, &purge_delete,
                    &settings_read, &settings_write, &touch, &unsent_count, &users_read, &users_clear, &users_add,
                    &near_count, &alarmed_count, &imported_find,
                    &imported_put, &near_shapes, &alarmed_shapes, &row_at}) {
      s->Finalize();
      if (s->SawDamage()) clean = false;
    }
    if (db && sqlite3_close_v2(db) != SQLITE_OK) clean = false;
    if (clean) store_detail::WriteSeal(path);
    db = nullptr;
    path.clear();
    pos = Pos::BeforeFirst;
    row = 0;
    walk_live = false;
    read_failed = false;
    in_batch = false;
    batch_failed = false;
  }

  // Takes the file for this process alone and keeps it until the store is
  // closed. Nothing is written to the file.
  bool Lock() {
    if (!Exec(db, "PRAGMA locking_mode=EXCLUSIVE")) return false;
    if (!Exec(db, "BEGIN EXCLUSIVE")) return false;
    if (!Exec(db, "COMMIT")) {
      Exec(db, "ROLLBACK");
      return false;
    }
    return true;
  }

  // The settings the program runs with. These write to the file, so they
  // come only after the file is known to be a sound store.
  bool Configure() {
    return PragmaText(db, "PRAGMA journal_mode=WAL") == "wal" &&
           Exec(db, "PRAGMA synchronous=FULL") && Exec(db, "PRAGMA cache_size=-16384") &&
           Exec(db, kIndexSchema) && PrepareIndexed();
  }

  // Prepares the statements on the tables; a missing table or column
  // fails here.
  bool PrepareTables() {
    const std::string cols = kItemColumns;
    std::string params;
    for (int i = 1; i <= kColCount; ++i) params += (i > 1 ? ",?" : "?") + std::to_string(i);
    std::string sets;
    {
      std::string_view rest = kItemColumns;
      int i = 1;
      while (!rest.empty()) {
        const size_t comma = rest.find(',');
        sets += (i > 1 ? "," : "") + std::string(rest.substr(0, comma)) + "=?" + std::to_string(i);
        ++i;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      }
    }
    return begin.Prepare(db, "BEGIN IMMEDIATE") && commit.Prepare(db, "COMMIT") &&
           rollback.Prepare(db, "ROLLBACK") &&
           walk.Prepare(db, "SELECT rowid," + cols +
                                " FROM \"MySelf\" WHERE rowid>=?1 ORDER BY rowid") &&
           keys.Prepare(db, "SELECT rowid,\"Index\",\"Updated\",\"SyncFlag\" FROM \"MySelf\" "
                            "ORDER BY rowid") &&
           row_at.Prepare(db, "SELECT rowid," + cols + " FROM \"MySelf\" WHERE rowid=?1") &&
           find_number.Prepare(db, "SELECT rowid,\"Index\" FROM \"MySelf\" WHERE \"Index\" "
                                   "BETWEEN ?1 AND ?2") &&
           // Texts and blobs sort after every number in the index.
           find_text.Prepare(db, "SELECT rowid,\"Index\" FROM \"MySelf\" WHERE \"Index\">=''") &&
           index_run.Prepare(db, "SELECT rowid,\"Index\" FROM \"MySelf\" WHERE \"Index\" BETWEEN "
                                 "?1 AND ?2 ORDER BY \"Index\"") &&
           insert.Prepare(db, "INSERT INTO \"MySelf\"(" + cols + ") VALUES(" + params + ")") &&
           update.Prepare(db, "UPDATE \"MySelf\" SET " + sets + " WHERE rowid=?" +
                                  std::to_string(kColCount + 1)) &&
           mark_deleted.Prepare(db, "UPDATE \"MySelf\" SET \"SyncFlag\"=4 WHERE rowid=?1") &&
           set_flag.Prepare(db, "UPDATE \"MySelf\" SET \"SyncFlag\"=?2 WHERE rowid=?1") &&
           purge_delete.Prepare(db, "DELETE FROM \"MySelf\" WHERE rowid=?1") &&
           settings_read.Prepare(db, "SELECT \"UserName\",\"ServerName\",\"ServerPort\","
                                     "\"Password\",\"LastUpdate\",\"Version\" FROM \"System\" "
                                     "ORDER BY rowid LIMIT 1") &&
           settings_write.Prepare(db, "UPDATE \"System\" SET \"UserName\"=?1,\"ServerName\"=?2,"
                                      "\"ServerPort\"=?3,\"Password\"=?4 WHERE rowid=(SELECT "
                                      "min(rowid) FROM \"System\")") &&
           touch.Prepare(db, "UPDATE \"System\" SET \"LastUpdate\"=?1 WHERE rowid=(SELECT "
                             "min(rowid) FROM \"System\")") &&
           // Tombstones go up at every upload; those since the last one are news.
           unsent_count.Prepare(db, "SELECT count(*) FROM \"MySelf\" WHERE \"SyncFlag\" IN (1,5) OR "
                                    "(\"SyncFlag\"=4 AND \"Updated\">coalesce((SELECT "
                                    "\"LastUpdate\" FROM \"System\" ORDER BY rowid LIMIT 1),-1e9))") &&
           users_read.Prepare(db, "SELECT \"UserName\",\"UserID\" FROM \"UserList\" ORDER BY "
                                  "rowid") &&
           users_clear.Prepare(db, "DELETE FROM \"UserList\"") &&
           users_add.Prepare(db, "INSERT INTO \"UserList\"(\"UserName\",\"UserID\") "
                                 "VALUES(?1,?2)");
  }

  // The statements that name the load indexes, once they exist.
  bool PrepareIndexed() {
    return near_shapes.Prepare(db, NearRowsQuery(kShapeColumns)) &&
           alarmed_shapes.Prepare(db, std::string("SELECT rowid,") + kShapeColumns +
                                          " FROM \"MySelf\" WHERE rowid IN (" + kAlarmedRows +
                                          ") ORDER BY rowid") &&
           near_count.Prepare(db, NearCountQuery()) &&
           alarmed_count.Prepare(db, std::string("SELECT count(*) FROM (") + kAlarmedRows + ")") &&
           purge_select.Prepare(db, "SELECT rowid,\"Updated\" FROM \"MySelf\" INDEXED BY "
                                    "\"MySelfTombstones\" WHERE " KV_TOMBSTONES) &&
           imported_find.Prepare(db, "SELECT \"Index\",\"Version\" FROM \"Imported\" WHERE "
                                     "\"Uid\"=?1") &&
           imported_put.Prepare(db, "INSERT OR REPLACE INTO \"Imported\"(\"Uid\",\"Index\","
                                    "\"Version\") VALUES(?1,?2,?3)");
  }

  // The full check reads every page; a file that still holds the very
  // bytes it was closed with needs none. Only then does the file change:
  // the seal goes (written again at closing), the file is made private,
  // and the settings and missing indexes are written.
  bool CheckAndConfigure() {
    checked_in_full = !Sealed();
    if (checked_in_full && !Healthy()) return false;
    store_detail::RemoveSeal(path_opening);
    MakePrivate(path_opening);
    return Configure();
  }

  // A damaged file is refused at opening rather than found row by row.
  bool Healthy() { return PragmaText(db, "PRAGMA quick_check") == "ok"; }
  // The file holds the bytes of its last clean closing. It is read through
  // the engine's own handle: opening and closing another descriptor of the
  // file would drop the process's locks on it.
  bool Sealed() {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f ||
        !f->pMethods)
      return false;
    sqlite3_int64 size = 0;
    if (f->pMethods->xFileSize(f, &size) != SQLITE_OK || size < 0) return false;
    auto read = [f, size](char* buf, size_t n, int64_t at) -> int64_t {
      if (at >= size) return 0;
      const int amt = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(n), size - at));
      return f->pMethods->xRead(f, buf, amt, at) == SQLITE_OK ? amt : -1;
    };
    return store_detail::IsSealed(path_opening, size, read);
  }

  // Any change ends a walk in progress: the walk picks up again from the
  // current row when it is next asked for a row.
  void StopWalk() {
    if (walk_live) walk.Reset();
    walk_live = false;
  }

  // One change as one transaction, or as part of the open batch.
  bool Begin() {
    StopWalk();
    if (in_batch) return !batch_failed;
    return Run(begin);
  }
  bool Commit() {
    if (in_batch) return !batch_failed;
    if (Run(commit)) return true;
    Fail();
    return false;
  }
  // A change failed: undo what the transaction holds, which inside a batch
  // is the whole batch. The engine may have rolled back by itself already.
  void Fail() {
    if (in_batch) batch_failed = true;
    if (!sqlite3_get_autocommit(db)) Run(rollback);
  }
  // Ends a transaction that changed nothing.
  void Release() {
    if (!in_batch && !sqlite3_get_autocommit(db)) Run(rollback);
  }
  // A single statement that changes rows: on its own, or in the batch.
  bool Change(sqlite3_stmt* st) {
    StopWalk();
    if (in_batch && batch_failed) return false;
    if (sqlite3_step(st) == SQLITE_DONE) return true;
    if (in_batch) Fail();
    return false;
  }

  // Steps the walk from rowid `from` on (or continues it) and reads one row.
  int WalkFrom(int64_t from, bool continue_walk, ScheduleItem& out) {
    sqlite3_stmt* st = walk.get();
    if (!continue_walk) {
      walk.Reset();
      sqlite3_bind_int64(st, 1, from);
    }
    walk_live = false;
    read_failed = false;
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      ReadItem(st, out);
      row = sqlite3_column_int64(st, 0);
      pos = Pos::AtRow;
      walk_live = true;
      return 1;
    }
    walk.Reset();
    if (rc == SQLITE_DONE) {
      pos = Pos::PastEnd;
      row = 0;
    } else {
      read_failed = true;
    }
    return 0;
  }

  // rowid of the first row in table order whose Index equals `index`;
  // 0 when there is none, -1 on an engine error.
  int64_t Find(const DateTime& index) {
    if (!index.IsValid()) return 0;
    int64_t best = 0;
    // Stored day counts round to the second, so a window of a little more
    // than a second either side holds every numeric candidate.
    const double v = index.OleValue();
    const double w = 1.5 / 86400.0;
    for (const Stmt* s : {&find_number, &find_text}) {
      Use u(*s);
      if (s == &find_number) {
        sqlite3_bind_double(*u, 1, v - w);
        sqlite3_bind_double(*u, 2, v + w);
      }
      int rc;
      while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
        const int64_t id = sqlite3_column_int64(*u, 0);
        if ((best == 0 || id < best) && ReadDate(*u, 1) == index) best = id;
      }
      if (rc != SQLITE_DONE) return -1;
    }
    return best;
  }

  // The found row becomes current; not found leaves the position past the
  // last row, as a scan that found nothing would.
  void MoveTo(int64_t id) {
    if (id > 0) {
      pos = Pos::AtRow;
      row = id;
    } else {
      pos = Pos::PastEnd;
      row = 0;
    }
  }

  // One change to the first row with `index`; the row becomes current on
  // success, and a miss leaves the position past the end.
  template <typename Change>
  int ChangeByIndex(const DateTime& index, Change change) {
    if (!Begin()) return 0;
    const int64_t id = Find(index);
    if (id == 0) {
      Release();
      MoveTo(0);
      return 0;
    }
    if (id < 0 || !change(id)) {
      Fail();
      return 0;
    }
    if (!Commit()) return 0;
    MoveTo(id);
    return 1;
  }

  // The single count a count statement answers; -1 on an error.
  int64_t Count(const Stmt& s, const std::function<void(sqlite3_stmt*)>& bind) {
    Use u(s);
    if (bind) bind(*u);
    if (sqlite3_step(*u) != SQLITE_ROW) return -1;
    return sqlite3_column_int64(*u, 0);
  }

  // Runs a row query of the load and hands each row on; false on an error.
  bool VisitShapes(const Stmt& s, const ShapeVisitor& visit,
                   const std::function<void(sqlite3_stmt*)>& bind) {
    Use u(s);
    if (bind) bind(*u);
    ItemShape it;
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
      ReadShape(*u, it);
      visit(it, sqlite3_column_int64(*u, 0), ReadInt(*u, static_cast<int>(cExecute) + 1) != 0);
    }
    return rc == SQLITE_DONE;
  }
};

ItemStore::ItemStore() : impl_(std::make_unique<Impl>()) {}
ItemStore::~ItemStore() = default;

bool ItemStore::IsOpen() const { return impl_->db != nullptr; }

StoreFailure ItemStore::LastFailure() const { return impl_->failure; }

const std::string& ItemStore::Path() const { return impl_->path; }

bool ItemStore::CheckedInFull() const { return impl_->checked_in_full; }

DateTime ItemStore::UniqueIndex(const DateTime& wanted) {
  if (!IsOpen() || !wanted.IsValid()) return DateTime::Invalid();
  const int64_t last = DateTime::FromParts(9999, 12, 31, 23, 59, 59).LinearSeconds();
  if (wanted.LinearSeconds() > last) return DateTime::Invalid();
  Impl& s = *impl_;
  s.StopWalk();
  try {
    int64_t cand = wanted.LinearSeconds();
    if (wanted.OleValue() < 1.0) {
      // Day counts before the epoch do not sort in time order: one second
      // at a time.
      for (;;) {
        const int64_t id = s.Find(DateTime::FromLinearSeconds(cand));
        if (id < 0) return DateTime::Invalid();
        if (id == 0) break;
        if (++cand > last) return DateTime::Invalid();
      }
      return DateTime::FromLinearSeconds(cand);
    }
    // Another program's text Index values are few: their seconds first.
    std::set<int64_t> text_taken;
    {
      Use u(s.find_text);
      int rc;
      while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
        const DateTime d = ReadDate(*u, 1);
        if (d.IsValid()) text_taken.insert(d.LinearSeconds());
      }
      if (rc != SQLITE_DONE) return DateTime::Invalid();
    }
    auto settle = [&] {
      while (text_taken.count(cand)) ++cand;
    };
    settle();
    // Then the numeric ones in Index order from just below the wish: the
    // first second that the run of taken seconds leaves out.
    Use u(s.index_run);
    sqlite3_bind_double(*u, 1, (static_cast<double>(cand) - 1.0) / 86400.0);
    sqlite3_bind_double(*u, 2, 3.0e6);
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
      const DateTime d = ReadDate(*u, 1);
      if (!d.IsValid() || d.LinearSeconds() < cand) continue;
      if (d.LinearSeconds() > cand) break;
      ++cand;
      settle();
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return DateTime::Invalid();
    if (cand > last) return DateTime::Invalid();
    return DateTime::FromLinearSeconds(cand);
  } catch (...) {
    return DateTime::Invalid();
  }
}

void ItemStore::CloseStore() { impl_->Close(); }

int ItemStore::CreateStore(const std::string& path) {
  Impl& s = *impl_;
  s.Close();
  s.failure = StoreFailure::None;
  try {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
      s.failure = StoreFailure::Io;
      return 0;
    }
    // Built aside and moved into place whole: a crash part-way leaves no
    // file under the store's name that would block every later start.
    std::string temp = path + ".new-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // 0600: it will hold the password
    if (fd < 0) {
      s.failure = StoreFailure::Io;
      return 0;
    }
    ::close(fd);
    StoreFailure why = StoreFailure::Io;
    if (!BuildStoreFile(temp, why)) {
      RemoveWithJournals(temp);
      s.failure = why;
      return 0;
    }
    if (!MoveIntoPlace(temp, path)) {
      RemoveWithJournals(temp);
      s.failure = StoreFailure::Io;
      return 0;
    }
    SyncFolderOf(path);
    return OpenStore(path);
  } catch (...) {
    s.Close();
    s.failure = StoreFailure::Io;
    return 0;
  }
}

int ItemStore::OpenStore(const std::string& path) { return Open(path, false); }

int ItemStore::OpenStoreForReading(const std::string& path) { return Open(path, true); }

int ItemStore::Open(const std::string& path, bool defer_check) {
  Impl& s = *impl_;
  s.Close();
  s.failure = StoreFailure::None;
  try {
    StoreFailure why = StoreFailure::None;
    bool ok = sqlite3_open_v2(path.c_str(), &s.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                              nullptr) == SQLITE_OK;
    if (ok) {
      sqlite3_extended_result_codes(s.db, 1);
      if (sqlite3_db_readonly(s.db, "main") != 0) {
        why = StoreFailure::Io;
        ok = false;
      }
    }
    // Check first, configure after: a foreign or damaged file is left
    // exactly as it was found.
    ok = ok && s.Lock() && s.PrepareTables();
    s.path_opening = path;
    // Reading may start before the check when the file already has what the
    // reads use (an older file gets its indexes at the check).
    // The reads before the check are the first frame's single pass over its
    // rows; only the indexes' inner pages are met twice, so a small cache
    // does. The check's settings give the running program its larger one.
    if (ok && defer_check && s.PrepareIndexed() && Exec(s.db, "PRAGMA cache_size=-256")) {
      s.unchecked = true;
      s.path = path;
      return 1;
    }
    ok = ok && s.CheckAndConfigure();
    if (!ok) {
      s.failure = why != StoreFailure::None ? why : Classify(s.db);
      s.Close();
      return 0;
    }
    s.path = path;
    return 1;
  } catch (...) {
    s.Close();
    s.failure = StoreFailure::Io;
    return 0;
  }
}

int ItemStore::FinishOpening() {
  Impl& s = *impl_;
  if (!IsOpen()) return 0;
  if (!s.unchecked) return 1;
  try {
    s.StopWalk();
    if (s.CheckAndConfigure()) {
      s.unchecked = false;
      return 1;
    }
    s.failure = Classify(s.db);
  } catch (...) {
    s.failure = StoreFailure::Io;
  }
  s.Close();
  return 0;
}

bool ItemStore::OpeningFinished() const { return IsOpen() && !impl_->unchecked; }

bool ItemStore::ReadyToWrite() { return IsOpen() && FinishOpening() == 1; }

int ItemStore::ReadFirstItem(ScheduleItem& out) {
  if (!IsOpen()) return 0;
  try {
    return impl_->WalkFrom(INT64_MIN, false, out);
  } catch (...) {
    impl_->StopWalk();
    impl_->read_failed = true;
    return 0;
  }
}

int ItemStore::ReadNextItem(ScheduleItem& out) {
  if (!IsOpen()) return 0;
  Impl& s = *impl_;
  try {
    switch (s.pos) {
      case Impl::Pos::PastEnd:
        s.read_failed = false;
        return 0;
      case Impl::Pos::BeforeFirst:
        return s.WalkFrom(INT64_MIN, false, out);
      case Impl::Pos::AtRow:
        if (s.walk_live) return s.WalkFrom(0, true, out);
        if (s.row == INT64_MAX) {
          s.MoveTo(0);
          s.read_failed = false;
          return 0;
        }
        return s.WalkFrom(s.row + 1, false, out);
    }
    return 0;
  } catch (...) {
    s.StopWalk();
    s.read_failed = true;
    return 0;
  }
}

bool ItemStore::ReadFailed() const { return impl_->read_failed; }

int ItemStore::InsertItem(const ScheduleItem& item) { return InsertItem(item, nullptr); }

int ItemStore::InsertItem(const ScheduleItem& item, Bookmark* row) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  Use u(s.insert);
  BindItem(*u, item);
  if (!s.Change(*u)) return 0;
  if (row) *row = sqlite3_last_insert_rowid(s.db);
  return 1;
}

int ItemStore::UpdateItemByIndex(const ScheduleItem& item) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  return s.ChangeByIndex(item.Index, [&](int64_t id) {
    Use u(s.update);
    BindItem(*u, item);
    sqlite3_bind_int64(*u, kColCount + 1, id);
    return sqlite3_step(*u) == SQLITE_DONE;
  });
}

int ItemStore::MarkItemDeleted(const ScheduleItem& item) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  return s.ChangeByIndex(item.Index, [&](int64_t id) {
    Use u(s.mark_deleted);
    sqlite3_bind_int64(*u, 1, id);
    return sqlite3_step(*u) == SQLITE_DONE;
  });
}

int ItemStore::PurgeDeletedItems(int days) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  try {
    const DateTime now = Now();
    if (!s.Begin()) return 0;
    std::vector<int64_t> doomed;
    bool ok;
    {
      Use u(s.purge_select);
      int rc;
      while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
        const DateTime updated = ReadDate(*u, 1);
        // Strictly more than N days: a tombstone exactly N days old stays.
        if (now.IsValid() && updated.IsValid() &&
            now.LinearSeconds() - updated.LinearSeconds() >
                static_cast<int64_t>(days) * DateTime::kSecondsPerDay) {
          doomed.push_back(sqlite3_column_int64(*u, 0));
        }
      }
      ok = rc == SQLITE_DONE;
    }
    for (size_t i = 0; ok && i < doomed.size(); ++i) {
      Use u(s.purge_delete);
      sqlite3_bind_int64(*u, 1, doomed[i]);
      ok = sqlite3_step(*u) == SQLITE_DONE;
    }
    if (!ok) {
      s.Fail();
      return 0;
    }
    if (!s.Commit()) return 0;
    s.MoveTo(0);
    return 1;
  } catch (...) {
    s.Fail();
    return 0;
  }
}

ItemStore::Bookmark ItemStore::GetItemPosition() const {
  return impl_->pos == Impl::Pos::AtRow ? impl_->row : 0;
}

void ItemStore::SetItemPosition(Bookmark b) {
  impl_->StopWalk();
  impl_->MoveTo(b);
}

int ItemStore::ReadItemKeys(std::vector<ItemKey>& out) {
  out.clear();
  if (!IsOpen()) return 0;
  try {
    Use u(impl_->keys);
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
      out.push_back(ItemKey{sqlite3_column_int64(*u, 0), ReadDate(*u, 1), ReadDate(*u, 2),
                            ReadInt(*u, 3)});
    }
    if (rc == SQLITE_DONE) return 1;
  } catch (...) {
  }
  out.clear();
  return 0;
}

int ItemStore::UpdateItemAt(Bookmark row, const ScheduleItem& item) {
  if (row <= 0 || !ReadyToWrite()) return 0;
  Impl& s = *impl_;
  Use u(s.update);
  BindItem(*u, item);
  sqlite3_bind_int64(*u, kColCount + 1, row);
  return s.Change(*u) && sqlite3_changes(s.db) == 1 ? 1 : 0;
}

int ItemStore::SetSyncFlagAt(const std::vector<Bookmark>& rows, int32_t flag) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  if (!s.Begin()) return 0;
  bool ok = true;
  for (size_t i = 0; ok && i < rows.size(); ++i) {
    Use u(s.set_flag);
    sqlite3_bind_int64(*u, 1, rows[i]);
    sqlite3_bind_int(*u, 2, flag);
    ok = sqlite3_step(*u) == SQLITE_DONE && sqlite3_changes(s.db) == 1;
  }
  if (!ok) {
    s.Fail();
    return 0;
  }
  return s.Commit() ? 1 : 0;
}

int ItemStore::BeginBatch() {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  if (s.in_batch) return 0;
  s.StopWalk();
  if (!Run(s.begin)) return 0;
  s.in_batch = true;
  s.batch_failed = false;
  return 1;
}

int ItemStore::CommitBatch() {
  if (!IsOpen()) return 0;
  Impl& s = *impl_;
  if (!s.in_batch) return 0;
  const bool failed = s.batch_failed;
  s.in_batch = false;
  s.batch_failed = false;
  s.StopWalk();
  if (failed || !Run(s.commit)) {
    if (!sqlite3_get_autocommit(s.db)) Run(s.rollback);
    return 0;
  }
  return 1;
}

void ItemStore::AbortBatch() {
  if (!IsOpen()) return;
  Impl& s = *impl_;
  if (!s.in_batch) return;
  s.in_batch = false;
  s.batch_failed = false;
  s.StopWalk();
  if (!sqlite3_get_autocommit(s.db)) Run(s.rollback);
}

namespace {

// The Start range the near rows are searched in, as day counts; false when
// the indexes cannot answer for [from, to).
bool NearBand(const DateTime& from, const DateTime& to, double& lo, double& hi) {
  if (!from.IsValid() || !to.IsValid()) return false;
  // A row shorter than the band starts at most the band before `from`; a
  // margin of two seconds covers day counts rounded to the second.
  const int64_t l = from.LinearSeconds() - int64_t{kNearBandDays} * DateTime::kSecondsPerDay - 2;
  const int64_t h = to.LinearSeconds() + 2;
  // Before the epoch day counts do not sort in time order.
  if (l < DateTime::kSecondsPerDay) return false;
  lo = static_cast<double>(l) / 86400.0;
  hi = static_cast<double>(h) / 86400.0;
  return true;
}

}  // namespace

int ItemStore::ReadShapesNear(const DateTime& from, const DateTime& to, const ShapeVisitor& visit) {
  double lo = 0, hi = 0;
  if (!IsOpen() || !NearBand(from, to, lo, hi)) return 0;
  try {
    return impl_->VisitShapes(impl_->near_shapes, visit, [&](sqlite3_stmt* st) {
      sqlite3_bind_double(st, 1, lo);
      sqlite3_bind_double(st, 2, hi);
    }) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ItemStore::ReadAlarmedShapes(const ShapeVisitor& visit) {
  if (!IsOpen()) return 0;
  try {
    return impl_->VisitShapes(impl_->alarmed_shapes, visit, {}) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ItemStore::ReadItemAt(Bookmark row, const DateTime& index, ScheduleItem& out) {
  if (!IsOpen()) return -1;
  try {
    Use u(impl_->row_at);
    sqlite3_bind_int64(*u, 1, row);
    const int rc = sqlite3_step(*u);
    if (rc == SQLITE_DONE) return 0;
    if (rc != SQLITE_ROW) return -1;
    ScheduleItem it;
    ReadItem(*u, it);
    // Same status and instant: an invalid Index never compares equal.
    if (it.Index.GetStatus() != index.GetStatus() ||
        it.Index.LinearSeconds() != index.LinearSeconds())
      return 0;
    out = std::move(it);
    return 1;
  } catch (...) {
    return -1;
  }
}

int64_t ItemStore::CountRowsNear(const DateTime& from, const DateTime& to) {
  double lo = 0, hi = 0;
  if (!IsOpen() || !NearBand(from, to, lo, hi)) return -1;
  try {
    return impl_->Count(impl_->near_count, [&](sqlite3_stmt* st) {
      sqlite3_bind_double(st, 1, lo);
      sqlite3_bind_double(st, 2, hi);
    });
  } catch (...) {
    return -1;
  }
}

int64_t ItemStore::CountUnsent() {
  if (!IsOpen()) return -1;
  try {
    return impl_->Count(impl_->unsent_count, {});
  } catch (...) {
    return -1;
  }
}

int64_t ItemStore::CountAlarmedRows() {
  if (!IsOpen()) return -1;
  try {
    return impl_->Count(impl_->alarmed_count, {});
  } catch (...) {
    return -1;
  }
}

int ItemStore::ReadSettings(std::string& user_name, std::string& server_name,
                            int32_t& server_port, std::string& password, DateTime& last_update) {
  if (!IsOpen()) return 0;
  try {
    Use u(impl_->settings_read);
    if (sqlite3_step(*u) != SQLITE_ROW) return 0;
    std::string un, sn, pw;
    ReadText(*u, 0, un);
    ReadText(*u, 1, sn);
    const int32_t port = ReadInt(*u, 2);
    ReadText(*u, 3, pw);
    const DateTime last = ReadDate(*u, 4);
    user_name = std::move(un);
    server_name = std::move(sn);
    server_port = port;
    password = std::move(pw);
    last_update = last;
    return 1;
  } catch (...) {
    return 0;
  }
}

int ItemStore::WriteSettings(const std::string& user_name, const std::string& server_name,
                             int32_t server_port, const std::string& password) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  Use u(s.settings_write);
  BindText(*u, 1, user_name);
  BindText(*u, 2, server_name);
  sqlite3_bind_int(*u, 3, server_port);
  BindText(*u, 4, password);
  return s.Change(*u) && sqlite3_changes(s.db) == 1 ? 1 : 0;
}

int ItemStore::FindImportedUid(const std::string& uid, DateTime& index, std::string& version) {
  if (!IsOpen()) return -1;
  try {
    Use u(impl_->imported_find);
    BindText(*u, 1, uid);
    const int rc = sqlite3_step(*u);
    if (rc == SQLITE_DONE) return 0;
    if (rc != SQLITE_ROW) return -1;
    index = ReadDate(*u, 0);
    ReadText(*u, 1, version);
    return 1;
  } catch (...) {
    return -1;
  }
}

int ItemStore::RememberImportedUid(const std::string& uid, const DateTime& index,
                                   const std::string& version) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  Use u(s.imported_put);
  BindText(*u, 1, uid);
  BindDate(*u, 2, index);
  BindText(*u, 3, version);
  return s.Change(*u) ? 1 : 0;
}

int ItemStore::TouchLastUpdate() {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  Use u(s.touch);
  BindDate(*u, 1, Now());
  return s.Change(*u) && sqlite3_changes(s.db) == 1 ? 1 : 0;
}

void ItemStore::LoadUserList(std::vector<UserEntry>& users) {
  users.clear();
  if (!IsOpen()) return;
  try {
    std::vector<UserEntry> read;
    Use u(impl_->users_read);
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
      UserEntry e;
      ReadText(*u, 0, e.UserName);
      e.UserID = ReadInt(*u, 1);
      read.push_back(std::move(e));
    }
    // A list that cannot be read whole is not offered at all.
    if (rc == SQLITE_DONE) users = std::move(read);
  } catch (...) {
    users.clear();
  }
}

int ItemStore::SaveUserList(const std::vector<UserEntry>& users) {
  if (!ReadyToWrite()) return 0;
  Impl& s = *impl_;
  // One transaction: a failure keeps the old list whole instead of a part
  // of the new one.
  if (!s.Begin()) return 0;
  bool ok = Run(s.users_clear);
  for (size_t i = 0; ok && i < users.size(); ++i) {
    Use u(s.users_add);
    const std::string& name = users[i].UserName;
    // An empty name is an empty value here, not Null.
    sqlite3_bind_blob64(*u, 1, name.empty() ? "" : name.data(), name.size(), SQLITE_STATIC);
    sqlite3_bind_int(*u, 2, users[i].UserID);
    ok = sqlite3_step(*u) == SQLITE_DONE;
  }
  if (!ok) {
    s.Fail();
    return 0;
  }
  return s.Commit() ? 1 : 0;
}

}  // namespace kv
