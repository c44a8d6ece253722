#pragma once
// The client side of the schedule server conversation: one connection,
// one sign-in and one request per operation, and the synchronisation.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/DateTime.h"
#include "model/ScheduleItem.h"
#include "store/ItemStore.h"
#include "sync/Notifier.h"
#include "sync/RequestCodes.h"
#include "sync/TcpChannel.h"
#include "sync/WireRecord.h"

namespace kv {

// The most one answer may bring; more is a broken answer (a failed
// connection, nothing of it used).
struct AnswerLimits {
  // The download (request 6): far above any one user's items, so a real
  // server never reaches it, and low enough to stop a server that sends
  // without end.
  std::size_t download_records = 1000000;
  std::size_t download_bytes = std::size_t{1} << 30;
  // One reference user's week (request 13), held in memory for display.
  std::size_t user_items_records = 20000;
  std::size_t user_items_bytes = std::size_t{64} << 20;
  // The user list (request 12): the count and the bytes of its lines.
  int32_t users = 100000;
  std::size_t user_list_bytes = std::size_t{16} << 20;
};

// A server clock that puts ClockOffset beyond this is not believed: two
// days cover every time-zone difference (at most 26 hours) with room for a
// clock that is a little off, while a clock reset to some epoch or off by a
// year would make every downloaded change win or lose its merge.
inline constexpr int64_t kMaxClockOffsetSeconds = 2 * 86400;

// Process-wide connection state shared by every SyncClient.
struct ConnectionState {
  std::string UserName;
  std::string ServerName;
  int32_t ServerPort = 0;
  std::string Password;
  // The password is kept somewhere that could not be read (the desktop's
  // secret service): no sign-in is tried, since an empty password would
  // only earn a refusal the user did not cause.
  bool PasswordUnreadable = false;
  int Online = 0;
  DateTime LastConnectFailure = DateTime::FromParts(2000, 8, 15);
  DateSpan ClockOffset;  // local clock minus server clock
  int ConnectTimeoutMs = 10000;  // name look-up and connect
  int IoTimeoutMs = 30000;       // each transfer
  // One request from the look-up to the close, however the server
  // trickles its bytes: the server's own limit for a connection.
  int RequestTimeoutMs = 300000;
  AnswerLimits Limits;
  // Empty: the platform's look-up.
  Resolver Resolve;
  // The message about an unbelievable server clock is shown once a run.
  bool ClockWarningShown = false;
  // Settings under which a background fetch was refused; such fetches are
  // not retried (nor the message shown again) until the settings change.
  std::string RefusedSettings;
};
ConnectionState& GlobalConnection();

// Who asks: repaint-driven fetches are Background.
enum class Fetch { Interactive, Background };

class SyncClient {
 public:
  // notifier may be null (no main window): nothing is shown.
  explicit SyncClient(ConnectionState& state = GlobalConnection(), UserNotifier* notifier = nullptr);
  ~SyncClient();

  int CheckConnection();
  // Sends the sign-in lines, reads the result and the server's time, sets
  // ClockOffset. Returns the server's code; transport failure gives
  // kLoginBroken (the caller treats it as a failed connection).
  static constexpr int32_t kLoginBroken = INT32_MIN;
  int32_t Login(InStream& in, OutStream& out, const std::string& user_name);

  int AddItem(const ScheduleItem& item) { return ItemRequest(RequestAddItem, state_.UserName, item); }
  int UpdateItem(const ScheduleItem& item) { return ItemRequest(RequestUpdateItem, state_.UserName, item); }
  int DeleteItem(const ScheduleItem& item) { return ItemRequest(RequestDeleteItem, state_.UserName, item); }
  int AddItemFor(const std::string& user, const ScheduleItem& item) { return ItemRequest(RequestAddItem, user, item); }
  int UpdateItemFor(const std::string& user, const ScheduleItem& item) { return ItemRequest(RequestUpdateItem, user, item); }
  int DeleteItemFor(const std::string& user, const ScheduleItem& item) { return ItemRequest(RequestDeleteItem, user, item); }

  // On failure users is left as it was.
  bool GetUserList(std::vector<UserEntry>& users, Fetch mode = Fetch::Interactive);
  // Fills items while refresh_references is 1, then clears it. Always false.
  bool GetUserItems(const std::vector<UserEntry>& refs, const DateTime& date,
                    std::vector<ScheduleItem>& items, int& refresh_references);

  // 1 when it ran to the end (also without a server), 0 on a refused sign-in.
  int Synchronize(ItemStore& store, const std::function<void()>& load_visible_items);

  int Disconnect();

 private:
  // How a phase of the synchronisation ended.
  enum class Phase { Done, NoConnection, Broken, Refused, LocalFailure };
  int ItemRequest(int32_t code, const std::string& user, const ScheduleItem& item);
  // Opens the streams and signs in. 1 signed in; 0 no connection (or it
  // broke); -1 refused (message shown unless suppressed).
  int Open(const std::string& user, Fetch mode);
  // A connection that broke mid-conversation counts as a failed attempt.
  void Broken();
  void Status(const char* text);
  void Show(const char* utf8, const std::string& suffix = {});
  std::string SettingsKey() const;
  void SetClockOffset(const DateTime& server_now);
  void ShowLocalFailure(const ItemStore& store, bool writing);
  void ShowTooLarge(const std::vector<std::string>& subjects);
  Phase Download(ItemStore& store, const DateTime& last_update);
  Phase Upload(ItemStore& store, const DateTime& last_update);

  ConnectionState& state_;
  UserNotifier* notifier_;
  TcpChannel channel_;
  std::unique_ptr<InStream> in_;
  std::unique_ptr<OutStream> out_;
};

}  // namespace kv
