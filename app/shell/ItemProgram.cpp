#include "app/shell/ItemProgram.h"

#include <cerrno>
#include <cstdio>

#include "model/Text.h"
#include "view/Texts.h"

namespace kv::shell {

std::string StartFailureText(const char* utf8_text, int error) {
  std::string out = Cp932(utf8_text);
  if (auto name = StartErrorName(error)) {
    out += " (" + *name + ")";
  } else {
    char num[16];
    std::snprintf(num, sizeof num, "%d", error);
    out += std::string(" (") + num + ")";
  }
  return out;
}

namespace {

// Line breaks in a text from someone else could push the program out of
// sight or fake the question's own lines. CP932 trail bytes are never
// below 0x40, so a byte scan is exact.
std::string OneLine(std::string cp932) {
  for (char& c : cp932)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return cp932;
}

}  // namespace

std::string RunQuestionText(const ScheduleItem& item) {
  const ExecuteParts parts = SplitExecute(item.Execute);
  std::string out = Cp932("予定「") + OneLine(text::CutBytes(item.Subject, 127)) +
                    Cp932("」に次のプログラムが指定されています。\n\nプログラム: ") +
                    OneLine(parts.program);
  if (parts.argument) out += Cp932("\n引数: ") + OneLine(*parts.argument);
  return out + Cp932("\n\nこのコンピュータではまだ許可されていません。実行しますか？");
}

ExecuteParts SplitExecute(const std::string& execute) {
  const std::size_t at = execute.find('@');
  if (at == std::string::npos) return {execute, std::nullopt};
  ExecuteParts p{execute.substr(0, at), execute.substr(at + 1)};
  // "prog@" names no argument; an empty one would only confuse the program.
  if (p.argument->empty()) p.argument.reset();
  return p;
}

ItemProgramStarter::Outcome ItemProgramStarter::Fail(const char* utf8_text, int error) {
  messages_.ShowMessage(StartFailureText(utf8_text, error));
  return Outcome::Failed;
}

bool ItemProgramStarter::Approved(const ScheduleItem& item) {
  switch (approvals_.Lookup(item.Index, item.Execute)) {
    case ExecuteApprovals::Answer::Approved: return true;
    case ExecuteApprovals::Answer::Refused: return false;
    case ExecuteApprovals::Answer::Unknown: break;
  }
  const bool yes = question_.AskToRun(RunQuestionText(item));
  approvals_.Remember(item.Index, item.Execute, yes);
  return yes;
}

ItemProgramStarter::Outcome ItemProgramStarter::Start(const ScheduleItem& item) {
  if (item.Execute.size() > kMaxExecuteBytes) return Fail("プログラムの指定が長すぎます", E2BIG);
  if (!Approved(item)) return Outcome::Refused;

  const ExecuteParts parts = SplitExecute(item.Execute);
  const auto program = text::ToUtf8(parts.program);
  std::optional<std::string> argument;
  if (parts.argument) argument = text::ToUtf8(*parts.argument);
  if (!program || (parts.argument && !argument))
    return Fail("指定のプログラムを実行できません", EINVAL);

  // A program that no longer exists is a failed start, never a guess.
  const auto long_path = starter_.LongPath(*program);
  if (!long_path) return Fail("指定のプログラムまたはファイルが見つかりません", ENOENT);
  if (argument) {
    if (auto long_arg = starter_.LongPath(*argument)) argument = long_arg;
  }

  std::vector<std::string> argv{long_path->substr(long_path->rfind('/') + 1)};
  if (argument) argv.push_back(*argument);

  const int rc = starter_.Start(*long_path, argv);
  switch (rc) {
    case 0: return Outcome::Started;
    case ENOEXEC:
      // A document: its application opens it, without the argument.
      starter_.OpenDocument(*long_path);
      return Outcome::OpenedDocument;
    case E2BIG: return Fail("プログラムの指定が長すぎます", rc);
    case EINVAL: return Fail("指定のプログラムを実行できません", rc);
    case ENOENT: return Fail("指定のプログラムまたはファイルが見つかりません", rc);
    case ENOMEM: return Fail("メモリ不足のため指定のプログラムを実行できません", rc);
    default: return Fail("指定のプログラムが実行できません", rc);
  }
}

}  // namespace kv::shell
