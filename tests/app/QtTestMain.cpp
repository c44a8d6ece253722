// GoogleTest main for widget tests: one QApplication for the whole binary,
// message boxes and choosers answered by the seams, never by a person.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  kv::ui::MessageBox::setTestMode(true);
  kv::ui::FileDialog::setTestMode(true);
  kv::ui::ColorDialog::setTestMode(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
