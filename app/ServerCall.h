#pragma once
// Server requests off the GUI thread, so the calendar never freezes.
//
// ServerCall::Run(work) runs `work` on a worker thread and waits for it in
// a local event loop: the windows keep painting, posted calls run, and a
// wait cursor shows; keyboard and mouse input to the windows that were open
// when the call began is held and delivered once it is over (a box opened
// meanwhile, such as a sign-in message, takes input as usual). Calls never
// overlap: one started while another runs waits for it.
//
// The worker must leave widgets, the view state and the store to the GUI
// thread: what has to happen there goes through OnGuiThread, which waits
// for it. While Running() is true the GUI thread must not use the store.
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace kv::app {

class ServerCall {
 public:
  // Returns work's result; an exception thrown by work is rethrown here.
  // Must be called on the GUI thread. When no worker can be started, work
  // does not run, the failure is reported and the result is R{} (0, a
  // failed request).
  template <class F>
  static auto Run(F&& work) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
      RunVoid([&] { work(); });
    } else {
      std::optional<R> result;
      if (!RunVoid([&] { result.emplace(work()); }) || !result) return R{};
      return std::move(*result);
    }
  }
  // False when no worker could be started (work did not run).
  static bool RunVoid(const std::function<void()>& work);

  // Told on the GUI thread when a worker cannot be started.
  static void SetStartFailureReporter(std::function<void()> report);
  // Test seam: the next worker starts fail as if the system had no threads left.
  static void FailWorkerStartsForTest(bool fail);

  // Runs f on the GUI thread and returns when it has run (at once when
  // already there). Exceptions from f are rethrown in the caller.
  static void OnGuiThread(const std::function<void()>& f);

  // From the start of the outermost call to its end; GUI thread only.
  static bool Running();

  // Called on the GUI thread each time the outermost call has ended.
  static int AddIdleHook(std::function<void()> hook);
  static void RemoveIdleHook(int id);
};

}  // namespace kv::app
