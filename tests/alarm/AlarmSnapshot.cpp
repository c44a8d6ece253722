// alarm_snapshot OUT.png -S ... -T ... [-P ...] [-D ...]: the alarm window
// for those arguments, rendered to a PNG for looking at.
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "alarm/AlarmArgs.h"
#include "alarm/AlarmWindow.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: alarm_snapshot OUT.png -S ... -T ...\n");
    return 2;
  }
  const auto parsed = kv::alarm::ParseAlarmArgs(std::vector<std::string>(argv + 2, argv + argc));
  if (!parsed.request) {
    std::fprintf(stderr, "%s\n", parsed.error.c_str());
    return 2;
  }
  // As the program: the alarm's texts are never Qt's options.
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  kv::alarm::UseJapaneseFont();
  kv::alarm::AlarmWindow w(*parsed.request);
  w.show();
  int rc = 1;
  QTimer::singleShot(500, [&] {
    rc = w.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return rc;
}
