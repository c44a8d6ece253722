// The main window's commands: menus, accelerators and tool bar reach the
// routing point; the commands of this window do what they say.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QApplication>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <filesystem>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/Icons.h"
#include "app/MainFrame.h"
#include "app/QtSurface.h"
#include "app/ServerCall.h"
#include "app/dialogs/MoveDateDlg.h"
#include "app/ui/MessageBox.h"
#include "tests/app/DemoItems.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ModalScript.h"
#include "view/HitTest.h"
#include "view/Layouts.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;

struct Started {
  test::ScratchHome home;
  CCalenderApp app;
  CMainFrame* f = nullptr;
  Started() {
    EXPECT_TRUE(app.InitInstance(home.ProgramPath()));
    f = app.mainFrame();
    ui::MessageBox::takeShownTexts();
  }
};

struct MenuEntry {
  const char* text;  // nullptr: separator
  const char* shortcut;
};

// Written out here on purpose, not taken from the program's own table.
const std::vector<std::pair<const char*, std::vector<MenuEntry>>>& ExpectedMenus() {
  static const std::vector<std::pair<const char*, std::vector<MenuEntry>>> m = {
      {"ﾌｧｲﾙ(&F)",
       {{"インポート(&I)...", ""}, {"エクスポート(&E)...", ""}, {nullptr, ""},
        {"印刷(&P)...", "Ctrl+P"}, {"印刷ﾌﾟﾚﾋﾞｭｰ(&V)", ""}, {"ﾌﾟﾘﾝﾀの設定(&R)...", ""}, {nullptr, ""},
        {"ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", ""}}},
      {"編集(&E)",
       {{"元に戻す(&U)", "Ctrl+Z"}, {nullptr, ""}, {"追加", "Ins"}, {"編集", ""}, {"削除", "Del"}, {nullptr, ""}, {"切り取り(&T)", "Ctrl+X"},
        {"ｺﾋﾟｰ(&C)", "Ctrl+C"}, {"貼り付け(&P)", "Ctrl+V"}, {nullptr, ""}, {"検索(&F)...", "Ctrl+F"}}},
      {"表示(&V)",
       {{"移動", ""}, {"今日", "Home"}, {"前", "PgUp"}, {"次", "PgDown"}, {nullptr, ""}, {"日単位", ""},
        {"週単位", ""}, {"月単位", ""}, {"他ユーザ参照", ""}, {nullptr, ""}, {"最新の情報に更新", "F5"},
        {nullptr, ""}, {"ﾂｰﾙ ﾊﾞｰ(&T)", ""},
        {"ｽﾃｰﾀｽ ﾊﾞｰ(&S)", ""}, {nullptr, ""}, {"祝日を表示", ""}}},
      {"ツール", {{"サーバー設定", ""}, {"参照ユーザ", ""}}},
      {"ﾍﾙﾌﾟ(&H)", {{"Kalvane のヘルプ", ""}, {"Kalvane のﾊﾞｰｼﾞｮﾝ情報(&A)...", ""}}},
  };
  return m;
}

const Command kAll[] = {Command::Print,     Command::PrintPreview, Command::PrintSetup, Command::Exit,
                        Command::Add,       Command::Edit,         Command::Delete,     Command::Cut,
                        Command::Copy,      Command::Paste,        Command::MoveDate,   Command::Today,
                        Command::Previous,  Command::Next,         Command::DayUnit,    Command::WeekUnit,
                        Command::MonthUnit, Command::OtherUsers,   Command::ToolBar,    Command::StatusBar,
                        Command::ServerSettings, Command::ReferenceUsers, Command::Help, Command::About,
                        Command::Undo,      Command::Refresh,      Command::Search,
                        Command::Holidays,  Command::Import,       Command::Export};

