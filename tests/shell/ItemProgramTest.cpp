// An item's program: the approval that guards it, the "@" rule, the long
// path, documents, and each failure with its message.
#include "app/shell/ItemProgram.h"

#include <gtest/gtest.h>

#include "model/Text.h"
#include "sync/WireRecord.h"
#include "tests/shell/ShellFakes.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using shell::ItemProgramStarter;
using test::D;
using test::J;
using Outcome = ItemProgramStarter::Outcome;

class ItemProgram : public ::testing::Test {
 protected:
  ItemProgram() {
    starter.long_paths["/usr/bin/viewer"] = "/opt/viewer/bin/viewer";
    starter.long_paths["/home/u/doc.pdf"] = "/home/u/doc.pdf";
    starter.long_paths["/home/u/link"] = "/home/u/real file";
  }
  ScheduleItem Item(const std::string& execute, int index_offset = 0) {
    ScheduleItem it;
    it.Index = D(2004, 2, 2).AddSeconds(index_offset);
    it.Subject = J("定例会議");
    it.Execute = execute;
    return it;
  }
  Outcome Approved(const ScheduleItem& it) {
    approvals.Remember(it.Index, it.Execute, true);
    return programs.Start(it);
  }

  test::FakeStarter starter;
  test::FakeHost host;
  test::FakeQuestion question;
  test::MemoryApprovals approvals;
  ItemProgramStarter programs{starter, host, question, approvals};
};

