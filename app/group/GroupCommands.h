#pragma once
// Commands 159 (サーバー設定) and 161 (参照ユーザ) of the main frame.
#include <functional>
#include <string>

#include "app/group/OtherUsersRefresh.h"
#include "app/group/PasswordKeeper.h"
#include "store/ItemStore.h"
#include "sync/Notifier.h"
#include "sync/SyncClient.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

class QWidget;

namespace kv::ui {

class GroupCommands {
 public:
  struct Deps {
    QWidget* parent = nullptr;
    ViewState* state = nullptr;
    ItemStore* store = nullptr;
    ConnectionState* conn = nullptr;
    PasswordKeeper* keeper = nullptr;
    UserNotifier* notifier = nullptr;  // what SyncClient shows
    MessageSink* messages = nullptr;   // the commands' own messages
    std::string store_path;
    // Server work off the window thread (the store is the worker's while
    // it runs); see OtherUsersRefresh::Runner.
    OtherUsersRefresh::Runner run;
    // LoadVisibleItems over the store, on the window thread.
    std::function<void()> load_visible_items;
    // A repaint request of the main window.
    std::function<void()> repaint;
  };

  explicit GroupCommands(Deps deps) : d_(std::move(deps)) {}

  // The settings dialog; on OK the settings are saved and synchronised.
  void EditServerSettings();
  // The server's user list, the chooser, and the choice saved.
  void ChooseReferenceUsers();

 private:
  Deps d_;
};

}  // namespace kv::ui
