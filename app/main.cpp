#include <unistd.h>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>

#include "app/CalenderApp.h"
#include "app/MainFrame.h"
#include "app/shell/AlarmDispatcher.h"

namespace {

// KV_STARTUP_REPORT=1: once started, one JSON line on standard output with
// where the program looks for its alarm program and help page and what it
// found there, then the window closes as if by the user. The package check
// uses it to see an installed copy start and find its neighbours.
void ReportStartupAndClose(kv::app::CMainFrame& frame) {
  const std::string folder = frame.programFolder();
  const std::string alarm = folder + "/" + kv::shell::kAlarmProgramFile;
  const std::string help = folder + "/QvxHelp.html";
  QJsonObject o;
  o[QStringLiteral("version")] = QStringLiteral(KALVANE_VERSION);
  o[QStringLiteral("program_folder")] = QString::fromStdString(folder);
  o[QStringLiteral("alarm_program")] = QString::fromStdString(alarm);
  o[QStringLiteral("alarm_program_executable")] = ::access(alarm.c_str(), X_OK) == 0;
  o[QStringLiteral("help_page")] = QString::fromStdString(help);
  o[QStringLiteral("help_page_readable")] = ::access(help.c_str(), R_OK) == 0;
  o[QStringLiteral("qt_translations")] = qApp->property("kvQtTranslations").toInt();
  const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
  std::fflush(stdout);
  QTimer::singleShot(0, &frame, [&frame] { frame.close(); });
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  kv::app::CCalenderApp app;
  if (!app.InitInstance(QCoreApplication::applicationFilePath().toStdString()))
    return app.exitCode();
  if (!qEnvironmentVariableIsEmpty("KV_STARTUP_REPORT") && app.mainFrame())
    ReportStartupAndClose(*app.mainFrame());
  return qt.exec();
}
