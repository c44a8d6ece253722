// The Qt side of item programs: approvals kept in the user's settings, and
// the run question with its own button texts, answered by the seam and by
// a real box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/shell/QtRunQuestion.h"
#include "app/shell/SettingsApprovals.h"
#include "app/ui/MessageBox.h"
#include "tests/support/ModalScript.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using shell::SettingsApprovals;
using test::D;
using test::J;
using Answer = ExecuteApprovals::Answer;

TEST(SettingsApprovals, AnswersPersistPerItemAndExactText) {
  test::TempDir dir;
  const QString file = QString::fromStdString(dir.File("kalvane.ini"));
  const DateTime index = D(2004, 2, 2, 8, 30, 0);
  const std::string text = J("/home/u/会議資料.sh@議事録");
  {
    SettingsApprovals a(file);
    EXPECT_EQ(a.Lookup(index, text), Answer::Unknown);
    a.Remember(index, text, true);
    a.Remember(index.AddSeconds(1), text, false);
  }
  SettingsApprovals b(file);
  EXPECT_EQ(b.Lookup(index, text), Answer::Approved);
  EXPECT_EQ(b.Lookup(index.AddSeconds(1), text), Answer::Refused);
  EXPECT_EQ(b.Lookup(index.AddSeconds(2), text), Answer::Unknown);
  EXPECT_EQ(b.Lookup(index, text + " "), Answer::Unknown);
  EXPECT_EQ(b.Lookup(index, J("/home/u/会議資料.sh@議事")), Answer::Unknown);
  // A changed answer replaces the old one.
  b.Remember(index, text, false);
  EXPECT_EQ(b.Lookup(index, text), Answer::Refused);

  // Items without a usable Index share no approval.
  b.Remember(DateTime::Invalid(), "/bin/x", true);
  EXPECT_EQ(b.Lookup(DateTime::Invalid(), "/bin/x"), Answer::Unknown);

  // The settings hold digests, not the program texts.
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray content = f.readAll();
  EXPECT_FALSE(content.contains("/home/u/")) << content.toStdString();
  EXPECT_FALSE(content.contains("/bin/x"));
}

TEST(RunQuestion, QueuedAnswersAnswerItAndAnUnansweredBoxRunsNothing) {
  ui::MessageBox::takeShownTexts();
  shell::QtRunQuestion q;
  ui::MessageBox::setNextAnswer(QMessageBox::Yes);
  EXPECT_TRUE(q.AskToRun(J("予定「会議」")));
  EXPECT_FALSE(q.AskToRun(J("二度目")));
  EXPECT_EQ(ui::MessageBox::takeShownTexts(),
            (QStringList{QString::fromUtf8("予定「会議」"), QString::fromUtf8("二度目")}));
}

// A real box: its buttons, its default, Escape, and a click.
TEST(RunQuestion, TheBoxOffersRunAndDoNotRunWithDoNotRunAsDefault) {
  ui::MessageBox::setTestMode(false);
  shell::QtRunQuestion q;
  QStringList texts;
  QString default_text;
  test::ModalScript boxes;
  auto inspect_then = [&](bool click_run) {
    boxes.then<QMessageBox>([&, click_run](QMessageBox* box) {
      texts.clear();
      for (QAbstractButton* b : box->buttons()) texts << b->text();
      texts.sort();
      default_text = box->defaultButton() ? box->defaultButton()->text() : QString();
      if (click_run) {
        for (QAbstractButton* b : box->buttons())
          if (b->text() == QString::fromUtf8("実行")) QTest::mouseClick(b, Qt::LeftButton);
      } else {
        QTest::keyClick(box, Qt::Key_Escape);
      }
    });
  };
  inspect_then(false);
  EXPECT_FALSE(q.AskToRun(J("実行しますか？")));
  EXPECT_EQ(texts, (QStringList{QString::fromUtf8("実行"), QString::fromUtf8("実行しない")}));
  EXPECT_EQ(default_text, QString::fromUtf8("実行しない"));
  inspect_then(true);
  EXPECT_TRUE(q.AskToRun(J("実行しますか？")));
  ui::MessageBox::setTestMode(true);
}

}  // namespace
}  // namespace kv
