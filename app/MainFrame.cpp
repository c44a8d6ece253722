#include "app/MainFrame.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <cerrno>
#include <algorithm>
#include <cstring>

#include "app/CalenderDoc.h"
#include "app/CalenderView.h"
#include "app/Icons.h"
#include "app/ServerCall.h"
#include "app/shell/ProcessStarter.h"
#include "app/Startup.h"
#include "app/dialogs/MoveDateDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "model/Clock.h"
#include "model/Text.h"
#include "sync/SyncClient.h"
#include "sync/WireRecord.h"
#include "view/StoreLoad.h"

#ifndef KALVANE_VERSION
#define KALVANE_VERSION "0"
#endif

namespace kv::app {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }
QString U(const std::string& utf8) { return QString::fromStdString(utf8); }

// Double-clicks land here until the item commands are wired in.
class NotYetOps final : public ItemOperations {
 public:
  explicit NotYetOps(CMainFrame& f) : f_(f) {}
  void EditOwnItem(int) override { f_.notAvailableYet(); }
  void AddOwnItem(const DateTime&) override { f_.notAvailableYet(); }
  void OpenReferenceItem(int) override { f_.notAvailableYet(); }
  void AddItemForUser(const std::string&) override { f_.notAvailableYet(); }

 private:
  CMainFrame& f_;
};

// "印刷(&P)..." -> "印刷": for tool tips.
QString PlainText(const char* menu_text) {
  QString t = U(menu_text);
  for (qsizetype at = 0; (at = t.indexOf(QStringLiteral("(&"), at)) >= 0;) {
    if (at + 3 < t.size() && t[at + 3] == u')')
      t.remove(at, 4);
    else
      at += 2;
  }
  t.remove(QStringLiteral("..."));
  return t.trimmed();
}

const char* StatusTip(Command id) {
  switch (id) {
    case Command::Print: return "表示中の予定表を印刷します";
    case Command::PrintPreview: return "印刷されるページを画面で確かめます";
    case Command::PrintSetup: return "用紙と向きを選びます";
    case Command::Exit: return "Kalvane を終了します";
    case Command::Import: return "iCalendar ファイルの予定を取り込みます";
    case Command::Export: return "予定を iCalendar ファイルに書き出します";
    case Command::Undo: return "自分の予定への直前の変更を取り消します";
    case Command::Add: return "選択した日に予定を追加します";
    case Command::Edit: return "選択した予定を編集します";
    case Command::Delete: return "選択した予定を削除します";
    case Command::Cut: return "選択した予定を切り取ります";
    case Command::Copy: return "選択した予定をコピーします";
    case Command::Paste: return "コピーした予定を選択した日に貼り付けます";
    case Command::Search: return "件名・場所・内容から予定を探します";
    case Command::MoveDate: return "指定した日へ移動します";
    case Command::Today: return "今日へ移動します";
    case Command::Previous: return "前の月・週・日を表示します";
    case Command::Next: return "次の月・週・日を表示します";
    case Command::DayUnit: return "一日の予定を表示します";
    case Command::WeekUnit: return "一週間の予定を表示します";
    case Command::MonthUnit: return "一か月の予定を表示します";
    case Command::OtherUsers: return "参照ユーザの週の予定を表示します";
    case Command::Refresh: return "サーバーとすぐに同期します";
    case Command::ToolBar: return "ツール バーの表示を切り替えます";
    case Command::StatusBar: return "ステータス バーの表示を切り替えます";
    case Command::Holidays: return "祝日と土曜・日曜の色分け、祝日名の表示を切り替えます";
    case Command::ServerSettings: return "予定サーバーへの接続を設定します";
    case Command::ReferenceUsers: return "予定を参照するユーザを選びます";
    case Command::Help: return "ヘルプを表示します";
    case Command::About: return "バージョン情報を表示します";
  }
  return "";
}

constexpr int kMinuteMs = 60000;
// How long start-up waits for the first frame before checking the store
// and starting the timers anyway.
constexpr int kFirstFrameWaitMs = 3000;

// Minutes between two synchronisations: the settings' Sync/IntervalMinutes,
// 0 for none; anything unreadable or negative is the default.
int SyncIntervalMinutes() {
  QSettings s;
  bool ok = false;
  const int m = s.value(QStringLiteral("Sync/IntervalMinutes"), 5).toInt(&ok);
  if (!ok || m < 0) return 5;
  return std::min(m, 24 * 60);
}

