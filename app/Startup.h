#pragma once
// The start-up steps that need no window: where the program and the
// user's store live, and opening or creating the store.
#include <string>

#include "store/ItemStore.h"

namespace kv::app {

// The folder of a program path: everything before its last "/".
std::string ProgramFolderOf(const std::string& program_path);

// The logon name from the password database, or "Default" when there is
// none that can name a file.
std::string LogonName();
// The rule applied to a name from the password database (may be null).
std::string LogonNameOr(const char* name);

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share
// (the home folder from the password database when HOME is unset).
std::string DataHome();

// data_home/Brenlow/Quillon/<logon>.mdb. Creates the data home and the
// two folders when they are missing; a folder that cannot be made shows
// up later as a store that cannot be created.
std::string BuildStorePath(const std::string& data_home, const std::string& logon);

enum class StoreOpen { Opened, Created, OpenFailed, CreateFailed, Locked };

// Opens the store when the file can be read and written (for reading: its
// check waits for ItemStore::FinishOpening), creates it otherwise. A store
// held by another running calendar is left alone.
StoreOpen OpenOrCreateStore(ItemStore& store, const std::string& path);

// The message for a failed result, with the path appended (UTF-8).
std::string StoreFailureMessage(StoreOpen result, const std::string& path);

// Exit status of a start-up that could not open the store.
inline constexpr int kExitStoreFailed = 1;
inline constexpr int kExitStoreLocked = 2;

}  // namespace kv::app
