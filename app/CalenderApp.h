#pragma once
// The application object: the profile key, the document and the main
// window, and the start-up in its order.
#include <memory>
#include <string>

namespace kv::app {

class CCalenderDoc;
class CMainFrame;

class CCalenderApp {
 public:
  CCalenderApp();
  ~CCalenderApp();

  // Runs the start-up. program_path is the running program's own path
  // (the program folder is taken from it). False when the program has to
  // end at once; exitCode() then gives its status.
  bool InitInstance(const std::string& program_path);
  int exitCode() const { return exit_code_; }

  CMainFrame* mainFrame() const { return frame_.get(); }

 private:
  std::unique_ptr<CCalenderDoc> doc_;
  std::unique_ptr<CMainFrame> frame_;
  int exit_code_ = 0;
};

// Called once the main window exists and before start-up goes on: where
// the later commands, the item operations and the minute tick are wired.
void WireCommands(CMainFrame& frame);

}  // namespace kv::app