// Shows or hides a bar of the frame; its menu entry's check follows.
void ShowBar(QMainWindow* frame, QWidget* bar, QAction* entry, bool shown) {
  bar->setVisible(shown);
  entry->setChecked(bar->isVisibleTo(frame));
}

}  // namespace

CMainFrame::CMainFrame(CCalenderDoc* doc, QWidget* parent)
    : QMainWindow(parent),
      doc_(doc),
      host_(*this),
      commands_(state_, host_, [this] { return reload(); }),
      not_yet_ops_(std::make_unique<NotYetOps>(*this)) {
  setWindowTitle(QStringLiteral("Kalvane"));
  // The application's icon when it has one: the images are drawn once.
  setWindowIcon(QGuiApplication::windowIcon().isNull() ? ApplicationIcon()
                                                       : QGuiApplication::windowIcon());
  view_ = new CCalenderView(state_, host_, this);
  view_->setItemOperations(not_yet_ops_.get());
  view_->setViewCommands(&commands_);
  setCentralWidget(view_);
  move_dlg_ = new MoveDateDlg(this);
  BuildMenusAndBars();
  DefaultHandlers();
  RestoreSettings();
  view_->setFocus();

  minute_timer_.setInterval(kMinuteMs);
  connect(&minute_timer_, &QTimer::timeout, this, &CMainFrame::onMinuteTimer);
  connect(&sync_timer_, &QTimer::timeout, this, &CMainFrame::onSyncTimer);
  idle_hook_ = ServerCall::AddIdleHook([this] { AfterServerCall(); });
  ServerCall::SetStartFailureReporter([this] {
    showMessage(QStringLiteral("サーバーとの通信を始められませんでした（作業用のスレッドを作れません）。"));
  });
}

CMainFrame::~CMainFrame() {
  ServerCall::RemoveIdleHook(idle_hook_);
  ServerCall::SetStartFailureReporter(nullptr);
  minute_timer_.stop();
  sync_timer_.stop();
  store_.CloseStore();
  state_.VisibleItems.clear();
  state_.AlarmCandidates.clear();
}

void CMainFrame::BuildMenusAndBars() {
  int menu_count = 0;
  const MenuInfo* menus = Menus(menu_count);
  for (int m = 0; m < menu_count; ++m) {
    QMenu* menu = menuBar()->addMenu(U(menus[m].title));
    for (int i = 0; i < menus[m].count; ++i) {
      const CommandInfo& c = menus[m].items[i];
      if (!c.text) {
        menu->addSeparator();
        continue;
      }
      auto* a = new QAction(U(c.text), this);
      a->setObjectName(QStringLiteral("cmd%1").arg(static_cast<int>(c.id)));
      if (c.shortcut[0]) a->setShortcut(QKeySequence(QString::fromLatin1(c.shortcut)));
      a->setIcon(ToolIcon(c.id));
      a->setIconVisibleInMenu(false);
      a->setToolTip(PlainText(c.text));
      a->setStatusTip(U(StatusTip(c.id)));
      const Command id = c.id;
      connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
      menu->addAction(a);
      actions_[id] = a;
    }
  }
  actions_[Command::ToolBar]->setCheckable(true);
  actions_[Command::StatusBar]->setCheckable(true);
  actions_[Command::Holidays]->setCheckable(true);

  tool_bar_ = new QToolBar(PlainText(CommandText(Command::ToolBar)), this);
  tool_bar_->setObjectName(QStringLiteral("ToolBar"));
  tool_bar_->setIconSize(QSize(kToolIconWidth, kToolIconHeight));
  int buttons = 0;
  const Command* order = ToolBarButtons(buttons);
  for (int i = 0; i < buttons; ++i) {
    if (order[i] == Command{0})
      tool_bar_->addSeparator();
    else
      tool_bar_->addAction(actions_.at(order[i]));
  }
  addToolBar(Qt::TopToolBarArea, tool_bar_);
  connect(tool_bar_, &QToolBar::visibilityChanged, this,
          [this](bool) { actions_[Command::ToolBar]->setChecked(tool_bar_->isVisibleTo(this)); });

  panes_[0] = new QLabel(this);
  panes_[1] = new QLabel(QStringLiteral("Offline"), this);
  panes_[1]->setAlignment(Qt::AlignCenter);
  // Pane 0 shows the clicked item's subject: text, never markup.
  for (QLabel* pane : panes_) pane->setTextFormat(Qt::PlainText);
  panes_[1]->installEventFilter(this);
  panes_[1]->setMinimumWidth(panes_[1]->fontMetrics().horizontalAdvance(QStringLiteral("Offline")) + 16);
  statusBar()->addWidget(panes_[0], 1);
  statusBar()->addPermanentWidget(panes_[1]);
}