TEST_F(ItemProgram, ApprovedRunsUnapprovedAsksOnceAndAChangedTextAsksAgain) {
  ScheduleItem it = Item("/usr/bin/viewer");
  question.answers = {true};
  EXPECT_EQ(programs.Start(it), Outcome::Started);
  ASSERT_EQ(question.asked.size(), 1u);
  // The question names the item and the exact text.
  const std::string q = text::ToUtf8Lossy(question.asked[0]);
  EXPECT_NE(q.find("定例会議"), std::string::npos) << q;
  EXPECT_NE(q.find("/usr/bin/viewer"), std::string::npos) << q;

  EXPECT_EQ(programs.Start(it), Outcome::Started);
  EXPECT_EQ(question.asked.size(), 1u) << "the answer is remembered";
  EXPECT_EQ(starter.starts.size(), 2u);

  // Someone changes the text (a delegate, the server): asked again.
  ScheduleItem changed = it;
  changed.Execute = "/usr/bin/viewer@/home/u/doc.pdf";
  EXPECT_EQ(programs.Start(changed), Outcome::Refused);
  EXPECT_EQ(question.asked.size(), 2u);
  EXPECT_EQ(programs.Start(changed), Outcome::Refused);
  EXPECT_EQ(question.asked.size(), 2u) << "a refusal is remembered too";
  EXPECT_EQ(starter.starts.size(), 2u);

  // The same text on another item is another approval.
  EXPECT_EQ(programs.Start(Item("/usr/bin/viewer", 1)), Outcome::Refused);
  EXPECT_EQ(question.asked.size(), 3u);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(ItemProgram, ATextFromTheWireNeverRunsUnasked) {
  ScheduleItem it = Item("");
  DecodeRecordText("Index=2004/02/02 00:00:00\x1E" "Subject=x\x1E" "Execute=/usr/bin/viewer", it);
  ASSERT_EQ(it.Execute, "/usr/bin/viewer");
  EXPECT_EQ(programs.Start(it), Outcome::Refused);
  EXPECT_EQ(question.asked.size(), 1u);
  EXPECT_TRUE(starter.starts.empty());
}

TEST_F(ItemProgram, ArgumentAfterTheFirstAtAndTheLongPaths) {
  EXPECT_EQ(Approved(Item("/usr/bin/viewer@/home/u/link")), Outcome::Started);
  EXPECT_EQ(Approved(Item("/usr/bin/viewer@a@b c", 1)), Outcome::Started);
  EXPECT_EQ(Approved(Item("/usr/bin/viewer@", 2)), Outcome::Started);
  ASSERT_EQ(starter.starts.size(), 3u);
  EXPECT_EQ(starter.starts[0].path, "/opt/viewer/bin/viewer");
  EXPECT_EQ(starter.starts[0].argv, (std::vector<std::string>{"viewer", "/home/u/real file"}));
  // Not a file: passed as it stands.
  EXPECT_EQ(starter.starts[1].argv, (std::vector<std::string>{"viewer", "a@b c"}));
  EXPECT_EQ(starter.starts[2].argv, (std::vector<std::string>{"viewer"}));

  // Japanese paths reach the process as UTF-8.
  starter.long_paths["/home/u/資料.txt"] = "/home/u/資料.txt";
  EXPECT_EQ(Approved(Item("/usr/bin/viewer@" + J("/home/u/資料.txt"), 3)), Outcome::Started);
  EXPECT_EQ(starter.starts.back().argv[1], "/home/u/資料.txt");
}

TEST_F(ItemProgram, DocumentsOpenInTheirApplicationWithoutTheArgument) {
  starter.failures["/home/u/doc.pdf"] = ENOEXEC;
  EXPECT_EQ(Approved(Item("/home/u/doc.pdf@--print")), Outcome::OpenedDocument);
  EXPECT_EQ(starter.opened, (std::vector<std::string>{"/home/u/doc.pdf"}));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(ItemProgram, EachFailureShowsItsMessage) {
  struct Case {
    int error;
    const char* text;
  };
  const Case cases[] = {
      {E2BIG, "プログラムの指定が長すぎます (E2BIG)"},
      {EINVAL, "指定のプログラムを実行できません (EINVAL)"},
      {ENOENT, "指定のプログラムまたはファイルが見つかりません (ENOENT)"},
      {ENOMEM, "メモリ不足のため指定のプログラムを実行できません (ENOMEM)"},
      {EACCES, "指定のプログラムが実行できません (13)"},
      {EISDIR, "指定のプログラムが実行できません (21)"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    starter.failures["/opt/viewer/bin/viewer"] = c.error;
    host.messages.clear();
    EXPECT_EQ(Approved(Item("/usr/bin/viewer", n++)), Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], J(c.text));
  }
}

TEST_F(ItemProgram, TextsThatCannotBeStartedAreFailedStartsNeverGuesses) {
  // 519 bytes is the longest text tried at all.
  std::string at_limit = "/usr/bin/viewer@" + std::string(519 - 16, 'a');
  ASSERT_EQ(at_limit.size(), 519u);
  EXPECT_EQ(Approved(Item(at_limit)), Outcome::Started);
  EXPECT_EQ(Approved(Item(at_limit + "a", 1)), Outcome::Failed);
  // Too long is said before anything is asked.
  EXPECT_EQ(programs.Start(Item(at_limit + "a", 2)), Outcome::Failed);
  EXPECT_TRUE(question.asked.empty());

  // The program is gone (or never was, or is not an absolute path).
  EXPECT_EQ(Approved(Item("/usr/bin/removed@/home/u/doc.pdf", 3)), Outcome::Failed);
  EXPECT_EQ(Approved(Item("viewer", 4)), Outcome::Failed);
  // Bytes that are not CP932 name no file.
  EXPECT_EQ(Approved(Item("/usr/bin/\x81", 5)), Outcome::Failed);

  EXPECT_EQ(host.messages,
            (std::vector<std::string>{J("プログラムの指定が長すぎます (E2BIG)"),
                                      J("プログラムの指定が長すぎます (E2BIG)"),
                                      J("指定のプログラムまたはファイルが見つかりません (ENOENT)"),
                                      J("指定のプログラムまたはファイルが見つかりません (ENOENT)"),
                                      J("指定のプログラムを実行できません (EINVAL)")}));
  EXPECT_EQ(starter.starts.size(), 1u);
}

}  // namespace
}  // namespace kv
