// The alarm window offscreen, the notification against a private session
// bus with a stand-in notification service, and the real program end to end.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

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
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_TRUE(w.isVisible());
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
    QVariantMap hints;
    int timeout;
  };
  QList<Call> calls;

 public slots:
  QStringList GetCapabilities() { return capabilities; }
  uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
              const QString& body, const QStringList&, const QVariantMap& hints, int timeout) {
    calls.push_back({app, icon, summary, body, replaces, hints, timeout});
    return 42;
  }
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

}  // namespace
}  // namespace kv::alarm

#include "AlarmWindowTest.moc"
