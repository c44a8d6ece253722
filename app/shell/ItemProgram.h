#pragma once
// Starting the program or document named by an item's Execute text, at
// the item's start minute. The text may have come from the server, so it
// runs only once this user has approved that exact text for that item.
#include <optional>
#include <string>

#include "app/shell/ProcessStarter.h"
#include "app/shell/RunQuestion.h"
#include "edit/ExecuteApprovals.h"
#include "edit/ItemForm.h"
#include "model/ScheduleItem.h"
#include "view/ViewHost.h"

namespace kv::shell {


// "text (ENAME)" or "text (number)", as CP932; text is a UTF-8 literal.
std::string StartFailureText(const char* utf8_text, int error);

// The question put before an unapproved text runs (CP932).
std::string RunQuestionText(const ScheduleItem& item);

// The Execute text split at its first "@": program and optional argument.
struct ExecuteParts {
  std::string program;
  std::optional<std::string> argument;
};
ExecuteParts SplitExecute(const std::string& execute);

class ItemProgramStarter {
 public:
  enum class Outcome { Started, OpenedDocument, Refused, Failed };

  ItemProgramStarter(ProcessStarter& starter, MessageSink& messages, RunQuestion& question,
                     ExecuteApprovals& approvals)
      : starter_(starter), messages_(messages), question_(question), approvals_(approvals) {}

  // Asks first when the text is not yet approved; failures are shown.
  Outcome Start(const ScheduleItem& item);

 private:
  bool Approved(const ScheduleItem& item);
  Outcome Fail(const char* utf8_text, int error);

  ProcessStarter& starter_;
  MessageSink& messages_;
  RunQuestion& question_;
  ExecuteApprovals& approvals_;
};

}  // namespace kv::shell
