#include "app/group/ServerSettings.h"

namespace kv {

ServerSettings CurrentServerSettings(const ConnectionState& conn) {
  ServerSettings s;
  s.ServerName = conn.ServerName;
  s.ServerPort = conn.ServerPort;
  s.UserName = conn.UserName;
  s.Password = conn.Password;
  return s;
}

SettingsProblem CheckServerSettings(const ServerSettings& s) {
  auto has_break = [](const std::string& t) { return t.find_first_of("\r\n") != std::string::npos; };
  if (has_break(s.UserName)) return SettingsProblem::LineBreakInUserName;
  if (has_break(s.Password)) return SettingsProblem::LineBreakInPassword;
  if (s.ServerPort < 0 || s.ServerPort > 65535) return SettingsProblem::PortOutOfRange;
  return SettingsProblem::None;
}

void ApplyServerSettings(ConnectionState& conn, const ServerSettings& s) {
  if (CurrentServerSettings(conn) != s) {
    conn.LastConnectFailure = ConnectionState{}.LastConnectFailure;
    conn.RefusedSettings.clear();
  }
  conn.ServerName = s.ServerName;
  conn.ServerPort = s.ServerPort;
  conn.UserName = s.UserName;
  conn.Password = s.Password;
  // A password entered again replaces the one that could not be read; an
  // empty field only means it was not typed.
  if (!s.Password.empty()) conn.PasswordUnreadable = false;
}

SettingsSaved SaveServerSettings(ConnectionState& conn, ItemStore& store, PasswordKeeper& keeper,
                                 const ServerSettings& s, const std::string& store_path) {
  ApplyServerSettings(conn, s);
  SettingsSaved out;
  const std::string column = keeper.Keep(s.Password);
  out.place = keeper.Place();
  if (!column.empty()) out.store_private = MakeStorePrivate(store_path);
  out.row_written = store.WriteSettings(s.UserName, s.ServerName, s.ServerPort, column) == 1;
  return out;
}

}  // namespace kv
