#include "app/group/GroupCommands.h"

#include "app/dialogs/ServerSetDlg.h"
#include "app/dialogs/UserSelDlg.h"
#include "app/group/ReferenceUsersCommand.h"
#include "app/group/ServerSettings.h"
#include "view/Texts.h"

namespace kv::ui {

void GroupCommands::EditServerSettings() {
  ServerSetDlg dlg(d_.parent);
  dlg.setSettings(CurrentServerSettings(*d_.conn));
  const PasswordPlace promised = d_.keeper->Place();
  dlg.setPasswordPlace(promised);
  if (dlg.exec() != QDialog::Accepted) return;

  const SettingsSaved saved =
      SaveServerSettings(*d_.conn, *d_.store, *d_.keeper, dlg.settings(), d_.store_path);
  if (!saved.row_written)
    d_.messages->ShowMessage(Cp932("サーバー設定を保存できませんでした。"));
  if (promised == PasswordPlace::SecretService && saved.place == PasswordPlace::Store)
    d_.messages->ShowMessage(
        Cp932("鍵束にパスワードを保存できなかったため、予定ファイルに保存しました。"));
  if (!saved.store_private)
    d_.messages->ShowMessage(
        Cp932("予定ファイルを他のユーザから読めないようにできませんでした。"));

  int synced = 0;
  d_.run([&] {
    SyncClient client(*d_.conn, d_.notifier);
    synced = client.Synchronize(*d_.store, {});
  });
  d_.state->Online = d_.conn->Online;
  // A refused sign-in ends the synchronisation without a reload.
  if (synced == 1 && d_.load_visible_items) d_.load_visible_items();
  if (d_.repaint) d_.repaint();
}

void GroupCommands::ChooseReferenceUsers() {
  ReferenceUsersDeps deps;
  deps.get_user_list = [&](std::vector<UserEntry>& out) {
    // The user asked: the pause after a failed connection does not apply.
    if (d_.conn->Online == 0) d_.conn->LastConnectFailure = ConnectionState{}.LastConnectFailure;
    bool ok = false;
    d_.run([&] {
      SyncClient client(*d_.conn, d_.notifier);
      ok = client.GetUserList(out, Fetch::Interactive);
    });
    d_.state->Online = d_.conn->Online;
    return ok;
  };
  deps.choose = [&](ReferenceChoice& choice) {
    UserSelDlg dlg(choice, d_.parent);
    if (dlg.exec() != QDialog::Accepted) return false;
    choice = dlg.choice();
    return true;
  };
  RunReferenceUsersCommand(*d_.state, *d_.store, d_.conn->UserName, deps, *d_.messages);
  if (d_.repaint) d_.repaint();
}

}  // namespace kv::ui
