#include "app/group/GroupWiring.h"

#include <QObject>
#include <memory>

#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/ServerCall.h"
#include "app/group/GroupCommands.h"
#include "app/group/KeychainSecretStore.h"
#include "app/group/OtherUsersRefresh.h"
#include "app/group/SyncReferenceSource.h"

namespace kv::app {

namespace {

// Everything the group side keeps for the run; owned by the frame.
class GroupSide final : public QObject {
 public:
  explicit GroupSide(CMainFrame& f)
      : QObject(&f),
        frame_(f),
        secrets_(ui::MakeDesktopSecretStore()),
        source_(GlobalConnection(), &f.host()),
        refresh_(f.state(), RefreshDeps()) {
    idle_hook_ = ServerCall::AddIdleHook([this] {
      if (!pending_) return;
      pending_ = false;
      refresh_.RequestRepaint();
    });
  }
  ~GroupSide() override { ServerCall::RemoveIdleHook(idle_hook_); }

  // The key is the store's path, known once start-up has built it.
  PasswordKeeper& Keeper() {
    if (!keeper_) keeper_ = std::make_unique<PasswordKeeper>(secrets_.get(), frame_.storePath());
    return *keeper_;
  }

  void RequestRepaint() {
    // A fetch cannot start inside another server call (it would wait for
    // that call, which waits for this thread): it follows once it is over.
    if (ServerCall::Running()) {
      pending_ = true;
      frame_.view()->invalidateLayout();
      return;
    }
    refresh_.RequestRepaint();
  }

  ui::GroupCommands Commands() {
    ui::GroupCommands::Deps d;
    d.parent = &frame_;
    d.state = &frame_.state();
    d.store = &frame_.store();
    d.conn = &GlobalConnection();
    d.keeper = &Keeper();
    d.notifier = &frame_.host();
    d.messages = &frame_.host();
    d.store_path = frame_.storePath();
    d.run = [](const std::function<void()>& work) { ServerCall::RunVoid(work); };
    d.load_visible_items = [this] { frame_.reload(); };
    d.repaint = [this] { frame_.host().RequestRepaint(true); };
    return ui::GroupCommands(std::move(d));
  }

 private:
  OtherUsersRefresh::Deps RefreshDeps() {
    OtherUsersRefresh::Deps d;
    d.stored_users = [this] {
      std::vector<UserEntry> users;
      frame_.store().LoadUserList(users);
      return users;
    };
    d.user_name = [] { return GlobalConnection().UserName; };
    d.source = &source_;
    d.run = [](const std::function<void()>& work) { ServerCall::RunVoid(work); };
    d.repaint = [this] { frame_.view()->invalidateLayout(); };
    return d;
  }

  CMainFrame& frame_;
  std::unique_ptr<SecretStore> secrets_;
  std::unique_ptr<PasswordKeeper> keeper_;
  SyncReferenceSource source_;
  OtherUsersRefresh refresh_;
  bool pending_ = false;
  int idle_hook_ = 0;
};

}  // namespace

void WireGroupSide(CMainFrame& frame) {
  auto* side = new GroupSide(frame);
  frame.setPasswordSource(
      [side](const std::string& column) { return side->Keeper().Load(column); });
  frame.host().setRepaintRoute([side] { side->RequestRepaint(); });
  frame.setCommandHandler(Command::ServerSettings,
                          [side, &frame] {
                            frame.readPasswordIfPutOff();
                            side->Commands().EditServerSettings();
                          });
  frame.setCommandHandler(Command::ReferenceUsers,
                          [side] { side->Commands().ChooseReferenceUsers(); });
  frame.setCommandHandler(Command::OtherUsers, [&frame] { frame.viewCommands().OtherUsers(); });
}

}  // namespace kv::app
