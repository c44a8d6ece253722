#include "sync/SyncClient.h"

#include <cstdlib>
#include <unordered_map>

#include "model/Clock.h"
#include "model/Text.h"

namespace kv {

namespace {

const DateSpan kTolerance = DateSpan::Seconds(10);
// Items named in the message about items too large to send.
constexpr std::size_t kNamedItems = 5;
constexpr std::size_t kNamedSubjectBytes = 60;

bool NotConfigured(const std::string& s) { return s.empty() || s == " "; }

// A CR or LF would end a request line early and begin another one.
bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

std::string Cp932(const char* utf8) { return text::FromUtf8(utf8).value_or(std::string()); }

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
  if (notifier_) notifier_->ShowMessage(Cp932(utf8) + suffix);
}

std::string SyncClient::SettingsKey() const {
  return state_.UserName + '\0' + state_.ServerName + '\0' + std::to_string(state_.ServerPort) +
         '\0' + state_.Password;
}

int SyncClient::CheckConnection() {
  Disconnect();
  if (NotConfigured(state_.ServerName) || NotConfigured(state_.UserName) || state_.ServerPort == 0 ||
      state_.PasswordUnreadable) {
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
  const ChannelTimeouts timeouts{state_.ConnectTimeoutMs, state_.IoTimeoutMs, state_.RequestTimeoutMs};
  if (!channel_.Connect(state_.ServerName, state_.ServerPort, timeouts, state_.Resolve)) {
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

void SyncClient::SetClockOffset(const DateTime& server_now) {
  const DateTime now = Now();
  // Without a usable server time the safest offset is none.
  if (!server_now.IsValid() || !now.IsValid()) {
    state_.ClockOffset = DateSpan();
    return;
  }
  const DateSpan offset = now - server_now;
  if (std::llabs(offset.TotalSeconds()) > kMaxClockOffsetSeconds) {
    state_.ClockOffset = DateSpan();
    if (notifier_ && !state_.ClockWarningShown) {
      state_.ClockWarningShown = true;
      Show("サーバーの時計が大きくずれています。時刻を補正せずに同期します。サーバーの時計を確認してください。");
    }
    return;
  }
  state_.ClockOffset = offset;
}

int32_t SyncClient::Login(InStream& in, OutStream& out, const std::string& user_name) {
  out.WriteLine(user_name);
  out.WriteLine(state_.Password);
  if (!out.Flush()) return kLoginBroken;
  int32_t code;
  DateTime server_now;
  if (!in.ReadInt32(code) || !in.ReadDate(server_now)) return kLoginBroken;
  SetClockOffset(server_now);
  return code;
}

int SyncClient::Open(const std::string& user, Fetch mode) {
  if (mode == Fetch::Background && !state_.RefusedSettings.empty() &&
      state_.RefusedSettings == SettingsKey())
    return -1;
  const bool configured = !NotConfigured(state_.ServerName) && !NotConfigured(state_.UserName) &&
                          state_.ServerPort != 0;
  if (configured && (HasLineBreak(user) || HasLineBreak(state_.Password))) {
    Show("ユーザ名またはパスワードに改行が含まれているため、サーバーに接続できません。");
    if (mode == Fetch::Background) state_.RefusedSettings = SettingsKey();
    return -1;
  }
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

void SyncClient::ShowTooLarge(const std::vector<std::string>& subjects) {
  std::string names;
  for (std::size_t i = 0; i < subjects.size() && i < kNamedItems; ++i) {
    const std::string& s = subjects[i];
    std::string name = text::CutBytes(s, kNamedSubjectBytes);
    if (name.size() < s.size()) name += Cp932("…");
    names += "\n" + Cp932("「") + name + Cp932("」");
  }
  if (subjects.size() > kNamedItems) {
    names += "\n" + Cp932("ほか ") + std::to_string(subjects.size() - kNamedItems) + Cp932(" 件");
  }
  Show("次の予定は大きすぎるためサーバーに送れません。内容を短くしてください。送れるまでこのパソコンに残ります。",
       names);
}

void SyncClient::ShowLocalFailure(const ItemStore& store, bool writing) {
  const std::string path = text::FromUtf8(store.Path()).value_or(std::string());
  Show(writing ? "データファイルに書き込めないため、同期を中止しました。"
               : "データファイルを読み込めないため、同期を中止しました。",
       path.empty() ? std::string() : "\n" + path);
}

int SyncClient::ItemRequest(int32_t code, const std::string& user, const ScheduleItem& item) {
  // A record the server would refuse is not sent at all; the caller keeps
  // the change as pending.
  if (EncodeRecordText(item).size() > static_cast<std::size_t>(kMaxRecordLength)) {
    ShowTooLarge({item.Subject});
    return 0;
  }
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
  if (!out_->Flush() || !in_->ReadInt32(count) || count < 0 || count > state_.Limits.users) {
    Broken();
    return false;
  }
  std::vector<UserEntry> got;
  std::size_t bytes = 0;
  for (int32_t i = 0; i < count; ++i) {
    UserEntry e;
    if (!in_->ReadInt32(e.UserID) || !in_->ReadLine(e.UserName) || !in_->ReadLine(e.DisplayName) ||
        !in_->ReadInt32(e.Writable)) {
      Broken();
      return false;
    }
    bytes += e.UserName.size() + e.DisplayName.size();
    if (bytes > state_.Limits.user_list_bytes) {
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
    // A name from the server's list that would break the request line is
    // never asked for.
    if (HasLineBreak(ref.UserName)) continue;
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
    std::size_t bytes = 0;
    std::size_t held = 0;
    bool ok = true;
    for (;;) {
      if (!ReadRecord(*in_, r, &bytes) || bytes > state_.Limits.user_items_bytes) {
        ok = false;
        break;
      }
      if (r.SyncFlag == SyncEndOfList) break;
      // A record that omits its texts inherits the previous record's, so
      // what a week's answer holds can be far more than the bytes it took
      // to send.
      held += r.TextBytes();
      if (got.size() >= state_.Limits.user_items_records || held > state_.Limits.user_items_bytes) {
        ok = false;
        break;
      }
      r.UserID = ref.UserID;
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

SyncClient::Phase SyncClient::Download(ItemStore& store, const DateTime& last_update) {
  const int opened = Open(state_.UserName, Fetch::Interactive);
  if (opened == -1) return Phase::Refused;
  if (opened == 0) return Phase::NoConnection;
  out_->WriteInt32(RequestDownload);
  out_->WriteDate(last_update);
  if (!out_->Flush()) {
    Broken();
    return Phase::Broken;
  }
  // Per Index, what the merge needs of the first stored row that has it:
  // the row itself (another row may share the Index), its Updated and its
  // flag. Kept in step with what the merge writes.
  struct Local {
    ItemStore::Bookmark row;
    DateTime updated;
    int32_t flag;
  };
  std::unordered_map<int64_t, Local> by_index;
  {
    std::vector<ItemStore::ItemKey> keys;
    // A table read only in part would make stored items look new.
    if (!store.ReadItemKeys(keys)) {
      Disconnect();
      ShowLocalFailure(store, false);
      return Phase::LocalFailure;
    }
    by_index.reserve(keys.size());
    for (const ItemStore::ItemKey& k : keys) {
      if (k.Index.IsValid()) by_index.try_emplace(k.Index.LinearSeconds(), Local{k.row, k.Updated, k.SyncFlag});
    }
  }
  // All of the download reaches the file, or none of it.
  if (!store.BeginBatch()) {
    Disconnect();
    ShowLocalFailure(store, true);
    return Phase::LocalFailure;
  }
  auto broken = [&] {
    store.AbortBatch();
    Broken();
    return Phase::Broken;
  };
  auto local_failure = [&] {
    store.AbortBatch();
    Disconnect();
    ShowLocalFailure(store, true);
    return Phase::LocalFailure;
  };
  ScheduleItem r;
  std::size_t records = 0, bytes = 0;
  for (;;) {
    // Every record must bring its own Index; one carried over from the
    // record before would fall on that record's item.
    r.Index = DateTime::Invalid();
    if (!ReadRecord(*in_, r, &bytes) || bytes > state_.Limits.download_bytes) return broken();
    if (r.SyncFlag == SyncEndOfList) break;
    if (++records > state_.Limits.download_records || !r.Index.IsValid()) return broken();
    const int64_t key = r.Index.LinearSeconds();
    auto found = by_index.find(key);
    if (found != by_index.end()) {
      Local& local = found->second;
      const DateTime s = r.Updated + state_.ClockOffset;
      if (s - local.updated > kTolerance) {
        r.Updated += state_.ClockOffset;
        if (!store.UpdateItemAt(local.row, r)) return local_failure();
        local.updated = r.Updated;
        local.flag = r.SyncFlag;
      } else if (local.updated - s > kTolerance && local.flag != SyncDeleted) {
        if (!store.SetSyncFlagAt({local.row}, SyncResend)) return local_failure();
        local.flag = SyncResend;
      }
    } else if (r.SyncFlag != SyncDeleted) {
      r.SyncFlag = SyncClean;
      r.Updated += state_.ClockOffset;
      ItemStore::Bookmark row = 0;
      if (!store.InsertItem(r, &row)) return local_failure();
      by_index.emplace(key, Local{row, r.Updated, r.SyncFlag});
    }
  }
  Disconnect();
  if (!store.CommitBatch()) {
    ShowLocalFailure(store, true);
    return Phase::LocalFailure;
  }
  return Phase::Done;
}

SyncClient::Phase SyncClient::Upload(ItemStore& store, const DateTime& last_update) {
  const int opened = Open(state_.UserName, Fetch::Interactive);
  if (opened == -1) return Phase::Refused;
  if (opened == 0) return Phase::NoConnection;
  out_->WriteInt32(RequestUpload);
  out_->WriteDate(last_update);
  if (!out_->Flush()) {
    Broken();
    return Phase::Broken;
  }
  std::vector<ItemStore::Bookmark> sent_clean;
  std::vector<std::string> too_large;
  ScheduleItem l, last;
  for (int ok = store.ReadFirstItem(l); ok; ok = store.ReadNextItem(l)) {
    last = l;
    if (l.SyncFlag != SyncPending && l.SyncFlag != SyncResend && l.SyncFlag != SyncDeleted) continue;
    ScheduleItem rec = l;
    rec.Updated = l.Updated - state_.ClockOffset;
    if (l.SyncFlag != SyncDeleted) rec.SyncFlag = SyncClean;
    const std::string text = EncodeRecordText(rec);
    // The server would refuse it and end the whole upload: it stays
    // pending here instead, and the user hears which item it is.
    if (text.size() > static_cast<std::size_t>(kMaxRecordLength)) {
      too_large.push_back(l.Subject);
      continue;
    }
    if (!WriteRecordText(*out_, text)) {
      Broken();
      return Phase::Broken;
    }
    if (l.SyncFlag != SyncDeleted) sent_clean.push_back(store.GetItemPosition());
  }
  // Without the end-of-list record the server drops what it received.
  if (store.ReadFailed()) {
    Disconnect();
    ShowLocalFailure(store, false);
    return Phase::LocalFailure;
  }
  if (!too_large.empty()) ShowTooLarge(too_large);
  last.SyncFlag = SyncEndOfList;
  std::string end = EncodeRecordText(last);
  if (end.size() > static_cast<std::size_t>(kMaxRecordLength)) {
    ScheduleItem blank;
    blank.SyncFlag = SyncEndOfList;
    end = EncodeRecordText(blank);
  }
  if (!WriteRecordText(*out_, end)) {
    Broken();
    return Phase::Broken;
  }
  // The upload has no answer. The end of our side tells the server the
  // conversation is over; it closes once it holds the items for good and
  // resets when it does not. Only the orderly close confirms the upload.
  if (!channel_.ShutdownWrite() || !in_->ReadOrderlyEnd()) {
    Broken();
    return Phase::Broken;
  }
  Disconnect();
  // The items become clean and LastUpdate moves in one transaction.
  if (!store.BeginBatch() || !store.SetSyncFlagAt(sent_clean, SyncClean) || !store.TouchLastUpdate() ||
      !store.CommitBatch()) {
    store.AbortBatch();
    ShowLocalFailure(store, true);
    return Phase::LocalFailure;
  }
  return Phase::Done;
}

int SyncClient::Synchronize(ItemStore& store, const std::function<void()>& load_visible_items) {
  std::string user, server, password;
  int32_t port = 0;
  DateTime last_update = DateTime::FromParts(2000, 1, 1);
  store.ReadSettings(user, server, port, password, last_update);

  const Phase down = Download(store, last_update);
  if (down == Phase::Refused) return 0;
  // A download that broke off or could not be stored is not followed by
  // an upload: the new LastUpdate would hide what was never received.
  if (down != Phase::Broken && down != Phase::LocalFailure &&
      Upload(store, last_update) == Phase::Refused)
    return 0;
  if (load_visible_items) load_visible_items();
  return 1;
}

}  // namespace kv
