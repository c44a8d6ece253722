#pragma once
// The run question as a message box with the buttons 実行 / 実行しない.
#include "app/shell/RunQuestion.h"

class QWidget;

namespace kv::shell {

class QtRunQuestion final : public RunQuestion {
 public:
  explicit QtRunQuestion(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }
  // 実行しない is the default and the answer of Escape: nothing runs by a
  // stray Enter.
  bool AskToRun(const std::string& cp932) override;

 private:
  QWidget* parent_;
};

}  // namespace kv::shell
