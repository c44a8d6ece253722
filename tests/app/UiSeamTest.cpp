#include <gtest/gtest.h>

#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/support/TestSupport.h"

namespace kv::ui {
namespace {

TEST(UiSeam, QueuedAnswersComeInOrderThenTheDefault) {
  MessageBox::takeShownTexts();
  MessageBox::setNextAnswer(QMessageBox::Yes);
  MessageBox::setNextAnswer(QMessageBox::Cancel);
  EXPECT_EQ(MessageBox::question(nullptr, "a"), QMessageBox::Yes);
  EXPECT_EQ(MessageBox::warning(nullptr, "b", QMessageBox::Ok | QMessageBox::Cancel),
            QMessageBox::Cancel);
  EXPECT_EQ(MessageBox::question(nullptr, "c", QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No),
            QMessageBox::No);
  EXPECT_EQ(MessageBox::takeShownTexts(), (QStringList{"a", "b", "c"}));
  EXPECT_TRUE(MessageBox::takeShownTexts().isEmpty());
}

TEST(UiSeam, ChoosersTakeQueuedAnswersAndCancelOtherwise) {
  FileDialog::setNextFileName("/tmp/x y/prog");
  EXPECT_EQ(FileDialog::getOpenFileName(nullptr, "t"), "/tmp/x y/prog");
  EXPECT_TRUE(FileDialog::getOpenFileName(nullptr, "t").isEmpty());
  ColorDialog::setNextColor(QColor(1, 2, 3));
  EXPECT_EQ(ColorDialog::getColor(Qt::black, nullptr), QColor(1, 2, 3));
  EXPECT_FALSE(ColorDialog::getColor(Qt::black, nullptr).has_value());
}

TEST(UiSeam, TextsCrossTheWidgetEdgeOnlyWhenCp932HoldsThem) {
  const std::string kaigi = test::J("会議ｶﾅ");
  EXPECT_EQ(FromCp932(kaigi), QString::fromUtf8("会議ｶﾅ"));
  EXPECT_EQ(ToCp932(QString::fromUtf8("会議ｶﾅ")), kaigi);
  EXPECT_FALSE(ToCp932(QString::fromUtf8("会議\xF0\x9F\x98\x80")).has_value());  // emoji
  EXPECT_EQ(FromCp932("\x81"), QString(QChar(0xFFFD)));  // a lone lead byte
}

}  // namespace
}  // namespace kv::ui