void CMainFrame::DefaultHandlers() {
  for (Command id : {Command::Import, Command::Export, Command::Undo, Command::Search, Command::Add, Command::Edit, Command::Delete, Command::Cut, Command::Copy,
                     Command::Paste, Command::OtherUsers, Command::ServerSettings,
                     Command::ReferenceUsers})
    handlers_[id] = [this] { notAvailableYet(); };
  handlers_[Command::Print] = [this] { view_->print(); };
  handlers_[Command::PrintPreview] = [this] { view_->printPreview(); };
  handlers_[Command::PrintSetup] = [this] { view_->printSetup(); };
  handlers_[Command::Exit] = [this] { close(); };
  handlers_[Command::MoveDate] = [this] { MoveDate(); };
  handlers_[Command::Today] = [this] { commands_.Today(); };
  handlers_[Command::Previous] = [this] { commands_.Previous(); };
  handlers_[Command::Next] = [this] { commands_.Next(); };
  handlers_[Command::DayUnit] = [this] { commands_.DayUnit(); };
  handlers_[Command::WeekUnit] = [this] { commands_.WeekUnit(); };
  handlers_[Command::MonthUnit] = [this] { commands_.MonthUnit(); };
  handlers_[Command::ToolBar] = [this] {
    ShowBar(this, tool_bar_, actions_[Command::ToolBar], !tool_bar_->isVisibleTo(this));
  };
  handlers_[Command::StatusBar] = [this] {
    ShowBar(this, statusBar(), actions_[Command::StatusBar], !statusBar()->isVisibleTo(this));
  };
  handlers_[Command::Holidays] = [this] { ShowHolidays(!state_.ShowHolidays); };
  handlers_[Command::Help] = [this] { ShowHelp(); };
  handlers_[Command::Refresh] = [this] { refreshNow(); };
  handlers_[Command::About] = [this] { ShowAbout(); };
}

void CMainFrame::setCommandHandler(Command id, std::function<void()> handler) {
  handlers_[id] = std::move(handler);
}

void CMainFrame::runCommand(Command id) {
  auto it = handlers_.find(id);
  if (it != handlers_.end() && it->second) it->second();
}

