#pragma once
// The one question the shell asks: may this item's program run?
#include <string>

namespace kv::shell {

class RunQuestion {
 public:
  virtual ~RunQuestion() = default;
  // A modal question (CP932 text) with the buttons 実行 and 実行しない;
  // true only for 実行.
  virtual bool AskToRun(const std::string& cp932) = 0;
};

}  // namespace kv::shell
