#pragma once
// The one owner of the user's database file: the items, the settings row
// and the list of known users. Operations report 1 for success and 0 for
// failure; no exception leaves the store. Every change is one transaction,
// so a failed change (full disk, read-only or damaged file) leaves the file
// as it was. The file stays locked against other processes while open.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/ScheduleItem.h"

namespace kv {

struct UserEntry {
  int32_t UserID = 0;
  std::string UserName;     // CP932
  std::string DisplayName;  // CP932; from the server, not stored
  int32_t Writable = 0;     // 1: the signed-in user may change this user's items
  int32_t RowTop = 0;       // written by the other users' layout
  int32_t RowBottom = 0;
};

struct StoreSettings {
  std::string UserName;
  std::string ServerName;
  int32_t ServerPort = 0;
  std::string Password;
  DateTime LastUpdate;
};

// Why the last CreateStore or OpenStore returned 0.
enum class StoreFailure {
  None,
  Locked,   // another process holds the file
  Damaged,  // not a store, or a store with a table missing or broken
  Io,       // the file or its folder cannot be read, written or made
};

class ItemStore {
 public:
  using Bookmark = int64_t;  // a rowid; 0 = no current row

  // What the synchronisation keeps of a row between its reads and writes.
  struct ItemKey {
    Bookmark row = 0;
    DateTime Index;
    DateTime Updated;
    int32_t SyncFlag = 0;
  };

  ItemStore();
  ~ItemStore();
  ItemStore(const ItemStore&) = delete;
  ItemStore& operator=(const ItemStore&) = delete;

  // Builds the file under a temporary name and moves it into place whole,
  // never over an existing file.
  int CreateStore(const std::string& path);
  // Checks the file before anything is written to it; a file readable by
  // others is made private to the user.
  int OpenStore(const std::string& path);
  // Opens the file for reading at once and leaves its check (as above)
  // and everything that writes to FinishOpening, so a calendar can show
  // its first frame first. Until then nothing is written: a change first
  // finishes the opening, and fails when the check does. A file without
  // what the reads need (an older one) is checked at once.
  int OpenStoreForReading(const std::string& path);
  // 1 when the file is checked and open for changes; 0 when the check
  // failed (the store is then closed; LastFailure tells why).
  int FinishOpening();
  bool OpeningFinished() const;
  void CloseStore();
  bool IsOpen() const;
  StoreFailure LastFailure() const;
  // The path of the open store ("" when closed).
  const std::string& Path() const;
  // Whether the last opening checked every page of the file; one that
  // still holds the bytes of its last clean closing is not checked again
  // (the seal beside it, store/StoreSeal.h).
  bool CheckedInFull() const;

  // `wanted` (a creation instant) when no row has it as its Index,
  // otherwise the first later second that no row has; invalid when the
  // table cannot be read or no second is left before the year 10000.
  DateTime UniqueIndex(const DateTime& wanted);

  int ReadFirstItem(ScheduleItem& out);
  int ReadNextItem(ScheduleItem& out);
  // True when the last ReadFirstItem or ReadNextItem gave 0 because the
  // file could not be read, not because the table ended.
  bool ReadFailed() const;
  int InsertItem(const ScheduleItem& item);
  // As above; *row receives the new row's bookmark.
  int InsertItem(const ScheduleItem& item, Bookmark* row);
  int UpdateItemByIndex(const ScheduleItem& item);
  int MarkItemDeleted(const ScheduleItem& item);
  int PurgeDeletedItems(int days);
  // The current row of the item table, shared by the walk and the look-ups
  // by Index; 0 when there is none (past the last row).
  Bookmark GetItemPosition() const;
  // Makes the row current again; 0 puts the position past the last row.
  void SetItemPosition(Bookmark b);

  // Row-exact access for the synchronisation, which must act on the very
  // row it read even when another row has the same Index. None of these
  // moves the current row.
  // The keys of every row in table order; 0 when the table could not be
  // read whole (out is then left empty).
  int ReadItemKeys(std::vector<ItemKey>& out);
  // Rewrites every column of the row, Index and SyncFlag included; 0 when
  // the row does not exist or the write fails.
  int UpdateItemAt(Bookmark row, const ScheduleItem& item);
  // Sets SyncFlag of every listed row in one transaction; 0 (and nothing
  // changed) when any of them is missing or a write fails.
  int SetSyncFlagAt(const std::vector<Bookmark>& rows, int32_t flag);

  // Changes made between BeginBatch and CommitBatch are one transaction:
  // all of them reach the file or none does. A change that fails inside a
  // batch undoes the whole batch, and every later change of it fails.
  int BeginBatch();
  int CommitBatch();
  void AbortBatch();

  // Reads for the calendar's load that visit only the rows that can
  // matter, in table order; a visited row may still not qualify, but no
  // qualifying row is left out. 0 when the question cannot be answered
  // from the indexes (the caller walks the table then). Each row comes
  // with only what the calendar draws and rings by: its shape, its row,
  // and whether it names a program (Execute). The visitor may take the
  // shape it is handed.
  using ShapeVisitor = std::function<void(ItemShape&, Bookmark row, bool runs)>;
  // Rows that can meet [from, to) (Start before `to`, End at or after
  // `from`) and every row that can repeat.
  int ReadShapesNear(const DateTime& from, const DateTime& to, const ShapeVisitor& visit);
  // Every row whose Alarm can read as 0 or more.
  int ReadAlarmedShapes(const ShapeVisitor& visit);
  // At least as many rows as the two reads above would visit now (and not
  // many more), to make room for them at once; -1 when the indexes cannot
  // tell.
  int64_t CountRowsNear(const DateTime& from, const DateTime& to);
  int64_t CountAlarmedRows();
  // The whole item of a row read by the shapes: 1 read, 0 when the row is
  // gone or now holds another Index, -1 when it cannot be read.
  int ReadItemAt(Bookmark row, const DateTime& index, ScheduleItem& out);
  // Changes not yet confirmed by the server: pending and resent rows, and
  // tombstones made since the last upload; -1 when it cannot be read.
  int64_t CountUnsent();

  // The item an iCalendar event of this UID became, with the file's
  // version of it (text that orders as the versions do): 1 found, 0 not
  // found, -1 unreadable.
  int FindImportedUid(const std::string& uid, DateTime& index, std::string& version);
  // Keeps (or replaces) the UID's item and version; in a batch like any change.
  int RememberImportedUid(const std::string& uid, const DateTime& index, const std::string& version);

  int ReadSettings(std::string& user_name, std::string& server_name, int32_t& server_port,
                   std::string& password, DateTime& last_update);
  int WriteSettings(const std::string& user_name, const std::string& server_name,
                    int32_t server_port, const std::string& password);
  int TouchLastUpdate();
  void LoadUserList(std::vector<UserEntry>& users);
  // Returns 1 when the list was rewritten, 0 when it was left unchanged.
  int SaveUserList(const std::vector<UserEntry>& users);

 private:
  int Open(const std::string& path, bool defer_check);
  bool ReadyToWrite();

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv
