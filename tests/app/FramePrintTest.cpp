// Printing the real window's calendar into PDF files, with no printer.
#include <gtest/gtest.h>

#include <QAbstractPrintDialog>
#include <QApplication>
#include <QPageSetupDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTest>
#include <filesystem>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/app/DemoItems.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;

struct Shown {
  test::ScratchHome home;
  CCalenderApp app;
  CMainFrame* f = nullptr;
  Shown() {
    fs::create_directories(home.StoreFolder());
    EXPECT_TRUE(test::WriteStore(home.StorePath(), test::DemoItems(D(2005, 3, 9))));
    EXPECT_TRUE(app.InitInstance(home.ProgramPath()));
    f = app.mainFrame();
    f->resize(1000, 560);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(f));
    EXPECT_TRUE(test::WaitForFrame(f->view()));
  }
  const ScheduleItem* Item(const char* utf8) const {
    for (const auto& it : f->state().VisibleItems)
      if (ui::FromCp932(it.Subject) == QString::fromUtf8(utf8)) return &it;
    return nullptr;
  }
  void Click(const char* utf8) {
    const ScheduleItem* it = Item(utf8);
    ASSERT_NE(it, nullptr) << utf8;
    const CellRect r = it->CellRects[0];
    ASSERT_FALSE(r.IsEmpty()) << utf8;
    QTest::mouseClick(f->view(), Qt::LeftButton, {}, QPoint(r.left + 2, r.top + 2));
  }
  void Pdf(QPrinter& p, const std::string& file) {
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(QString::fromStdString(file));
  }
};

bool LooksLikePdf(const std::string& file) {
  const std::string bytes = test::FileBytes(file);
  return bytes.size() > 1000 && bytes.compare(0, 5, "%PDF-") == 0;
}

TEST(FramePrint, APrintedPageLeavesTheScreenAndItsClicksAsTheyWere) {
  for (Command mode : {Command::WeekUnit, Command::MonthUnit}) {
    Shown s;
    s.f->runCommand(mode);
    ASSERT_TRUE(test::WaitForFrame(s.f->view()));
    s.Click("企画会議");
    ViewState& st = s.f->state();
    ASSERT_GE(st.OwnSelection, 0);
    const auto cells = st.CellTable;
    std::vector<std::array<CellRect, kCellRectSlots>> rects;
    for (const auto& it : st.VisibleItems) rects.push_back(it.CellRects);
    const CellRect inverted = st.InvertedRect;
    const int first_hour = st.FirstHour;
    const QImage frame = s.f->view()->frameImage();
    const int runs = s.f->view()->layoutRuns();
    ASSERT_FALSE(inverted.IsEmpty());

    const std::string pdf = s.home.path() + "/page.pdf";
    s.Pdf(s.f->view()->printer(), pdf);
    ASSERT_TRUE(s.f->view()->printTo(s.f->view()->printer()));
    EXPECT_TRUE(LooksLikePdf(pdf));

    for (int i = 0; i < kCellTableSize; ++i) EXPECT_EQ(st.CellTable[i].rect, cells[i].rect) << i;
    for (size_t i = 0; i < rects.size(); ++i) EXPECT_EQ(st.VisibleItems[i].CellRects, rects[i]) << i;
    EXPECT_EQ(st.InvertedRect, inverted);
    EXPECT_EQ(st.FirstHour, first_hour);
    QCoreApplication::processEvents();
    EXPECT_EQ(s.f->view()->layoutRuns(), runs);
    EXPECT_EQ(s.f->view()->frameImage(), frame);

    // The next click meets the item drawn where it shows on the screen.
    s.Click("見積書の確認");
    ASSERT_GE(st.OwnSelection, 0);
    EXPECT_EQ(ui::FromCp932(st.VisibleItems[st.OwnSelection].Subject), QStringLiteral("見積書の確認"));
    EXPECT_EQ(s.f->paneText(0), QStringLiteral("見積書の確認"));
  }
}

TEST(FramePrint, TheThreeCommandsWorkWithoutAPrinter) {
  Shown s;
  const std::string pdf = s.home.path() + "/printed.pdf";
  s.Pdf(s.f->view()->printer(), pdf);
  bool saw_dialog = false;
  test::ModalScript dialogs;
  dialogs.then<QAbstractPrintDialog>([&](QAbstractPrintDialog* dlg) {
    saw_dialog = true;
    EXPECT_EQ(dlg->maxPage(), 1);
    dlg->accept();
  });
  s.f->runCommand(Command::Print);
  EXPECT_TRUE(saw_dialog);
  EXPECT_TRUE(LooksLikePdf(pdf));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());

  const auto cells = s.f->state().CellTable;
  bool previewed = false;
  dialogs.then<QPrintPreviewDialog>([&](QPrintPreviewDialog* dlg) {
    previewed = true;
    dlg->reject();
  });
  s.f->runCommand(Command::PrintPreview);
  EXPECT_TRUE(previewed);
  for (int i = 0; i < kCellTableSize; ++i) EXPECT_EQ(s.f->state().CellTable[i].rect, cells[i].rect);

  bool set_up = false;
  dialogs.then<QPageSetupDialog>([&](QPageSetupDialog* dlg) {
    set_up = true;
    dlg->reject();
  });
  s.f->runCommand(Command::PrintSetup);
  EXPECT_TRUE(set_up);

  // A file that cannot be written is told, not passed over.
  s.Pdf(s.f->view()->printer(), s.home.path() + "/no/such/folder/page.pdf");
  dialogs.then<QAbstractPrintDialog>([](QAbstractPrintDialog* dlg) { dlg->accept(); });
  s.f->runCommand(Command::Print);
  EXPECT_EQ(ui::MessageBox::takeShownTexts(), QStringList{QStringLiteral("印刷できませんでした。")});
}

}  // namespace
}  // namespace kv::app
