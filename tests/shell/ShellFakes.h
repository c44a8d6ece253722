#pragma once
// Stand-ins for what the shell asks of the desktop: process starts, the
// messages, the run question, the approvals.
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/shell/ProcessStarter.h"
#include "app/shell/RunQuestion.h"
#include "tests/support/MemoryApprovals.h"
#include "view/ViewHost.h"

namespace kv::test {

class FakeStarter final : public shell::ProcessStarter {
 public:
  struct Start {
    std::string path;
    std::vector<std::string> argv;
  };
  std::vector<Start> starts;
  std::vector<std::string> opened;
  // Paths LongPath knows, mapped to their long form.
  std::map<std::string, std::string> long_paths;
  // The errno a start of that path gives; 0 otherwise.
  std::map<std::string, int> failures;
  std::function<void()> on_start;

  std::optional<std::string> LongPath(const std::string& path) override {
    auto it = long_paths.find(path);
    if (it == long_paths.end()) return std::nullopt;
    return it->second;
  }
  int Start(const std::string& path, const std::vector<std::string>& argv) override {
    starts.push_back({path, argv});
    if (on_start) on_start();
    auto it = failures.find(path);
    return it == failures.end() ? 0 : it->second;
  }
  int OpenDocument(const std::string& path) override {
    opened.push_back(path);
    return 0;
  }
};

class FakeHost final : public ViewHost {
 public:
  std::vector<std::string> messages;  // CP932
  int repaints = 0;
  std::function<void()> on_message;

  void ShowMessage(const std::string& cp932) override {
    messages.push_back(cp932);
    if (on_message) on_message();
  }
  void RequestRepaint(bool) override { ++repaints; }
  void SetStatusText(int, const std::string&) override {}
};

class FakeQuestion final : public shell::RunQuestion {
 public:
  std::deque<bool> answers;  // empty: 実行しない
  std::vector<std::string> asked;
  std::function<void()> on_ask;

  bool AskToRun(const std::string& cp932) override {
    asked.push_back(cp932);
    if (on_ask) on_ask();
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
};

}  // namespace kv::test
