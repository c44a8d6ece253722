// QvxAlarm.exe: shows one alarm of the calendar in a window that stays on
// top, and as a desktop notification where the desktop has a service.
#include <QApplication>
#include <QDBusConnection>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <cstdio>
#include <string>
#include <vector>

#include "alarm/AlarmArgs.h"
#include "alarm/AlarmSession.h"
#include "alarm/AlarmWindow.h"
#include "app/ui/Translations.h"

namespace {

// KV_ALARM_REPORT set: one JSON line on standard output for each showing,
// with the texts as the window holds them, for tests and scripts.
void Report(const kv::alarm::AlarmWindow& w) {
  QJsonObject o{{"event", "shown"},
                {"title", w.windowTitle()},
                {"subject", w.subjectLabel()->text()},
                {"span", w.spanLabel()->text()},
                {"direction", w.layoutDirection() == Qt::RightToLeft ? "rtl" : "ltr"}};
  if (w.placeLabel()) o.insert("place", w.placeLabel()->text());
  if (w.descView()) o.insert("desc", w.descView()->toPlainText());
  const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const kv::alarm::ParsedArgs parsed = kv::alarm::ParseAlarmArgs(args);
  if (parsed.help) {
    std::printf("%s\n", kv::alarm::AlarmUsage().c_str());
    return 0;
  }
  if (!parsed.request) {
    std::fprintf(stderr, "QvxAlarm.exe: %s\n%s\n", parsed.error.c_str(),
                 kv::alarm::AlarmUsage().c_str());
    return 2;
  }

  // Every argument is an item's text from another user or the server: Qt
  // must never read one as its own option (-platform, -stylesheet, ...).
  // The platform and the rest come from the environment only.
  static char program[] = "QvxAlarm.exe";
  static char* qt_argv[] = {program, nullptr};
  static int qt_argc = 1;
  QApplication app(qt_argc, qt_argv);
  QApplication::setApplicationName("QvxAlarm");
  QApplication::setOrganizationName("Wexor");
  QApplication::setApplicationDisplayName("Kalvane");
  // A snoozed alarm has no window for a while; only its end quits.
  QApplication::setQuitOnLastWindowClosed(false);
  kv::alarm::UseJapaneseFont();
  kv::ui::InstallQtTranslations(app);

  kv::alarm::AlarmSession session(*parsed.request, QDBusConnection::sessionBus());
  QObject::connect(&session, &kv::alarm::AlarmSession::ended, &app, &QApplication::quit);
  if (!qEnvironmentVariableIsEmpty("KV_ALARM_REPORT")) {
    QObject::connect(&session, &kv::alarm::AlarmSession::shown, &app, [&session] {
      Report(*session.window());
    });
  }
  session.start();
  return app.exec();
}
