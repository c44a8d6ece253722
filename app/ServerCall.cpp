#include "app/ServerCall.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

namespace kv::app {

namespace {

struct Task {
  std::function<void()> f;
  bool done = false;
  std::exception_ptr error;
};

// One Run: the worker's errand list for the GUI thread and its end.
struct Call {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::shared_ptr<Task>> tasks;
  bool done = false;
  std::exception_ptr error;

  // GUI thread: runs what the worker is waiting for.
  void Drain() {
    for (;;) {
      std::shared_ptr<Task> t;
      {
        std::lock_guard<std::mutex> lock(mu);
        if (tasks.empty()) return;
        t = tasks.front();
        tasks.pop_front();
      }
      try {
        t->f();
      } catch (...) {
        t->error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mu);
        t->done = true;
      }
      cv.notify_all();
    }
  }
};

thread_local std::shared_ptr<Call> t_call;  // in a worker: the call it serves
std::mutex g_serial;                        // one worker at a time
int g_depth = 0;                            // GUI thread only

std::map<int, std::function<void()>>& Hooks() {
  static std::map<int, std::function<void()>> hooks;
  return hooks;
}
int g_next_hook = 1;

bool IsInput(QEvent::Type t) {
  switch (t) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
      return true;
    default:
      return false;
  }
}

bool IsMotion(QEvent::Type t) {
  return t == QEvent::MouseMove || t == QEvent::HoverMove || t == QEvent::TabletMove;
}

// Holds input meant for the windows open at the start and hands it back
// afterwards, in order. Pointer motion is dropped: it changes nothing.
class InputHold final : public QObject {
 public:
  InputHold() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) windows_.insert(w);
    qApp->installEventFilter(this);
  }
  ~InputHold() override { qApp->removeEventFilter(this); }

  void Release() {
    qApp->removeEventFilter(this);
    for (auto& [target, ev] : held_)
      if (target) QCoreApplication::postEvent(target, ev.release());
    held_.clear();
  }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    const QEvent::Type t = e->type();
    if (!IsInput(t) && !IsMotion(t)) return false;
    if (!Held(o)) return false;
    if (IsInput(t)) held_.emplace_back(QPointer<QObject>(o), std::unique_ptr<QEvent>(e->clone()));
    return true;
  }

 private:
  bool Held(QObject* o) const {
    if (qobject_cast<QAction*>(o)) return true;  // a shortcut
    auto* w = qobject_cast<QWidget*>(o);
    if (!w) return false;
    return windows_.count(w->window()) > 0;
  }

  std::set<QWidget*> windows_;
  std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

InputHold* g_hold = nullptr;
std::function<void()> g_start_failure;
bool g_fail_starts = false;

}  // namespace

bool ServerCall::Running() { return g_depth > 0; }

int ServerCall::AddIdleHook(std::function<void()> hook) {
  const int id = g_next_hook++;
  Hooks()[id] = std::move(hook);
  return id;
}

void ServerCall::RemoveIdleHook(int id) { Hooks().erase(id); }

void ServerCall::OnGuiThread(const std::function<void()>& f) {
  if (QThread::currentThread() == qApp->thread()) {
    f();
    return;
  }
  std::shared_ptr<Call> call = t_call;
  if (!call) {
    // Not a worker of ours: the GUI thread is in its own event loop.
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
          try {
            f();
          } catch (...) {
            error = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
    return;
  }
  auto task = std::make_shared<Task>();
  task->f = f;
  {
    std::lock_guard<std::mutex> lock(call->mu);
    call->tasks.push_back(task);
  }
  call->cv.notify_all();
  QMetaObject::invokeMethod(qApp, [call] { call->Drain(); }, Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(call->mu);
  call->cv.wait(lock, [&] { return task->done; });
  if (task->error) std::rethrow_exception(task->error);
}

void ServerCall::SetStartFailureReporter(std::function<void()> report) {
  g_start_failure = std::move(report);
}

void ServerCall::FailWorkerStartsForTest(bool fail) { g_fail_starts = fail; }

bool ServerCall::RunVoid(const std::function<void()>& work) {
  auto call = std::make_shared<Call>();
  const bool outermost = g_depth == 0;
  ++g_depth;
  if (outermost) {
    g_hold = new InputHold;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  // Puts back the cursor and the held input and runs the idle hooks.
  auto end_call = [outermost] {
    --g_depth;
    if (!outermost) return;
    QGuiApplication::restoreOverrideCursor();
    InputHold* hold = g_hold;
    g_hold = nullptr;
    hold->Release();
    delete hold;
    // A copy: a hook may add or remove hooks.
    auto hooks = Hooks();
    for (auto& [id, hook] : hooks)
      if (hook) hook();
  };

  QEventLoop loop;
  auto body = [call, &work, &loop] {
    {
      std::lock_guard<std::mutex> serial(g_serial);
      t_call = call;
      try {
        work();
      } catch (...) {
        call->error = std::current_exception();
      }
      t_call.reset();
    }
    {
      std::lock_guard<std::mutex> lock(call->mu);
      call->done = true;
    }
    call->cv.notify_all();
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  };
  std::thread worker;
  try {
    if (g_fail_starts) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    worker = std::thread(body);
  } catch (const std::system_error&) {
    end_call();
    if (g_start_failure) g_start_failure();
    return false;
  }

  auto finished = [&] {
    std::lock_guard<std::mutex> lock(call->mu);
    return call->done;
  };
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  // The loop ends early only when the application is quitting; then wait
  // here, still running what the worker needs of this thread.
  while (!finished()) {
    call->Drain();
    std::unique_lock<std::mutex> lock(call->mu);
    call->cv.wait(lock, [&] { return call->done || !call->tasks.empty(); });
  }
  worker.join();
  call->Drain();

  end_call();
  if (call->error) std::rethrow_exception(call->error);
  return true;
}

}  // namespace kv::app
