#pragma once
// The four connection settings as the server-settings command takes them
// from its dialog, checks them, installs them and saves them.
#include <cstdint>
#include <string>

#include "app/group/PasswordKeeper.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"

namespace kv {

struct ServerSettings {
  std::string ServerName;  // CP932, as entered
  int32_t ServerPort = 0;
  std::string UserName;
  std::string Password;
  bool operator==(const ServerSettings&) const = default;
};

ServerSettings CurrentServerSettings(const ConnectionState& conn);

enum class SettingsProblem {
  None,
  LineBreakInUserName,  // would end the sign-in line early
  LineBreakInPassword,
  PortOutOfRange,
};
SettingsProblem CheckServerSettings(const ServerSettings& s);

// Installs the settings. Other settings are another server (or another
// account), so the hold-off a failed attempt at the old ones left no
// longer applies; the same settings again keep it.
void ApplyServerSettings(ConnectionState& conn, const ServerSettings& s);

struct SettingsSaved {
  bool row_written = false;
  PasswordPlace place = PasswordPlace::Store;
  bool store_private = true;  // false: the file's permissions could not be narrowed
};

// Applies the settings, keeps the password (keeper), and writes the
// settings row with whatever the Password column is to hold. The row is
// written only after the password is safe elsewhere, so it is never lost
// between the two.
SettingsSaved SaveServerSettings(ConnectionState& conn, ItemStore& store, PasswordKeeper& keeper,
                                 const ServerSettings& s, const std::string& store_path);

}  // namespace kv
