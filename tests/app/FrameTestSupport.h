#pragma once
// A scratch home for tests of the real window: HOME, XDG_DATA_HOME and the
// settings point into a temporary folder for the fixture's lifetime, the
// connection state starts fresh, and the clock is fixed.
#include <QEventLoop>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/CalenderView.h"
#include "app/Startup.h"
#include "app/ui/MessageBox.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"
#include "tests/support/TestSupport.h"

namespace kv::test {

class ScratchHome {
 public:
  explicit ScratchHome(DateTime now = D(2005, 3, 9, 10, 0, 0)) : clock_(now) {
    Keep("HOME");
    Keep("XDG_DATA_HOME");
    Keep("XDG_CONFIG_HOME");
    setenv("HOME", dir_.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (dir_.path() + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_.path() + "/config").c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path() + "/config"));
    GlobalConnection() = ConnectionState();
    ui::MessageBox::takeShownTexts();
  }
  ~ScratchHome() {
    for (auto& [name, value] : saved_) {
      if (value.first)
        setenv(name.c_str(), value.second.c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    GlobalConnection() = ConnectionState();
  }
  ScratchHome(const ScratchHome&) = delete;
  ScratchHome& operator=(const ScratchHome&) = delete;

  const std::string& path() const { return dir_.path(); }
  std::string DataHome() const { return dir_.path() + "/data"; }
  std::string StoreFolder() const { return DataHome() + "/Brenlow/Quillon"; }
  std::string StorePath() const { return StoreFolder() + "/" + app::LogonName() + ".mdb"; }
  // The program path handed to the start-up: its folder is ProgramFolder.
  std::string ProgramPath() const { return dir_.path() + "/prog/kalvane"; }
  ScopedClock& clock() { return clock_; }

  // Creates the user's store, signed up with a server on this machine;
  // left open in `store` for the caller to fill. False when a step failed.
  bool NewStore(ItemStore& store, const std::string& user, int port, const std::string& password) const {
    std::filesystem::create_directories(StoreFolder());
    return store.CreateStore(StorePath()) == 1 && store.WriteSettings(user, "127.0.0.1", port, password) == 1;
  }

 private:
  void Keep(const char* name) {
    const char* v = std::getenv(name);
    saved_.emplace_back(name, std::make_pair(v != nullptr, v ? std::string(v) : std::string()));
  }
  TempDir dir_;
  ScopedClock clock_;
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Waits for the view to put a fresh layout on the screen.
inline bool WaitForFrame(app::CCalenderView* view, bool ask = true) {
  QEventLoop loop;
  QObject::connect(view, &app::CCalenderView::framePainted, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, [&] { loop.exit(1); });
  if (ask) view->invalidateLayout();
  return loop.exec() == 0;
}

// The day cell that shows `day` in the last layout; -1 when none does.
inline int DayCellOf(const ViewState& st, const DateTime& day) {
  for (int i = 0; i < kDayCells; ++i)
    if (st.CellTable[i].date == day && !st.CellTable[i].rect.IsEmpty()) return i;
  return -1;
}

// Waits until the layouts have run again since `runs_before`.
inline bool LaidOutAgain(app::CCalenderView* view, int runs_before) {
  return QTest::qWaitFor([&] { return view->layoutRuns() > runs_before; }, 30000);
}

}  // namespace kv::test
