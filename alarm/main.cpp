// QvxAlarm.exe: shows one alarm of the calendar in a window that stays on
// top, and as a desktop notification where the desktop has a service.
#include <QApplication>
#include <QDBusConnection>
#include <cstdio>
#include <string>
#include <vector>

#include "alarm/AlarmArgs.h"
#include "alarm/AlarmSession.h"

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

  QApplication app(argc, argv);
  QApplication::setApplicationName("QvxAlarm");
  QApplication::setOrganizationName("Wexor");
  QApplication::setApplicationDisplayName("Kalvane");
  // A snoozed alarm has no window for a while; only its end quits.
  QApplication::setQuitOnLastWindowClosed(false);
  kv::alarm::UseJapaneseFont();

  kv::alarm::AlarmSession session(*parsed.request, QDBusConnection::sessionBus());
  QObject::connect(&session, &kv::alarm::AlarmSession::ended, &app, &QApplication::quit);
  session.start();
  return app.exec();
}
