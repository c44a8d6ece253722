#include <QApplication>

#include "app/CalenderApp.h"

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  kv::app::CCalenderApp app;
  if (!app.InitInstance(QCoreApplication::applicationFilePath().toStdString()))
    return app.exitCode();
  return qt.exec();
}