QAction* CMainFrame::action(Command id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::setItemOperations(ItemOperations* ops) {
  view_->setItemOperations(ops ? ops : not_yet_ops_.get());
}

void CMainFrame::setOtherUsersLayout(OtherUsersLayout* layout) {
  view_->setOtherUsersLayout(layout);
}

void CMainFrame::notAvailableYet() {
  showMessage(QStringLiteral("この機能はまだ使えません。"));
}

void CMainFrame::showMessage(const QString& text) {
  ui::MessageBox::warning(this, text);
}

void CMainFrame::setPaneText(int pane, const QString& text) {
  if (pane == 0 || pane == 1) panes_[pane]->setText(text);
}

QString CMainFrame::paneText(int pane) const {
  return (pane == 0 || pane == 1) ? panes_[pane]->text() : QString();
}

int CMainFrame::reload() { return LoadVisibleItems(state_, store_); }

// ---- start-up ----

bool CMainFrame::openUserStore(const std::string& program_path) {
  program_folder_ = ProgramFolderOf(program_path);
  state_ = ViewState::Initial();
  state_.ShowHolidays = actions_[Command::Holidays]->isChecked();
  ConnectionState& conn = GlobalConnection();
  conn.Online = 0;
  conn.LastConnectFailure = DateTime::FromParts(2000, 8, 15);
  conn.ClockOffset = DateSpan();

  const std::string logon = LogonName();
  conn.UserName = text::FromUtf8(logon).value_or("Default");
  store_path_ = BuildStorePath(DataHome(), logon);

  const StoreOpen opened = OpenOrCreateStore(store_, store_path_);
  if (opened != StoreOpen::Opened && opened != StoreOpen::Created) {
    ui::MessageBox::critical(nullptr, U(StoreFailureMessage(opened, store_path_)));
    exit_code_ = opened == StoreOpen::Locked ? kExitStoreLocked : kExitStoreFailed;
    return false;
  }

  std::string user, server, password;
  int32_t port = 0;
  DateTime last_update;
  password_put_off_ = false;
  if (store_.ReadSettings(user, server, port, password, last_update)) {
    conn.UserName = user;
    conn.ServerName = server;
    conn.ServerPort = port;
    password_column_ = password;
    // Without a server nobody signs in: the desktop's secret service (a
    // session bus, perhaps an unlock prompt) waits until someone asks.
    conn.Password.clear();
    conn.PasswordUnreadable = false;
    password_put_off_ = true;
    if (port != 0 && !server.empty()) readPasswordIfPutOff();
  }
  return true;
}

void CMainFrame::readPasswordIfPutOff() {
  if (!password_put_off_) return;
  password_put_off_ = false;
  ConnectionState& conn = GlobalConnection();
  const std::optional<std::string> pw = password_source_
                                            ? password_source_(password_column_)
                                            : std::optional<std::string>(password_column_);
  conn.Password = pw.value_or(std::string());
  conn.PasswordUnreadable = !pw.has_value();
}

bool CMainFrame::finishStoreOpening() {
  if (store_ready_) return true;
  if (store_.FinishOpening()) {
    store_ready_ = true;
    // Tombstones left in the loaded lists are neither drawn nor hit; the
    // next load leaves them out.
    store_.PurgeDeletedItems(60);
    return true;
  }
  // Nothing more from this file: it stays as it was found.
  state_.DrawEnabled = 0;
  state_.VisibleItems.clear();
  state_.AlarmCandidates.clear();
  state_.OwnSelection = -1;
  minute_timer_.stop();
  sync_timer_.stop();
  started_ = false;
  hide();
  ui::MessageBox::critical(nullptr, U(StoreFailureMessage(StoreOpen::OpenFailed, store_path_)));
  exit_code_ = kExitStoreFailed;
  QCoreApplication::exit(exit_code_);
  return false;
}

void CMainFrame::finishStartup() {
  const ConnectionState& conn = GlobalConnection();
  const bool has_server = conn.ServerPort != 0 && !conn.ServerName.empty();
  if (has_server && conn.PasswordUnreadable)
    showMessage(QStringLiteral(
        "パスワードを保管サービスから読み出せませんでした。読み出せるようになるまでサーバーには接続しません。\n"
        "すぐに接続するには、ツール → サーバー設定でパスワードを入力し直してください。"));
  const bool syncing = has_server && !conn.PasswordUnreadable;
  // A synchronisation writes to the store: its check comes first then.
  if (syncing && !finishStoreOpening()) return;
  if (syncing) setPaneText(0, QStringLiteral("サーバーと同期しています..."));
  // Offline it only loads the items.
  Synchronize();
  if (syncing) setPaneText(0, QString());
  state_.DrawEnabled = 1;
  view_->invalidateLayout();
  started_ = true;
  minute_timer_.start();
  const int minutes = SyncIntervalMinutes();
  if (minutes > 0) {
    sync_timer_.setInterval(minutes * kMinuteMs);
    sync_timer_.start();
  }
  if (store_ready_ || !isVisible()) {
    afterFirstFrame();
    return;
  }
  // Queued: the check (and a message about a failed one) comes after the
  // paint has returned, never inside it.
  connect(view_, &CCalenderView::framePainted, this, &CMainFrame::afterFirstFrame,
          static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
  // A window that is never painted (started minimised) still gets there.
  QTimer::singleShot(kFirstFrameWaitMs, this, &CMainFrame::afterFirstFrame);
}

void CMainFrame::afterFirstFrame() {
  if (first_frame_done_) return;
  first_frame_done_ = true;
  if (!finishStoreOpening()) return;
  // Alarms that came due while the calendar was closed ring now, not a
  // minute later.
  QTimer::singleShot(0, this, &CMainFrame::onMinuteTimer);
}

// ---- timer and server calls ----


void CMainFrame::onMinuteTimer() {
  if (!started_) return;
  if (ServerCall::Running() || ticking_) {
    tick_pending_ = true;
    return;
  }
  RunTick();
  // A synchronisation put off by the tick or a dialog now that both are over.
  if (sync_pending_ && !Busy()) QTimer::singleShot(0, this, &CMainFrame::onSyncTimer);
}

bool CMainFrame::HasServer() const {
  const ConnectionState& conn = GlobalConnection();
  return conn.ServerPort != 0 && !conn.ServerName.empty();
}

bool CMainFrame::Busy() const {
  return ServerCall::Running() || ticking_ || syncing_ || QApplication::activeModalWidget();
}

void CMainFrame::Synchronize() {
  syncing_ = true;
  const int synced = ServerCall::Run([this] {
    SyncClient client(GlobalConnection(), &host_);
    return client.Synchronize(store_, [this] { ServerCall::OnGuiThread([this] { reload(); }); });
  });
  syncing_ = false;
  const ConnectionState& conn = GlobalConnection();
  state_.Online = conn.Online;
  online_seen_ = conn.Online;
  if (synced == 1 && conn.Online == 1) last_sync_ok_ = Now();
  // A colleague's change to the others' items shows with each one, too.
  if (state_.ViewMode == OtherUsersMode) state_.RefreshReferences = 1;
  updateSyncStatus();
}

void CMainFrame::onSyncTimer() {
  if (!started_ || !HasServer()) return;
  if (Busy()) {
    sync_pending_ = true;
    return;
  }
  sync_pending_ = false;
  Synchronize();
  host_.RequestRepaint(true);
}

void CMainFrame::refreshNow() {
  if (!started_) return;
  if (!HasServer()) {
    showMessage(QStringLiteral("サーバーが設定されていません。ツール → サーバー設定で設定してください。"));
    return;
  }
  if (Busy()) {
    sync_pending_ = true;
    return;
  }
  // The user asked: the pause after a failed connection does not apply.
  ConnectionState& conn = GlobalConnection();
  if (conn.Online == 0) conn.LastConnectFailure = ConnectionState{}.LastConnectFailure;
  sync_pending_ = false;
  setPaneText(0, QStringLiteral("サーバーと同期しています..."));
  Synchronize();
  setPaneText(0, QString());
  host_.RequestRepaint(true);
}

void CMainFrame::noteUnsentChange() {
  if (unsent_told_) return;
  unsent_told_ = true;
  setPaneText(0, QStringLiteral("サーバーに送信できませんでした。接続が戻り次第送信します。"));
}

void CMainFrame::updateSyncStatus() {
  // The store belongs to the worker while a request runs.
  if (ServerCall::Running() || !store_.IsOpen()) return;
  const int64_t unsent = store_.CountUnsent();
  if (unsent == 0) unsent_told_ = false;
  QString tip = unsent < 0 ? QStringLiteral("送信待ちの変更: 不明")
                           : QStringLiteral("送信待ちの変更: %1 件").arg(unsent);
  tip += QStringLiteral("\n最後の同期: ");
  tip += last_sync_ok_.IsValid()
             ? QString::fromStdString(FormatWireDate(last_sync_ok_))
             : QStringLiteral("まだありません");
  panes_[1]->setToolTip(tip);
}

bool CMainFrame::ReadPasswordAgain() {
  ConnectionState& conn = GlobalConnection();
  // Without a server nobody signs in: the service is not asked every minute.
  if (!HasServer() || !conn.PasswordUnreadable || !password_source_) return false;
  const std::optional<std::string> pw = password_source_(password_column_);
  if (!pw) return false;
  conn.Password = *pw;
  conn.PasswordUnreadable = false;
  return true;
}

void CMainFrame::RunTick() {
  tick_pending_ = false;
  ticking_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{ticking_};
  // What waited for the password goes up as soon as it can be read.
  if (ReadPasswordAgain()) {
    Synchronize();
    view_->invalidateLayout();
  }
  if (minute_tick_) minute_tick_();
  if (tick_pending_ && !ServerCall::Running())
    QTimer::singleShot(0, this, &CMainFrame::onMinuteTimer);
}

void CMainFrame::AfterServerCall() {
  state_.Online = GlobalConnection().Online;
  // The server answers again: what waited goes up now, not at the next
  // synchronisation.
  const bool back = online_seen_ == 0 && state_.Online == 1 && !syncing_;
  online_seen_ = state_.Online;
  if ((back || sync_pending_) && started_ && HasServer())
    QTimer::singleShot(0, this, [this] {
      sync_pending_ = true;
      onSyncTimer();
    });
  updateSyncStatus();
  if (tick_pending_ && !ticking_) QTimer::singleShot(0, this, &CMainFrame::onMinuteTimer);
  if (close_pending_) {
    close_pending_ = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* e) {
  if (watched == panes_[1] && e->type() == QEvent::ToolTip) updateSyncStatus();
  return QMainWindow::eventFilter(watched, e);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  if (ServerCall::Running()) {
    // The worker still uses the store; the window closes once it is done.
    close_pending_ = true;
    e->ignore();
    return;
  }
  SaveSettings();
  e->accept();
}

// ---- settings ----

void CMainFrame::RestoreSettings() {
  QSettings s;
  s.beginGroup(QStringLiteral("MainFrame"));
  if (!restoreGeometry(s.value(QStringLiteral("Geometry")).toByteArray())) resize(1024, 720);
  restoreState(s.value(QStringLiteral("State")).toByteArray());
  ShowBar(this, tool_bar_, actions_[Command::ToolBar], s.value(QStringLiteral("ToolBar"), true).toBool());
  ShowBar(this, statusBar(), actions_[Command::StatusBar], s.value(QStringLiteral("StatusBar"), true).toBool());
  s.endGroup();
  ShowHolidays(s.value(QStringLiteral("View/Holidays"), true).toBool());
}

void CMainFrame::SaveSettings() {
  QSettings s;
  s.beginGroup(QStringLiteral("MainFrame"));
  s.setValue(QStringLiteral("Geometry"), saveGeometry());
  s.setValue(QStringLiteral("State"), saveState());
  s.setValue(QStringLiteral("ToolBar"), tool_bar_->isVisibleTo(this));
  s.setValue(QStringLiteral("StatusBar"), statusBar()->isVisibleTo(this));
  s.endGroup();
  s.setValue(QStringLiteral("View/Holidays"), state_.ShowHolidays);
}

void CMainFrame::ShowHolidays(bool on) {
  state_.ShowHolidays = on;
  actions_[Command::Holidays]->setChecked(on);
  view_->invalidateLayout();
}

// ---- commands of this window ----

void CMainFrame::MoveDate() {
  move_dlg_->setDate(state_.SelectedDate);
  if (move_dlg_->exec() == QDialog::Accepted) commands_.MoveTo(move_dlg_->date());
}

void CMainFrame::ShowHelp() {
  const std::string page = program_folder_ + "/QvxHelp.html";
  if (::access(page.c_str(), R_OK) != 0) {
    showMessage(QStringLiteral("ヘルプページが見つかりません。\n") + QString::fromStdString(page));
    return;
  }
  QPointer<CMainFrame> self(this);
  const int rc = shell::PosixProcessStarter().OpenDocument(page, [self](int status) {
    if (status == 0) return;
    // On the reaping thread: the message goes to the window's thread.
    QMetaObject::invokeMethod(qApp, [self, status] {
      if (self)
        self->showMessage(
            QStringLiteral("ヘルプページを開けませんでした。(xdg-open の終了コード %1)").arg(status));
    });
  });
  if (rc == ENOENT)
    showMessage(QStringLiteral("ヘルプを開くプログラム xdg-open が見つかりません。"));
  else if (rc != 0)
    showMessage(QStringLiteral("ヘルプを開けませんでした。(%1)").arg(QString::fromLocal8Bit(std::strerror(rc))));
}

void CMainFrame::ShowAbout() {
  ui::MessageBox::information(
      this, QStringLiteral("Kalvane バージョン %1\n個人とグループのスケジュール帳")
                .arg(QStringLiteral(KALVANE_VERSION)));
}

}  // namespace kv::app
