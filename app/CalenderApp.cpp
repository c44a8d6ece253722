#include "app/CalenderApp.h"

#include <QApplication>
#include <QFontDatabase>

#include "app/CalenderDoc.h"
#include "app/Icons.h"
#include "app/MainFrame.h"
#ifdef KALVANE_ICAL
#include "app/IcalWiring.h"
#endif
#include "app/QtSurface.h"
#include "app/ui/Translations.h"

namespace kv::app {

CCalenderApp::CCalenderApp() = default;

CCalenderApp::~CCalenderApp() {
  frame_.reset();
  doc_.reset();
}

bool CCalenderApp::InitInstance(const std::string& program_path) {
  QCoreApplication::setOrganizationName(QStringLiteral("Wexor"));
  QCoreApplication::setApplicationName(QStringLiteral("Kalvane"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Kalvane"));
  QGuiApplication::setDesktopFileName(QStringLiteral("com.wexor.Kalvane"));
  QGuiApplication::setWindowIcon(ApplicationIcon());
  if (auto* qt = QCoreApplication::instance()) ui::InstallQtTranslations(*qt);
  // Menus and dialogs in the calendar's Japanese font when it is there.
  QFont ui = QApplication::font();
  ui.setFamily(CalendarFont().family());
  QApplication::setFont(ui);

  doc_ = std::make_unique<CCalenderDoc>();
  frame_ = std::make_unique<CMainFrame>(doc_.get());
  WireCommands(*frame_);
  if (!frame_->openUserStore(program_path)) {
    exit_code_ = frame_->exitCode();
    frame_.reset();
    return false;
  }
  frame_->show();
  frame_->finishStartup();
#ifdef KALVANE_ICAL
  // A calendar file given to the program (opened from the file manager)
  // goes to the import preview once the window is up.
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i].endsWith(QStringLiteral(".ics"), Qt::CaseInsensitive)) {
      const QString path = args[i];
      CMainFrame* frame = frame_.get();
      QMetaObject::invokeMethod(frame, [frame, path] { ImportIcalFile(*frame, path); },
                                Qt::QueuedConnection);
      break;
    }
  }
#endif
  return true;
}

}  // namespace kv::app