TEST(MainFrame, MenusHoldEveryCommandInOrderWithItsTextAndKey) {
  Started s;
  const QList<QAction*> menus = s.f->menuBar()->actions();
  ASSERT_EQ(menus.size(), static_cast<qsizetype>(ExpectedMenus().size()));
  for (size_t m = 0; m < ExpectedMenus().size(); ++m) {
    const auto& [title, entries] = ExpectedMenus()[m];
    EXPECT_EQ(menus[m]->text(), QString::fromUtf8(title));
    const QList<QAction*> items = menus[m]->menu()->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(entries.size())) << title;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!entries[i].text) {
        EXPECT_TRUE(items[i]->isSeparator()) << title << " " << i;
        continue;
      }
      EXPECT_EQ(items[i]->text(), QString::fromUtf8(entries[i].text));
      EXPECT_EQ(items[i]->shortcut(), QKeySequence(QString::fromLatin1(entries[i].shortcut)))
          << entries[i].text;
    }
  }
}

TEST(MainFrame, MenuEntriesAcceleratorsAndToolButtonsReachTheirCommands) {
  Started s;
  std::vector<Command> got;
  for (Command id : kAll) s.f->setCommandHandler(id, [&got, id] { got.push_back(id); });

  for (Command id : kAll) {
    got.clear();
    ASSERT_NE(s.f->action(id), nullptr);
    s.f->action(id)->trigger();
    EXPECT_EQ(got, std::vector<Command>{id}) << static_cast<int>(id);
  }

  s.f->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(s.f));
  const struct { Qt::Key key; Qt::KeyboardModifiers mods; Command id; } keys[] = {
      {Qt::Key_P, Qt::ControlModifier, Command::Print},  {Qt::Key_Insert, {}, Command::Add},
      {Qt::Key_Delete, {}, Command::Delete},             {Qt::Key_X, Qt::ControlModifier, Command::Cut},
      {Qt::Key_C, Qt::ControlModifier, Command::Copy},   {Qt::Key_V, Qt::ControlModifier, Command::Paste},
      {Qt::Key_Home, {}, Command::Today},                {Qt::Key_PageUp, {}, Command::Previous},
      {Qt::Key_PageDown, {}, Command::Next},
  };
  for (const auto& k : keys) {
    got.clear();
    QTest::keyClick(s.f->view(), k.key, k.mods);
    EXPECT_EQ(got, std::vector<Command>{k.id}) << QKeySequence(k.key | k.mods).toString().toStdString();
  }

  // The tool bar: buttons and separators in order, each with its own icon.
  auto* bar = s.f->findChild<QToolBar*>(QStringLiteral("ToolBar"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->iconSize(), QSize(16, 15));
  const std::vector<Command> order = {
      Command::Cut,      Command::Copy,     Command::Paste,     Command{0},          Command::Print,
      Command{0},        Command::Add,      Command::Delete,    Command{0},          Command::Previous,
      Command::MoveDate, Command::Today,    Command::Next,      Command{0},          Command::DayUnit,
      Command::WeekUnit, Command::MonthUnit, Command::OtherUsers, Command{0},        Command::Help};
  const QList<QAction*> acts = bar->actions();
  ASSERT_EQ(acts.size(), static_cast<qsizetype>(order.size()));
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] == Command{0}) {
      EXPECT_TRUE(acts[i]->isSeparator()) << i;
      continue;
    }
    EXPECT_EQ(acts[i], s.f->action(order[i])) << i;
    EXPECT_FALSE(acts[i]->icon().isNull()) << i;
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(acts[i]));
    ASSERT_NE(button, nullptr);
    got.clear();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(got, std::vector<Command>{order[i]}) << i;
  }
}

TEST(MainFrame, ToolIconsFillTheirBoxAtEveryScale) {
  for (Command id : {Command::Cut, Command::Copy, Command::Paste, Command::Print, Command::Add,
                     Command::Delete, Command::Previous, Command::MoveDate, Command::Today, Command::Next,
                     Command::DayUnit, Command::WeekUnit, Command::MonthUnit, Command::OtherUsers,
                     Command::Help}) {
    auto inked = [](const QImage& img) {
      int n = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += qAlpha(img.pixel(x, y)) > 128;
      return n;
    };
    const QImage one = ToolImage(id, 1), two = ToolImage(id, 2), three = ToolImage(id, 3);
    EXPECT_EQ(one.size(), QSize(16, 15));
    EXPECT_EQ(two.size(), QSize(32, 30));
    EXPECT_EQ(three.size(), QSize(48, 45));
    const int a = inked(one), b = inked(two), c = inked(three);
    SCOPED_TRACE(static_cast<int>(id));
    EXPECT_GT(a, 12);
    // The same drawing at every scale: ink grows with the area.
    EXPECT_NEAR(b / 4.0, a, a * 0.4);
    EXPECT_NEAR(c / 9.0, a, a * 0.4);
  }
  EXPECT_FALSE(ApplicationIcon().isNull());
  EXPECT_EQ(ApplicationImage(48).size(), QSize(48, 48));
}

TEST(MainFrame, NavigationCommandsMoveTheCalendar) {
  Started s;
  ViewState& st = s.f->state();
  s.f->runCommand(Command::Next);
  EXPECT_EQ(st.AnchorDate, D(2005, 4, 9));
  s.f->runCommand(Command::Previous);
  s.f->runCommand(Command::Previous);
  EXPECT_EQ(st.AnchorDate, D(2005, 2, 9));
  s.f->runCommand(Command::Today);
  EXPECT_EQ(st.SelectedDate, D(2005, 3, 9));
  s.f->runCommand(Command::WeekUnit);
  EXPECT_EQ(st.ViewMode, WeekMode);
  s.f->runCommand(Command::DayUnit);
  EXPECT_EQ(st.ViewMode, DayMode);
  s.f->runCommand(Command::MonthUnit);
  EXPECT_EQ(st.ViewMode, MonthMode);
  EXPECT_TRUE(s.f->view()->layoutStale());
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
}

TEST(MainFrame, GroupAndEditCommandsAreWired) {
  Started s;
  // The group commands: offline, two of them say so; the settings
  // dialog opens.
  const QString offline = QStringLiteral("サーバーと接続されていません。");
  for (Command id : {Command::OtherUsers, Command::ReferenceUsers}) {
    s.f->runCommand(id);
    EXPECT_EQ(ui::MessageBox::takeShownTexts(), QStringList{offline}) << static_cast<int>(id);
  }
  QString title;
  test::ModalScript dialogs;
  dialogs.then<QDialog>([&](QDialog* dlg) {
    title = dlg->windowTitle();
    dlg->reject();
  });
  s.f->runCommand(Command::ServerSettings);
  EXPECT_EQ(title, QStringLiteral("サーバー設定"));
  // The item commands answer for themselves: with nothing selected they
  // say so, and paste with an empty clipboard does nothing.
  const QString nothing = QStringLiteral("何も選択されていません。");
  for (Command id : {Command::Edit, Command::Delete, Command::Cut, Command::Copy, Command::Paste}) {
    s.f->runCommand(id);
    const QStringList want = id == Command::Paste ? QStringList{} : QStringList{nothing};
    EXPECT_EQ(ui::MessageBox::takeShownTexts(), want) << static_cast<int>(id);
  }
  s.f->runCommand(Command::Undo);
  EXPECT_EQ(ui::MessageBox::takeShownTexts(), QStringList{QStringLiteral("元に戻せる操作はありません。")});
  EXPECT_EQ(s.f->state().ViewMode, MonthMode);
  s.f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(s.f));
  ASSERT_TRUE(test::LaidOutAgain(s.f->view(), 0));
  // A double-click on an empty day opens the edit dialog on that day.
  const CellRect cell = s.f->state().CellTable[10].rect;
  QDate shown;
  dialogs.then<QDialog>([&](QDialog* dlg) {
    auto* start = dlg->findChild<QDateTimeEdit*>(QStringLiteral("startDate"));
    ASSERT_NE(start, nullptr);
    shown = start->date();
    dlg->reject();
  });
  QTest::mouseDClick(s.f->view(), Qt::LeftButton, {}, QPoint(cell.left + 5, cell.bottom - 5));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  EXPECT_EQ(s.f->state().SelectedDate, s.f->state().CellTable[10].date);
  const DateTime day = s.f->state().CellTable[10].date;
  EXPECT_EQ(shown, QDate(day.Year(), day.Month(), day.Day()));
}

TEST(MainFrame, WhileDrawingIsOffTheLastFrameStaysAndNoLayoutRuns) {
  Started s;
  s.f->resize(800, 600);
  s.f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(s.f));
  ASSERT_TRUE(test::WaitForFrame(s.f->view()));
  const QImage shown = s.f->view()->frameImage();
  const int runs = s.f->view()->layoutRuns();
  s.f->state().DrawEnabled = 0;  // as while an item dialog is open
  s.f->runCommand(Command::WeekUnit);
  s.f->view()->repaint();
  s.f->resize(820, 610);
  // Every deferred resize, layout and update request is handled by now.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  s.f->view()->repaint();
  EXPECT_EQ(s.f->view()->layoutRuns(), runs);
  EXPECT_EQ(s.f->view()->frameImage(), shown);
  // The view's own pixels still show the month.
  const QImage on_screen = s.f->view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(on_screen.copy(0, 0, 200, 100), shown.copy(0, 0, 200, 100).convertToFormat(QImage::Format_RGB32));
  s.f->state().DrawEnabled = 1;
  s.f->view()->repaint();
  EXPECT_EQ(s.f->view()->layoutRuns(), runs + 1);
  EXPECT_NE(s.f->view()->frameImage(), shown);
}

class NoHost final : public ViewHost {
 public:
  void ShowMessage(const std::string&) override {}
  void RequestRepaint(bool) override {}
  void SetStatusText(int, const std::string&) override {}
};

// The view keeps its frame as drawing calls. The window, painted in parts
// as clicks ask, and the frame drawn again (a grab, the frame image) must
// give the pixels that drawing the layout and every click's feedback
// straight onto one image gives.
TEST(MainFrame, AFrameDrawnAgainFromItsCallsEqualsOneDrawnLive) {
  test::ScratchHome home;
  fs::create_directories(home.StoreFolder());
  ASSERT_TRUE(test::WriteStore(home.StorePath(), test::DemoItems(D(2005, 3, 9))));
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  f.resize(1000, 560);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  CCalenderView& v = *f.view();
  ASSERT_TRUE(test::WaitForFrame(&v));
  for (Command mode : {Command::MonthUnit, Command::WeekUnit}) {
    f.runCommand(mode);
    ASSERT_TRUE(test::WaitForFrame(&v));
    ViewState live = f.state();
    QImage drawn(v.size(), QImage::Format_RGB32);
    drawn.fill(v.palette().color(QPalette::Base));
    QPainter p(&drawn);
    QtSurface surface(p, false);
    NoHost host;
    PaintView(live, surface, Rect{0, 0, v.width(), v.height()}, host);
    // Day cells, then every item drawn: selections move, and the last
    // item stays inverted.
    std::vector<QPoint> at;
    for (int c : {3, 10, 4})
      at.emplace_back(live.CellTable[c].rect.left + 3, live.CellTable[c].rect.bottom - 3);
    for (const ViewItem& it : live.VisibleItems)
      for (const CellRect& r : it.CellRects)
        if (!r.IsEmpty()) at.emplace_back((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ASSERT_GE(at.size(), 6u);
    const int runs = v.layoutRuns();
    for (const QPoint& pt : at) {
      OnPress(live, surface, host, pt.x(), pt.y());
      QTest::mouseClick(&v, Qt::LeftButton, {}, pt);
    }
    p.end();
    // The window itself, painted in parts as each click asked.
    QCoreApplication::processEvents();
    const QPoint origin = v.mapTo(&f, QPoint(0, 0));
    const QImage window =
        f.screen()->grabWindow(f.winId(), origin.x(), origin.y(), v.width(), v.height()).toImage();
    EXPECT_EQ(v.layoutRuns(), runs);
    EXPECT_TRUE(window.convertToFormat(QImage::Format_RGB32) == drawn);
    EXPECT_TRUE(v.frameImage() == drawn);
    EXPECT_TRUE(v.grab().toImage().convertToFormat(QImage::Format_RGB32) == drawn);
  }
}

TEST(MainFrame, BarTogglesAndTheWindowAreRememberedInTheSettings) {
  test::ScratchHome home;
  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    auto* bar = f.findChild<QToolBar*>(QStringLiteral("ToolBar"));
    EXPECT_TRUE(f.action(Command::ToolBar)->isChecked());
    EXPECT_TRUE(f.action(Command::StatusBar)->isChecked());
    f.action(Command::ToolBar)->trigger();
    EXPECT_FALSE(bar->isVisibleTo(&f));
    EXPECT_FALSE(f.action(Command::ToolBar)->isChecked());
    f.runCommand(Command::StatusBar);
    EXPECT_FALSE(f.statusBar()->isVisibleTo(&f));
    EXPECT_FALSE(f.action(Command::StatusBar)->isChecked());
    f.resize(900, 650);
    f.action(Command::Exit)->trigger();
    EXPECT_FALSE(f.isVisible());
  }
  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    EXPECT_FALSE(f.findChild<QToolBar*>(QStringLiteral("ToolBar"))->isVisibleTo(&f));
    EXPECT_FALSE(f.statusBar()->isVisibleTo(&f));
    EXPECT_FALSE(f.action(Command::ToolBar)->isChecked());
    EXPECT_EQ(f.size(), QSize(900, 650));
    f.runCommand(Command::ToolBar);
    EXPECT_TRUE(f.findChild<QToolBar*>(QStringLiteral("ToolBar"))->isVisibleTo(&f));
    EXPECT_TRUE(f.action(Command::ToolBar)->isChecked());
  }
}

TEST(MainFrame, HolidaySwitchIsCheckedRedrawsAndIsKeptAcrossARestart) {
  test::ScratchHome home(D(2026, 5, 5, 10, 0, 0));
  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    QAction* entry = f.action(Command::Holidays);
    EXPECT_TRUE(entry->isCheckable());
    EXPECT_TRUE(entry->isChecked());
    EXPECT_TRUE(f.state().ShowHolidays);
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_TRUE(test::WaitForFrame(f.view()));
    const int runs = f.view()->layoutRuns();
    entry->trigger();
    EXPECT_FALSE(entry->isChecked());
    EXPECT_FALSE(f.state().ShowHolidays);
    EXPECT_TRUE(test::LaidOutAgain(f.view(), runs));
    f.action(Command::Exit)->trigger();
  }
  EXPECT_EQ(QSettings(QStringLiteral("Wexor"), QStringLiteral("Kalvane")).value(QStringLiteral("View/Holidays")),
            QVariant(false));
  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    EXPECT_FALSE(f.action(Command::Holidays)->isChecked());
    EXPECT_FALSE(f.state().ShowHolidays);
    f.runCommand(Command::Holidays);
    EXPECT_TRUE(f.action(Command::Holidays)->isChecked());
    EXPECT_TRUE(f.state().ShowHolidays);
    f.action(Command::Exit)->trigger();
  }
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  EXPECT_TRUE(app.mainFrame()->action(Command::Holidays)->isChecked());
  EXPECT_TRUE(app.mainFrame()->state().ShowHolidays);
}

// A week too narrow for the names: the header's tool tip and the status
// pane at a press on the day tell them.
TEST(MainFrame, ANarrowWeekTellsTheHolidayByToolTipAndStatusPane) {
  test::ScratchHome home(D(2026, 5, 7, 10, 0, 0));
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  f.runCommand(Command::WeekUnit);
  f.resize(520, 420);
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(test::WaitForFrame(f.view()));
  const ViewState& st = f.state();
  ASSERT_EQ(st.CellTable[2].date, D(2026, 5, 5));
  auto tip_at = [&](int column) {
    const CellRect& h = st.Headings[column].rect;
    const QPoint at((h.left + h.right) / 2, (h.top + h.bottom) / 2);
    QHelpEvent help(QEvent::ToolTip, at, f.view()->mapToGlobal(at));
    QApplication::sendEvent(f.view(), &help);
    return help.isAccepted();
  };
  EXPECT_TRUE(tip_at(2));
  EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::text() == QStringLiteral("こどもの日"); }, 30000));
  EXPECT_FALSE(tip_at(4));  // 7 May: no holiday

  const CellRect day = st.CellTable[2].rect;
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(day.left + 4, day.bottom - 4));
  EXPECT_EQ(st.SelectedDate, D(2026, 5, 5));
  EXPECT_EQ(f.paneText(0), QStringLiteral("こどもの日"));
  const CellRect thursday = st.CellTable[4].rect;
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(thursday.left + 4, thursday.bottom - 4));
  EXPECT_EQ(f.paneText(0), QString());
}

TEST(MainFrame, MoveDialogMovesToTheChosenDayOnlyOnOkAndFrom1970) {
  Started s;
  ViewState& st = s.f->state();
  test::ModalScript dialogs;
  auto choose = [&](QDate date, bool ok) {
    dialogs.then<MoveDateDlg>([&, date, ok](MoveDateDlg* dlg) {
      EXPECT_EQ(dlg->windowTitle(), QStringLiteral("移動"));
      EXPECT_EQ(dlg->dateEdit()->date(), QDate(st.SelectedDate.Year(), st.SelectedDate.Month(),
                                               st.SelectedDate.Day()));
      EXPECT_EQ(dlg->okButton()->text(), QStringLiteral("OK"));
      EXPECT_EQ(dlg->cancelButton()->text(), QStringLiteral("ｷｬﾝｾﾙ"));
      EXPECT_NE(dlg->findChild<QLabel*>(), nullptr);
      EXPECT_EQ(dlg->findChild<QLabel*>()->text(), QStringLiteral("移動日"));
      dlg->dateEdit()->setDate(date);
      QTest::mouseClick(ok ? dlg->okButton() : dlg->cancelButton(), Qt::LeftButton);
    });
    s.f->runCommand(Command::MoveDate);
  };
  choose(QDate(2007, 11, 23), true);
  EXPECT_EQ(st.SelectedDate, D(2007, 11, 23));
  EXPECT_EQ(st.AnchorDate, D(2007, 11, 23));
  choose(QDate(2001, 1, 1), false);
  EXPECT_EQ(st.SelectedDate, D(2007, 11, 23));
  choose(QDate(1969, 12, 31), true);
  EXPECT_EQ(st.SelectedDate, D(2007, 11, 23));
  choose(QDate(1970, 1, 1), true);
  EXPECT_EQ(st.SelectedDate, D(1970, 1, 1));
}

// A stand-in for xdg-open first in PATH: records its arguments and exits
// with the given status.
void FakeOpener(const std::string& dir, int status) {
  fs::create_directories(dir);
  const std::string script = dir + "/xdg-open";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << dir << "/args\"\nexit " << status << "\n";
  ::chmod(script.c_str(), 0755);
}

