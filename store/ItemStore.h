#pragma once
// The one owner of the user's database file: the items, the settings row
// and the list of known users. Operations report 1 for success and 0 for
// failure; no exception leaves the store. Every change is one transaction,
// so a failed change (full disk, read-only or damaged file) leaves the file
// as it was. The file stays locked against other processes while open.
#include <cstdint>
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

  ItemStore();
  ~ItemStore();
  ItemStore(const ItemStore&) = delete;
  ItemStore& operator=(const ItemStore&) = delete;

  int CreateStore(const std::string& path);
  int OpenStore(const std::string& path);
  void CloseStore();
  bool IsOpen() const;
  StoreFailure LastFailure() const;

  // `wanted` (a creation instant) when no row has it as its Index,
  // otherwise the first later second that no row has; invalid when the
  // table cannot be read.
  DateTime UniqueIndex(const DateTime& wanted);

  int ReadFirstItem(ScheduleItem& out);
  int ReadNextItem(ScheduleItem& out);
  int InsertItem(const ScheduleItem& item);
  int UpdateItemByIndex(const ScheduleItem& item);
  int MarkItemDeleted(const ScheduleItem& item);
  int PurgeDeletedItems(int days);
  // The current row of the item table, shared by the walk and the look-ups
  // by Index; 0 when there is none (past the last row).
  Bookmark GetItemPosition() const;
  // Makes the row current again; 0 puts the position past the last row.
  void SetItemPosition(Bookmark b);

  int ReadSettings(std::string& user_name, std::string& server_name, int32_t& server_port,
                   std::string& password, DateTime& last_update);
  int WriteSettings(const std::string& user_name, const std::string& server_name,
                    int32_t server_port, const std::string& password);
  int TouchLastUpdate();
  void LoadUserList(std::vector<UserEntry>& users);
  // Returns 1 when the list was rewritten, 0 when it was left unchanged.
  int SaveUserList(const std::vector<UserEntry>& users);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv
