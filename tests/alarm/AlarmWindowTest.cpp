// The alarm window offscreen, the notification against a private session
// bus with a stand-in notification service, and the real program end to end.
#include <gtest/gtest.h>

#include <functional>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "alarm/AlarmSession.h"
#include "alarm/AlarmWindow.h"
#include "alarm/Notification.h"
#include "app/shell/AlarmDispatcher.h"
#include "tests/support/TestSupport.h"

namespace kv::alarm {
namespace {

AlarmRequest Request() {
  AlarmRequest r;
  r.subject = "<b>定例</b> 会議 & 打合せ";
  r.span = "2004/03/01 10:00:00 - 2004/03/01 11:00:00";
  r.place = "第一会議室";
  r.desc = "議題:\n1. 予算\n2. <script>";
  return r;
}

TEST(AlarmWindow, ShowsTheTextsAsTheyAreOnTopUntilClosed) {
  AlarmWindow w(Request());
  EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(w.isModal());
  EXPECT_EQ(w.subjectLabel()->text(), QString::fromUtf8("<b>定例</b> 会議 & 打合せ"));
  EXPECT_EQ(w.subjectLabel()->textFormat(), Qt::PlainText);
  EXPECT_EQ(w.spanLabel()->text(), "2004/03/01 10:00:00 - 2004/03/01 11:00:00");
  ASSERT_NE(w.placeLabel(), nullptr);
  EXPECT_EQ(w.placeLabel()->text(), QString::fromUtf8("第一会議室"));
  EXPECT_EQ(w.placeLabel()->textFormat(), Qt::PlainText);
  ASSERT_NE(w.descView(), nullptr);
  EXPECT_EQ(w.descView()->toPlainText(), QString::fromUtf8("議題:\n1. 予算\n2. <script>"));
  EXPECT_TRUE(w.descView()->isReadOnly());
  EXPECT_TRUE(w.windowTitle().startsWith(QString::fromUtf8("<b>定例</b>")));

  QSignalSpy finished(&w, &QDialog::finished);
  QSignalSpy snoozed(&w, &AlarmWindow::snoozeChosen);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_TRUE(w.isVisible());
  // The answers left to right, each button saying what it does.
  const QList<QPushButton*> snooze = w.snoozeButtons();
  ASSERT_EQ(snooze.size(), 3);
  const QList<QPushButton*> row{snooze[0], snooze[1], snooze[2], w.closeButton()};
  const char* texts[] = {"5分後", "15分後", "1時間後", "閉じる"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(row[i]->text(), QString::fromUtf8(texts[i]));
    EXPECT_TRUE(row[i]->isVisible());
    if (i > 0) {
      EXPECT_GT(row[i]->x(), row[i - 1]->geometry().right());
    }
  }
  for (int i = 0; i < 3; ++i) QTest::mouseClick(snooze[i], Qt::LeftButton);
  ASSERT_EQ(snoozed.count(), 3);
  EXPECT_EQ(snoozed[0][0].toInt(), 5);
  EXPECT_EQ(snoozed[1][0].toInt(), 15);
  EXPECT_EQ(snoozed[2][0].toInt(), 60);
  EXPECT_EQ(finished.count(), 0) << "a snooze is no answer that ends the alarm";
  QTest::mouseClick(w.closeButton(), Qt::LeftButton);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(finished.count(), 1);

  // Escape closes it as well; Enter on the focused button too.
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QTest::keyClick(w.closeButton(), Qt::Key_Return);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(finished.count(), 3);
}

TEST(AlarmWindow, LongestSubjectAndPlaceGetEveryLine) {
  AlarmRequest r = Request();
  QString sixty_three;
  for (int i = 0; i < 9; ++i) sixty_three += QString::fromUtf8("長い件名の予定");
  r.subject = r.place.emplace() = sixty_three.toStdString();
  r.desc.reset();
  UseJapaneseFont();  // as the program does
  AlarmWindow w(r);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QTest::qWait(200);  // let every posted layout request run
  for (QLabel* l : {w.subjectLabel(), w.placeLabel(), w.spanLabel()}) {
    SCOPED_TRACE(l->text().toStdString());
    const int needed = l->wordWrap() ? l->heightForWidth(l->width()) : l->sizeHint().height();
    EXPECT_GE(l->height(), needed) << l->width() << "x" << l->height();
    if (!l->wordWrap()) {
      EXPECT_GE(l->width(), l->sizeHint().width());
    }
  }
}

TEST(AlarmWindow, NoPlaceOrDescriptionRowsWhenThereAreNone) {
  AlarmRequest r = Request();
  r.place.reset();
  r.desc = "";
  AlarmWindow w(r);
  EXPECT_EQ(w.placeLabel(), nullptr);
  EXPECT_EQ(w.descView(), nullptr);
  EXPECT_EQ(w.findChildren<QLabel*>().size(), 3) << "subject, time and its caption";
}

TEST(AlarmSession, SnoozeHidesTheWindowUntilItsSingleShotAndOnlyClosingEnds) {
  AlarmSession s(Request(), QDBusConnection(QStringLiteral("kv-no-bus")));
  QSignalSpy shown(&s, &AlarmSession::shown);
  QSignalSpy ended(&s, &AlarmSession::ended);
  s.start();
  AlarmWindow* w = s.window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  EXPECT_EQ(shown.count(), 1);
  const int minutes[] = {15, 5, 60};
  const int button[] = {1, 0, 2};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(minutes[i]);
    QTest::mouseClick(w->snoozeButtons()[button[i]], Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    QTimer* t = s.snoozeTimer();
    EXPECT_TRUE(t->isActive());
    EXPECT_TRUE(t->isSingleShot());
    EXPECT_EQ(t->interval(), minutes[i] * 60 * 1000);
    t->start(0);  // the time is up
    ASSERT_TRUE(shown.wait(5000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    EXPECT_FALSE(t->isActive());
  }
  EXPECT_EQ(ended.count(), 0);

  // Snoozed, then ended (the notification's 閉じる): it never comes back.
  QTest::mouseClick(w->snoozeButtons()[0], Qt::LeftButton);
  s.end();
  EXPECT_FALSE(s.snoozeTimer()->isActive());
  ASSERT_TRUE(ended.wait(5000));
  s.snooze(5);
  EXPECT_FALSE(s.snoozeTimer()->isActive());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(shown.count(), 4);
  EXPECT_EQ(ended.count(), 1);

  // Escape and the close box end it as 閉じる does.
  for (int how = 0; how < 2; ++how) {
    AlarmSession s2(Request(), QDBusConnection(QStringLiteral("kv-no-bus")));
    QSignalSpy ended2(&s2, &AlarmSession::ended);
    s2.start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(s2.window()));
    if (how == 0)
      QTest::keyClick(s2.window(), Qt::Key_Escape);
    else
      s2.window()->close();
    ASSERT_TRUE(ended2.wait(5000));
    EXPECT_FALSE(s2.window()->isVisible());
  }
}

TEST(AlarmNotification, BodyIsEscapedOnlyForServicesThatReadMarkup) {
  const AlarmRequest r = Request();
  EXPECT_EQ(NotificationSummary(r), QString::fromUtf8("<b>定例</b> 会議 & 打合せ"));
  const QString plain = NotificationBody(r, false);
  EXPECT_EQ(plain, QString::fromUtf8("2004/03/01 10:00:00 - 2004/03/01 11:00:00\n場所: 第一会議室\n"
                                     "議題:\n1. 予算\n2. <script>"));
  EXPECT_EQ(NotificationBody(r, true), plain.toHtmlEscaped());
  AlarmRequest none;
  none.span = "x";
  EXPECT_EQ(NotificationSummary(none), QString::fromUtf8("アラーム"));
  EXPECT_EQ(NotificationBody(none, true), "x");
}

// A session bus of our own, so no desktop's service answers in its place.
class PrivateBus {
 public:
  PrivateBus() {
    const QString config = dir_.File("bus.conf").c_str();
    QFile f(config);
    f.open(QIODevice::WriteOnly);
    f.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
        "<auth>EXTERNAL</auth><policy context=\"default\">"
        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/></policy></busconfig>\n");
    f.close();
    daemon_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address"});
    if (!daemon_.waitForStarted(20000)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(20000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    for (const QString& n : names_) QDBusConnection::disconnectFromBus(n);
    daemon_.kill();
    daemon_.waitForFinished(20000);
  }
  const QString& address() const { return address_; }
  QDBusConnection Connect(const QString& name) {
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
  }

 private:
  test::TempDir dir_;
  QProcess daemon_;
  QString address_;
  QStringList names_;
};

}  // namespace

class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  QStringList capabilities;
  struct Call {
    QString app, icon, summary, body;
    uint replaces;
    QStringList actions;
    QVariantMap hints;
    int timeout;
  };
  QList<Call> calls;  // the n-th gets the id 41 + n
  QList<uint> closed;
  std::function<void()> on_notify;  // before the answer leaves

 public slots:
  QStringList GetCapabilities() { return capabilities; }
  uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints,
              int timeout) {
    calls.push_back({app, icon, summary, body, replaces, actions, hints, timeout});
    if (on_notify) on_notify();
    return 41 + calls.size();
  }
  void CloseNotification(uint id) {
    closed << id;
    emit NotificationClosed(id, 3);
  }

 signals:
  void ActionInvoked(uint id, const QString& key);
  void NotificationClosed(uint id, uint reason);
};

namespace {

TEST(AlarmNotification, ReachesTheServiceWhenThereIsOneAndGivesUpQuietlyOtherwise) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon (package dbus-daemon) did not start";
  QDBusConnection client = bus.Connect("kv-client");
  ASSERT_TRUE(client.isConnected());

  {
    DesktopNotifier n(client);
    QSignalSpy done(&n, &DesktopNotifier::finished);
    n.send(Request());
    ASSERT_TRUE(done.wait(20000));
    EXPECT_FALSE(done.at(0).at(0).toBool()) << "nobody serves notifications yet";
  }

  FakeNotifications fake;
  fake.capabilities = {"body", "body-markup"};
  QDBusConnection service = bus.Connect("kv-service");
  ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                     QDBusConnection::ExportAllSlots));
  DesktopNotifier n(client);
  QSignalSpy done(&n, &DesktopNotifier::finished);
  n.send(Request());
  ASSERT_TRUE(done.wait(20000));
  EXPECT_TRUE(done.at(0).at(0).toBool());
  ASSERT_EQ(fake.calls.size(), 1);
  EXPECT_EQ(fake.calls[0].app, "Kalvane");
  EXPECT_EQ(fake.calls[0].summary, QString::fromUtf8("<b>定例</b> 会議 & 打合せ"));
  EXPECT_EQ(fake.calls[0].body, NotificationBody(Request(), true));
  EXPECT_EQ(fake.calls[0].replaces, 0u);
  EXPECT_EQ(fake.calls[0].timeout, -1);

  // No session bus at all.
  DesktopNotifier lost(QDBusConnection(QStringLiteral("kv-never-connected")));
  QSignalSpy gave_up(&lost, &DesktopNotifier::finished);
  lost.send(Request());
  ASSERT_TRUE(gave_up.wait(20000));
  EXPECT_FALSE(gave_up.at(0).at(0).toBool());
}

// Polls until `done` or the deadline, serving events meanwhile.
template <class Pred>
bool WaitUntil(Pred done, int ms = 20000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QTest::qWait(10);
  return done();
}

TEST(AlarmNotification, CarriesTheAnswersWhereTheServiceShowsActionsAndTheyActAsTheButtons) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty());
  FakeNotifications fake;
  fake.capabilities = {"body"};
  QDBusConnection service = bus.Connect("kv-service-3");
  ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllSignals));
  QDBusConnection client = bus.Connect("kv-client-3");
  {
    DesktopNotifier n(client);
    QSignalSpy done(&n, &DesktopNotifier::finished);
    n.send(Request());
    ASSERT_TRUE(done.wait(20000));
    ASSERT_EQ(fake.calls.size(), 1);
    EXPECT_TRUE(fake.calls[0].actions.isEmpty()) << "the service shows no actions";
  }

  fake.capabilities = {"body", "actions"};
  AlarmSession s(Request(), client);
  QSignalSpy sent(s.notifier(), &DesktopNotifier::finished);
  QSignalSpy acted(s.notifier(), &DesktopNotifier::actionInvoked);
  QSignalSpy shown(&s, &AlarmSession::shown);
  QSignalSpy ended(&s, &AlarmSession::ended);
  QSignalSpy closed(&fake, &FakeNotifications::NotificationClosed);
  s.start();
  ASSERT_TRUE(sent.wait(20000));
  ASSERT_TRUE(sent[0][0].toBool());
  ASSERT_EQ(fake.calls.size(), 2);
  const QStringList expected{"default", QString::fromUtf8("表示"),
                             "snooze-5", QString::fromUtf8("5分後"),
                             "snooze-15", QString::fromUtf8("15分後"),
                             "snooze-60", QString::fromUtf8("1時間後"),
                             "close", QString::fromUtf8("閉じる")};
  EXPECT_EQ(fake.calls[1].actions, expected);

  // Another program's notification is none of ours; ours snoozes.
  emit fake.ActionInvoked(7, "close");
  emit fake.ActionInvoked(43, "snooze-5");
  ASSERT_TRUE(acted.wait(20000));
  ASSERT_EQ(acted.count(), 1);
  EXPECT_EQ(acted[0][0].toString(), "snooze-5");
  EXPECT_FALSE(s.window()->isVisible());
  EXPECT_TRUE(s.snoozeTimer()->isActive());
  EXPECT_EQ(s.snoozeTimer()->interval(), 5 * 60 * 1000);
  ASSERT_TRUE(closed.count() == 1 || closed.wait(20000));
  EXPECT_EQ(fake.closed, QList<uint>{43}) << "no notification stays while snoozed";

  // The time is up: window and notification again, the old one's actions dead.
  s.snoozeTimer()->start(0);
  ASSERT_TRUE(shown.wait(5000));
  EXPECT_TRUE(s.window()->isVisible());
  ASSERT_TRUE(WaitUntil([&] { return sent.count() == 2; }));
  ASSERT_EQ(fake.calls.size(), 3);
  EXPECT_EQ(fake.calls[2].actions, expected);
  emit fake.ActionInvoked(43, "close");
  emit fake.ActionInvoked(44, "close");
  ASSERT_TRUE(ended.wait(20000));
  EXPECT_EQ(acted.count(), 2);
  EXPECT_FALSE(s.window()->isVisible());
  EXPECT_EQ(fake.closed, (QList<uint>{43, 44})) << "the answered notification is withdrawn";

  // Closed while the notification is on its way: it is withdrawn as it
  // arrives, and only then does the program end. Closed sooner still: none
  // is sent.
  AlarmSession late(Request(), client);
  QSignalSpy late_ended(&late, &AlarmSession::ended);
  fake.on_notify = [&] { QTest::mouseClick(late.window()->closeButton(), Qt::LeftButton); };
  late.start();
  ASSERT_TRUE(late_ended.wait(20000));
  fake.on_notify = nullptr;
  ASSERT_EQ(fake.calls.size(), 4);
  EXPECT_EQ(fake.closed, (QList<uint>{43, 44, 45}));
  AlarmSession early(Request(), client);
  QSignalSpy early_ended(&early, &AlarmSession::ended);
  early.start();
  early.end();
  ASSERT_TRUE(early_ended.wait(20000));
  EXPECT_EQ(fake.calls.size(), 4);
}

