#pragma once
// The main window: menus, tool bar, status bar, the calendar view, the
// one-minute timer and the routing of every command. It owns the shared
// state of the run: the view state and the user's store.
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/FrameHost.h"
#include "store/ItemStore.h"
#include "view/Layouts.h"
#include "view/Navigation.h"
#include "view/ViewState.h"

class QAction;
class QLabel;
class QToolBar;

namespace kv::app {

class CCalenderDoc;
class CCalenderView;
class MoveDateDlg;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(CCalenderDoc* doc, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Start-up before the window shows: the program folder, today, the
  // logon name, the store (opened for reading, or created) and the
  // settings. False when the store cannot be used: the message has been
  // shown and exitCode() tells the status to end with.
  bool openUserStore(const std::string& program_path);
  // After the window shows: the first synchronisation (on a worker, with a
  // wait cursor), drawing switched on, the timers started; once the first
  // frame is up (at once when the window is not shown), the store's check,
  // the purge and the first tick.
  void finishStartup();
  bool started() const { return started_; }
  int exitCode() const { return exit_code_; }

  // The routing point of each command: menus, tool bar and accelerators
  // all end here. Replacing a handler rewires every way to the command.
  void setCommandHandler(Command id, std::function<void()> handler);
  void runCommand(Command id);
  QAction* action(Command id) const;

  // What a double-click in the view starts (add, edit, open an item).
  void setItemOperations(ItemOperations* ops);
  void setOtherUsersLayout(OtherUsersLayout* layout);

  // Turns the settings row's Password column into the password to sign in
  // with (it may live elsewhere); start-up calls it once the store is open
  // when a server is set, else the first time the password is wanted.
  // Nothing when it cannot be read now: then no sign-in is tried, the user
  // is told once, and each minute tick reads again.
  void setPasswordSource(
      std::function<std::optional<std::string>(const std::string& column)> source) {
    password_source_ = std::move(source);
  }
  // Reads the password now if start-up left it (no server was set).
  void readPasswordIfPutOff();

  // Called once a minute by timer 1, never before start-up has finished,
  // never during a server call and never while the previous call has not
  // returned; a tick that falls due meanwhile comes right after.
  void setMinuteTick(std::function<void()> tick) { minute_tick_ = std::move(tick); }
  QTimer& minuteTimer() { return minute_timer_; }
  // The timer's handler (public for tests).
  void onMinuteTimer();

  // The periodic synchronisation: every Sync/IntervalMinutes minutes of
  // the settings (default 5, 0 = off) while a server is set. A request
  // running, a tick or an open dialog puts it off until they are over.
  QTimer& syncTimer() { return sync_timer_; }
  void onSyncTimer();
  // 最新の情報に更新: at once, without the pause after a failed connection.
  void refreshNow();
  // An own change did not reach the server: said once in the message pane.
  void noteUnsentChange();
  // The tool tip of the Online/Offline pane: what waits, and the last
  // synchronisation that reached the server.
  void updateSyncStatus();
  const DateTime& lastSuccessfulSync() const { return last_sync_ok_; }

  // The shared state of the run.
  ViewState& state() { return state_; }
  ItemStore& store() { return store_; }
  FrameHost& host() { return host_; }
  ViewCommands& viewCommands() { return commands_; }
  CCalenderView* view() const { return view_; }
  CCalenderDoc* document() const { return doc_; }
  const std::string& programFolder() const { return program_folder_; }
  const std::string& storePath() const { return store_path_; }
  // LoadVisibleItems over the store; GUI thread.
  int reload();

  // "This is not available yet": the default of commands still to come.
  void notAvailableYet();

  // Used by FrameHost.
  void showMessage(const QString& text);
  void setPaneText(int pane, const QString& text);
  QString paneText(int pane) const;

 protected:
  void closeEvent(QCloseEvent* e) override;
  // Fresh figures each time the status pane's tool tip is about to show.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildMenusAndBars();
  void DefaultHandlers();
  void RestoreSettings();
  void SaveSettings();
  // 祝日を表示: the state the layouts read and the menu's check.
  void ShowHolidays(bool on);
  void MoveDate();
  void ShowHelp();
  void ShowAbout();
  void AfterServerCall();
  void RunTick();
  // A synchronisation on a worker, then a reload and, in the other users'
  // week, a fresh fetch of their items.
  void Synchronize();
  bool HasServer() const;
  bool Busy() const;
  // The store's check and the purge after the first frame, then the first tick.
  void afterFirstFrame();
  // The store checked, and its tombstones purged, once; false (the user
  // told, the program ending) when the file failed its check.
  bool finishStoreOpening();
  // The password read again once it could not be; true when it now is.
  bool ReadPasswordAgain();

  CCalenderDoc* doc_;
  ViewState state_;
  ItemStore store_;
  FrameHost host_;
  ViewCommands commands_;
  std::unique_ptr<ItemOperations> not_yet_ops_;
  CCalenderView* view_ = nullptr;
  MoveDateDlg* move_dlg_ = nullptr;
  QToolBar* tool_bar_ = nullptr;
  QLabel* panes_[2] = {nullptr, nullptr};
  std::map<Command, QAction*> actions_;
  std::map<Command, std::function<void()>> handlers_;

  QTimer minute_timer_;
  QTimer sync_timer_;
  bool sync_pending_ = false;
  bool syncing_ = false;
  bool unsent_told_ = false;
  int online_seen_ = 0;
  DateTime last_sync_ok_ = DateTime::Invalid();
  std::function<void()> minute_tick_;
  std::function<std::optional<std::string>(const std::string&)> password_source_;
  std::string password_column_;
  bool password_put_off_ = false;
  bool ticking_ = false;
  bool tick_pending_ = false;
  bool close_pending_ = false;
  bool started_ = false;
  bool store_ready_ = false;
  bool first_frame_done_ = false;
  int exit_code_ = 0;
  int idle_hook_ = 0;

  std::string program_folder_;
  std::string store_path_;
};

}  // namespace kv::app
