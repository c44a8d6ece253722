// Server calls run off the GUI thread: windows keep painting, input waits,
// errands reach the GUI thread, calls never overlap. Waits here are for
// events, bounded by generous limits; no duration is asserted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "app/ServerCall.h"

namespace kv::app {
namespace {

using namespace std::chrono_literals;

class Probe : public QWidget {
 public:
  int paints = 0, keys = 0, presses = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
  void keyPressEvent(QKeyEvent*) override { ++keys; }
  void mousePressEvent(QMouseEvent*) override { ++presses; }
};

// Waits on the worker until `ready` holds on the GUI thread.
bool WaitOnGui(const std::function<bool()>& ready) {
  for (int i = 0; i < 3000; ++i) {
    bool ok = false;
    ServerCall::OnGuiThread([&] { ok = ready(); });
    if (ok) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(ServerCall, RunsOffTheGuiThreadAndReturnsTheResult) {
  const auto gui = std::this_thread::get_id();
  std::thread::id worker;
  bool running_inside = false;
  const int r = ServerCall::Run([&] {
    worker = std::this_thread::get_id();
    ServerCall::OnGuiThread([&] {
      running_inside = ServerCall::Running();
      EXPECT_EQ(std::this_thread::get_id(), gui);
      ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
      EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    });
    return 42;
  });
  EXPECT_EQ(r, 42);
  EXPECT_NE(worker, gui);
  EXPECT_TRUE(running_inside);
  EXPECT_FALSE(ServerCall::Running());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ServerCall, ErrorsOfTheWorkAndOfErrandsComeBackToTheCaller) {
  EXPECT_THROW(ServerCall::Run([] { throw std::runtime_error("broken"); }), std::runtime_error);
  EXPECT_THROW(ServerCall::Run([] { ServerCall::OnGuiThread([] { throw std::logic_error("x"); }); }),
               std::logic_error);
  EXPECT_FALSE(ServerCall::Running());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ServerCall, AWorkerThatCannotStartPutsEverythingBackAndFailsTheRequest) {
  Probe w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  int reported = 0, hooks = 0;
  ServerCall::SetStartFailureReporter([&] { ++reported; });
  const int hook = ServerCall::AddIdleHook([&] { ++hooks; });
  ServerCall::FailWorkerStartsForTest(true);
  bool ran = false;
  const int r = ServerCall::Run([&] {
    ran = true;
    return 1;
  });
  ServerCall::FailWorkerStartsForTest(false);
  EXPECT_EQ(r, 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(reported, 1);
  EXPECT_EQ(hooks, 1);
  EXPECT_FALSE(ServerCall::Running());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  // Input is no longer held: a key reaches the window at once.
  QTest::keyClick(&w, Qt::Key_A);
  EXPECT_EQ(w.keys, 1);
  EXPECT_EQ(ServerCall::Run([] { return 5; }), 5);
  ServerCall::RemoveIdleHook(hook);
  ServerCall::SetStartFailureReporter(nullptr);
}

TEST(ServerCall, WindowsPaintWhileInputWaitsForTheEnd) {
  Probe w;
  w.resize(200, 100);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QCoreApplication::processEvents();
  const int paints_before = w.paints;
  int keys_during = -1, presses_during = -1;

  ServerCall::Run([&] {
    // A repaint asked for during the call is carried out during the call.
    ServerCall::OnGuiThread([&] { w.update(); });
    EXPECT_TRUE(WaitOnGui([&] { return w.paints > paints_before; }));
    // Keys and clicks sent now are held.
    ServerCall::OnGuiThread([&] {
      QTest::keyClick(&w, Qt::Key_A);
      QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(10, 10));
    });
    std::this_thread::sleep_for(50ms);
    ServerCall::OnGuiThread([&] {
      keys_during = w.keys;
      presses_during = w.presses;
    });
  });
  EXPECT_GT(w.paints, paints_before);
  EXPECT_EQ(keys_during, 0);
  EXPECT_EQ(presses_during, 0);
  // Delivered once the call is over, not lost.
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.keys == 1 && w.presses == 1; }, 30000));
}

TEST(ServerCall, AWindowOpenedDuringTheCallTakesInput) {
  Probe box;
  int keys_during = -1;
  ServerCall::Run([&] {
    ServerCall::OnGuiThread([&] {
      box.show();
      QTest::keyClick(&box, Qt::Key_Return);
      keys_during = box.keys;
      box.hide();
    });
  });
  EXPECT_EQ(keys_during, 1);
}

TEST(ServerCall, ACallStartedDuringAnotherWaitsForItAndIdleHooksRunOnce) {
  std::atomic<int> inside{0}, overlap{0};
  std::vector<std::string> order;
  int idle = 0;
  const int hook = ServerCall::AddIdleHook([&] { ++idle; });
  auto work = [&](const char* name, std::chrono::milliseconds hold) {
    if (++inside > 1) ++overlap;
    ServerCall::OnGuiThread([&] { order.push_back(std::string(name) + "+"); });
    std::this_thread::sleep_for(hold);
    ServerCall::OnGuiThread([&] { order.push_back(std::string(name) + "-"); });
    --inside;
  };
  bool nested_ran = false;
  ServerCall::Run([&] {
    // The GUI thread starts a second call (as a timer or paint could)
    // while this one is still working.
    ServerCall::OnGuiThread([&] {
      QTimer::singleShot(0, [&] {
        ServerCall::Run([&] { work("b", 0ms); });
        nested_ran = true;
      });
    });
    work("a", 100ms);
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return nested_ran; }, 30000));
  ServerCall::RemoveIdleHook(hook);
  EXPECT_EQ(overlap.load(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"a+", "a-", "b+", "b-"}));
  EXPECT_GE(idle, 1);
  EXPECT_FALSE(ServerCall::Running());
}

TEST(ServerCall, ErrandsFromAForeignThreadStillReachTheGuiThread) {
  const auto gui = std::this_thread::get_id();
  std::thread::id ran_on;
  std::thread t([&] { ServerCall::OnGuiThread([&] { ran_on = std::this_thread::get_id(); }); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran_on == gui; }, 30000));
  t.join();
}

}  // namespace
}  // namespace kv::app