int RunAlarm(const QStringList& args, QString* err) {
  QProcess p;
  p.start(KV_ALARM_EXE, args);
  EXPECT_TRUE(p.waitForFinished(30000));
  if (err) *err = QString::fromUtf8(p.readAllStandardError());
  return p.exitCode();
}

TEST(AlarmProgram, RefusesNonsensePolitelyAndShowsWhatTheClientSends) {
  QString err;
  EXPECT_EQ(RunAlarm({"-S", "s"}, &err), 2);
  EXPECT_TRUE(err.contains("-T")) << err.toStdString();
  EXPECT_TRUE(err.contains(QString::fromUtf8("使い方"))) << err.toStdString();
  EXPECT_EQ(RunAlarm({"-S", "s", "-T", "t", "oops"}, &err), 2);
  EXPECT_EQ(RunAlarm({"--help"}, nullptr), 0);

  // The client's real arguments: the program comes up and its notification
  // reaches the session bus it was started on.
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty());
  FakeNotifications fake;
  QDBusConnection service = bus.Connect("kv-service-2");
  ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                     QDBusConnection::ExportAllSlots));
  ScheduleItem it;
  it.Subject = test::J("定例会議");
  it.Place = test::J("第一会議室");
  it.Start = test::D(2004, 3, 1, 10, 0, 0);
  it.End = test::D(2004, 3, 1, 11, 0, 0);
  const std::vector<std::string> argv = shell::ToProcessArguments(shell::AlarmArguments(it));
  QStringList args;
  for (size_t i = 1; i < argv.size(); ++i) args << QString::fromStdString(argv[i]);
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(KV_ALARM_EXE, args);
  ASSERT_TRUE(p.waitForStarted(30000));
  for (int i = 0; i < 600 && fake.calls.isEmpty(); ++i) QTest::qWait(50);
  ASSERT_EQ(fake.calls.size(), 1);
  EXPECT_EQ(fake.calls[0].summary, QString::fromUtf8("定例会議"));
  EXPECT_EQ(fake.calls[0].body,
            QString::fromUtf8("2004/03/01 10:00:00 - 2004/03/01 11:00:00\n場所: 第一会議室"));
  EXPECT_EQ(p.state(), QProcess::Running) << "the window stays until closed";
  p.kill();
  p.waitForFinished(30000);
}

TEST(AlarmProgram, TextsThatLookLikeQtOptionsAreShownAsText) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty());
  FakeNotifications fake;
  fake.capabilities = {"body", "actions"};
  QDBusConnection service = bus.Connect("kv-service-4");
  ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllSignals));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("KV_ALARM_REPORT", "1");
  const QString span = "2004/03/01 10:00:00 - 2004/03/01 11:00:00";
  for (const char* option : {"-platform", "-reverse", "-stylesheet", "-session", "-style",
                             "-qwindowgeometry", "--", "-display"}) {
    const QString text = option;
    SCOPED_TRACE(option);
    const qsizetype before = fake.calls.size();
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(KV_ALARM_EXE, {"-S", text, "-T", span, "-P", text, "-D", text});
    ASSERT_TRUE(p.waitForStarted(30000));
    WaitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; });
    ASSERT_TRUE(p.canReadLine()) << "exit " << p.exitStatus() << "/" << p.exitCode() << ": "
                                 << p.readAllStandardError().toStdString();
    const QJsonObject shown = QJsonDocument::fromJson(p.readLine()).object();
    EXPECT_EQ(shown["event"].toString(), "shown");
    EXPECT_EQ(shown["subject"].toString(), text);
    EXPECT_EQ(shown["span"].toString(), span);
    EXPECT_EQ(shown["place"].toString(), text);
    EXPECT_EQ(shown["desc"].toString(), text);
    EXPECT_EQ(shown["title"].toString(), text + QString::fromUtf8(" - アラーム"));
    EXPECT_EQ(shown["direction"].toString(), "ltr");

    // Its notification's 閉じる ends it, as a person would.
    ASSERT_TRUE(WaitUntil([&] { return fake.calls.size() > before; }))
        << p.readAllStandardError().toStdString();
    EXPECT_EQ(fake.calls.back().summary, text);
    emit fake.ActionInvoked(41 + fake.calls.size(), "close");
    ASSERT_TRUE(WaitUntil([&] { return p.state() == QProcess::NotRunning; }));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
  }
}

}  // namespace
}  // namespace kv::alarm

#include "AlarmWindowTest.moc"