class PathSwap {
 public:
  explicit PathSwap(const std::string& path) : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    setenv("PATH", path.c_str(), 1);
  }
  ~PathSwap() { setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

TEST(MainFrame, HelpOpensThePageBesideTheProgramAndTellsWhatWentWrong) {
  Started s;
  const std::string page = s.home.path() + "/prog/QvxHelp.html";
  const std::string bin = s.home.path() + "/bin";
  {
    PathSwap path(bin);
    FakeOpener(bin, 0);
    s.f->runCommand(Command::Help);  // no page yet
    const QStringList shown = ui::MessageBox::takeShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QString::fromStdString(page)));
    EXPECT_FALSE(fs::exists(bin + "/args"));

    fs::create_directories(s.home.path() + "/prog");
    std::ofstream(page) << "<html></html>";
    s.f->runCommand(Command::Help);
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::FileBytes(bin + "/args") == page + "\n"; }, 30000));
    QTest::qWait(50);
    EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());

    FakeOpener(bin, 4);  // the opener fails: said once it has ended
    s.f->runCommand(Command::Help);
    QStringList failed;
    EXPECT_TRUE(QTest::qWaitFor([&] {
      failed += ui::MessageBox::takeShownTexts();
      return !failed.isEmpty();
    }, 30000));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0].contains(QStringLiteral("4")));
  }
  {
    PathSwap path(s.home.path() + "/nowhere");
    s.f->runCommand(Command::Help);
    const QStringList shown = ui::MessageBox::takeShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("xdg-open")));
  }
}

TEST(MainFrame, AboutNamesTheProgramAndItsVersion) {
  Started s;
  s.f->runCommand(Command::About);
  const QStringList shown = ui::MessageBox::takeShownTexts();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith(QStringLiteral("Kalvane")));
  EXPECT_TRUE(shown[0].contains(QStringLiteral(KALVANE_VERSION)));
}

TEST(MainFrame, TheMinuteTickWaitsForStartUpServerCallsAndItself) {
  test::ScratchHome home;
  CCalenderDoc* no_doc = nullptr;
  CMainFrame f(no_doc);
  int ticks = 0;
  f.setMinuteTick([&] { ++ticks; });
  f.onMinuteTimer();  // before start-up
  ASSERT_TRUE(f.openUserStore(home.ProgramPath()));
  f.onMinuteTimer();
  EXPECT_EQ(ticks, 0);
  f.finishStartup();
  EXPECT_EQ(f.minuteTimer().interval(), 60000);
  EXPECT_TRUE(f.minuteTimer().isActive());
  f.onMinuteTimer();
  EXPECT_EQ(ticks, 1);

  // During a server call the tick is held and comes once the call is over.
  int ticks_during = -1;
  ServerCall::Run([&] {
    ServerCall::OnGuiThread([&] {
      f.onMinuteTimer();
      ticks_during = ticks;
    });
  });
  EXPECT_EQ(ticks_during, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks == 2; }, 30000));

  // A tick that is still running (a message box open in it) is not entered
  // again; the one that fell due meanwhile follows it.
  bool nested_seen = false;
  int depth = 0, deepest = 0;
  f.setMinuteTick([&] {
    deepest = std::max(deepest, ++depth);
    ++ticks;
    if (!nested_seen) {
      nested_seen = true;
      f.onMinuteTimer();
      QTest::qWait(20);  // a nested event loop, as a modal box would run
    }
    --depth;
  });
  f.onMinuteTimer();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks == 4; }, 30000));
  EXPECT_EQ(deepest, 1);
}

TEST(MainFrame, ClosingDuringAServerCallWaitsForTheCall) {
  Started s;
  s.f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(s.f));
  bool visible_after_close = false;
  ServerCall::Run([&] {
    ServerCall::OnGuiThread([&] {
      s.f->close();
      visible_after_close = s.f->isVisible();
    });
  });
  EXPECT_TRUE(visible_after_close);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !s.f->isVisible(); }, 30000));
}

}  // namespace
}  // namespace kv::app
