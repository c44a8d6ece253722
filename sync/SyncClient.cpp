#include "sync/SyncClient.h"

#include <optional>
#include <unordered_map>

#include "model/Clock.h"
#include "model/Text.h"

namespace kv {

namespace {

// The most users a list may announce; anything above is a broken answer.
constexpr int32_t kMaxUserCount = 100000;
// The most one user's week may bring; more is a broken answer. Counted in
// text held, not bytes received: a record that omits its texts inherits
// the previous record's, so small records can repeat a large text.
constexpr size_t kMaxWeekItems = 100000;
constexpr size_t kMaxWeekTextBytes = 64u * 1024 * 1024;

size_t TextBytes(const ScheduleItem& it) {
  return it.Subject.size() + it.Place.size() + it.Execute.size() + it.Desc.size() +
         it.Attr1.size() + it.Attr2.size() + it.Attr3.size() + it.Attr4.size() + it.Attr5.size();
}
const DateSpan kTolerance = DateSpan::Seconds(10);
constexpr int kBrokeOff = 2;

bool NotConfigured(const std::string& s) { return s.empty() || s == " "; }

}  // namespace

ConnectionState& GlobalConnection() {
  static ConnectionState state;
  return state;
}

SyncClient::SyncClient(ConnectionState& state, UserNotifier* notifier)
    : state_(state), notifier_(notifier) {}

SyncClient::~SyncClient() { Disconnect(); }

void SyncClient::Status(const char* text) {
  if (notifier_) notifier_->SetStatus(1, text);
}

void SyncClient::Show(const char* utf8, const std::string& suffix) {
  if (notifier_) notifier_->ShowMessage(text::FromUtf8(utf8).value_or(std::string()) + suffix);
}

std::string SyncClient::SettingsKey() const {
  return state_.UserName + '\0' + state_.ServerName + '\0' + std::to_string(state_.ServerPort) +
         '\0' + state_.Password;
}

int SyncClient::CheckConnection() {
  Disconnect();
  if (NotConfigured(state_.ServerName) || NotConfigured(state_.UserName) || state_.ServerPort == 0) {
    Status("Offline");
    return 0;
  }
  if (state_.Online == 0) {
    const int64_t since = (Now() - state_.LastConnectFailure).TotalSeconds();
    // A clock set back must not hold attempts off for longer than 300 s.
    if (since >= 0 && since < 300) {
      Status("Offline");
      return 0;
    }
  }
  if (!channel_.Connect(state_.ServerName, state_.ServerPort, state_.ConnectTimeoutMs,
                        state_.IoTimeoutMs)) {
    if (state_.Online == 1) Status("Offline");
    channel_.Close();
    state_.Online = 0;
    state_.LastConnectFailure = Now();
    return 0;
  }
  if (state_.Online == 0) Status("Online");
  state_.Online = 1;
  return 1;
}

void SyncClient::Broken() {
  Disconnect();
  if (state_.Online == 1) Status("Offline");
  state_.Online = 0;
  state_.LastConnectFailure = Now();
}

int SyncClient::Disconnect() {
  in_.reset();
  out_.reset();
  channel_.Close();
  return 1;
}

int32_t SyncClient::Login(InStream& in, OutStream& out, const std::string& user_name) {
  out.WriteLine(user_name);
  out.WriteLine(state_.Password);
  if (!out.Flush()) return kLoginBroken;
  int32_t code;
  DateTime server_now;
  if (!in.ReadInt32(code) || !in.ReadDate(server_now)) return kLoginBroken;
  // Without a usable server time the safest offset is none.
  state_.ClockOffset = server_now.IsValid() ? Now() - server_now : DateSpan();
  return code;
}

int SyncClient::Open(const std::string& user, Fetch mode) {
  if (mode == Fetch::Background && !state_.RefusedSettings.empty() &&
      state_.RefusedSettings == SettingsKey())
    return -1;
  if (!CheckConnection()) return 0;
  in_ = std::make_unique<InStream>(channel_);
  out_ = std::make_unique<OutStream>(channel_);
  const int32_t code = Login(*in_, *out_, user);
  if (code == kLoginBroken) {
    Broken();
    return 0;
  }
  if (code == -1 || code == -2) {
    Show(code == -1 ? "指定のユーザが存在しません。" : "パスワードが間違っています。");
    if (mode == Fetch::Background) state_.RefusedSettings = SettingsKey();
    Disconnect();
    return -1;
  }
  state_.RefusedSettings.clear();
  return 1;
}

int SyncClient::ItemRequest(int32_t code, const std::string& user, const ScheduleItem& item) {
  if (Open(user, Fetch::Interactive) != 1) return 0;
  ScheduleItem sent = item;
  sent.Updated = item.Updated - state_.ClockOffset;
  out_->WriteInt32(code);
  int32_t result = 0;
  if (!out_->Flush() || !WriteRecord(*out_, sent) || !in_->ReadInt32(result)) {
    Broken();
    return 0;
  }
  Disconnect();
  if (result != 1) {
    Show("サーバーでデータ処理に失敗しました。", state_.ServerName);
    return 0;
  }
  return 1;
}

bool SyncClient::GetUserList(std::vector<UserEntry>& users, Fetch mode) {
  if (Open(state_.UserName, mode) != 1) return false;
  out_->WriteInt32(RequestUserList);
  int32_t count = 0;
  if (!out_->Flush() || !in_->ReadInt32(count) || count < 0 || count > kMaxUserCount) {
    Broken();
    return false;
  }
  std::vector<UserEntry> got;
  for (int32_t i = 0; i < count; ++i) {
    UserEntry e;
    if (!in_->ReadInt32(e.UserID) || !in_->ReadLine(e.UserName) || !in_->ReadLine(e.DisplayName) ||
        !in_->ReadInt32(e.Writable)) {
      Broken();
      return false;
    }
    got.push_back(std::move(e));
  }
  Disconnect();
  users = std::move(got);
  return true;
}

bool SyncClient::GetUserItems(const std::vector<UserEntry>& refs, const DateTime& date,
                              std::vector<ScheduleItem>& items, int& refresh_references) {
  if (refresh_references != 1) return false;
  items.clear();
  ScheduleItem r;  // one record for the whole fetch: missing fields carry over
  for (const UserEntry& ref : refs) {
    const int opened = Open(state_.UserName, Fetch::Background);
    if (opened == -1) return false;
    if (opened == 0) continue;
    out_->WriteInt32(RequestUserItems);
    out_->WriteLine(ref.UserName);
    out_->WriteDate(date);
    if (!out_->Flush()) {
      Broken();
      continue;
    }
    std::vector<ScheduleItem> got;
    size_t text_bytes = 0;
    bool ok = true;
    for (;;) {
      if (!ReadRecord(*in_, r)) {
        ok = false;
        break;
      }
      if (r.SyncFlag == SyncEndOfList) break;
      text_bytes += TextBytes(r);
      if (got.size() >= kMaxWeekItems || text_bytes > kMaxWeekTextBytes) {
        ok = false;
        break;
      }
      r.UserID = ref.UserID;
      r.ClearCellRects();
      got.push_back(r);
    }
    if (!ok) {
      Broken();  // this user's partial list is dropped
      continue;
    }
    Disconnect();
    items.insert(items.end(), got.begin(), got.end());
  }
  refresh_references = 0;
  return false;
}

// 1 completed, 0 no connection or broken, -1 refused.
// 1 completed, 0 no connection, kBrokeOff broken mid-way, -1 refused.
int SyncClient::Download(ItemStore& store, const DateTime& last_update) {
  const int opened = Open(state_.UserName, Fetch::Interactive);
  if (opened != 1) return opened;
  out_->WriteInt32(RequestDownload);
  out_->WriteDate(last_update);
  if (!out_->Flush()) {
    Broken();
    return kBrokeOff;
  }
  // The first stored item of each Index, kept in step with what is written,
  // so each received record is matched without rescanning the table.
  std::unordered_map<int64_t, ScheduleItem> by_index;
  std::optional<ScheduleItem> null_index;
  auto find = [&](const DateTime& idx) -> ScheduleItem* {
    if (idx.GetStatus() == DateTime::null) return null_index ? &*null_index : nullptr;
    if (!idx.IsValid()) return nullptr;
    auto it = by_index.find(idx.LinearSeconds());
    return it == by_index.end() ? nullptr : &it->second;
  };
  auto remember = [&](const ScheduleItem& it) {
    if (it.Index.GetStatus() == DateTime::null) {
      if (!null_index) null_index = it;
    } else if (it.Index.IsValid()) {
      by_index.try_emplace(it.Index.LinearSeconds(), it);
    }
  };
  ScheduleItem l;
  for (int ok = store.ReadFirstItem(l); ok; ok = store.ReadNextItem(l)) remember(l);

  ScheduleItem r;
  for (;;) {
    if (!ReadRecord(*in_, r)) {
      Broken();
      return kBrokeOff;
    }
    if (r.SyncFlag == SyncEndOfList) break;
    if (ScheduleItem* local = find(r.Index)) {
      const DateTime s = r.Updated + state_.ClockOffset;
      if (s - local->Updated > kTolerance) {
        r.Updated += state_.ClockOffset;
        if (!store.UpdateItemByIndex(r)) {
          Broken();
          return kBrokeOff;
        }
        *local = r;
      } else if (local->Updated - s > kTolerance) {
        if (local->SyncFlag != SyncDeleted) {
          local->SyncFlag = SyncResend;
          if (!store.UpdateItemByIndex(*local)) {
            Broken();
            return kBrokeOff;
          }
        }
      }
    } else if (r.SyncFlag != SyncDeleted) {
      r.SyncFlag = SyncClean;
      r.Updated += state_.ClockOffset;
      if (!store.InsertItem(r)) {
        Broken();
        return kBrokeOff;
      }
      remember(r);
    }
  }
  Disconnect();
  return 1;
}

int SyncClient::Upload(ItemStore& store, const DateTime& last_update) {
  const int opened = Open(state_.UserName, Fetch::Interactive);
  if (opened != 1) return opened;
  out_->WriteInt32(RequestUpload);
  out_->WriteDate(last_update);
  if (!out_->Flush()) {
    Broken();
    return 0;
  }
  std::vector<ScheduleItem> sent_clean;
  ScheduleItem l, last;
  for (int ok = store.ReadFirstItem(l); ok; ok = store.ReadNextItem(l)) {
    last = l;
    if (l.SyncFlag != SyncPending && l.SyncFlag != SyncResend && l.SyncFlag != SyncDeleted) continue;
    ScheduleItem rec = l;
    rec.Updated = l.Updated - state_.ClockOffset;
    if (l.SyncFlag != SyncDeleted) rec.SyncFlag = SyncClean;
    if (!WriteRecord(*out_, rec)) {
      Broken();
      return 0;
    }
    if (l.SyncFlag != SyncDeleted) {
      l.SyncFlag = SyncClean;
      sent_clean.push_back(l);
    }
  }
  last.SyncFlag = SyncEndOfList;
  if (!WriteRecord(*out_, last)) {
    Broken();
    return 0;
  }
  Disconnect();
  // Only a complete upload makes the items clean; otherwise they go again.
  for (const ScheduleItem& it : sent_clean) store.UpdateItemByIndex(it);
  store.TouchLastUpdate();
  return 1;
}

int SyncClient::Synchronize(ItemStore& store, const std::function<void()>& load_visible_items) {
  std::string user, server, password;
  int32_t port = 0;
  DateTime last_update = DateTime::FromParts(2000, 1, 1);
  store.ReadSettings(user, server, port, password, last_update);

  const int down = Download(store, last_update);
  if (down == -1) return 0;
  // A download that broke off is not followed by an upload: the new
  // LastUpdate would hide what was never received.
  if (down != kBrokeOff && Upload(store, last_update) == -1) return 0;
  if (load_visible_items) load_visible_items();
  return 1;
}

}  // namespace kv
