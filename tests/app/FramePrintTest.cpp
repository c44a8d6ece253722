// Printing the real window's calendar into PDF files, with no printer.
#include <gtest/gtest.h>

#include <QAbstractPrintDialog>
#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QPageLayout>
#include <QProcess>
#include <QPushButton>
#include <QPageSetupDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTest>
#include <algorithm>
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
  const ViewItem* Item(const char* utf8) const {
    for (const auto& it : f->state().VisibleItems)
      if (ui::FromCp932(it.Subject) == QString::fromUtf8(utf8)) return &it;
    return nullptr;
  }
  void Click(const char* utf8) {
    const ViewItem* it = Item(utf8);
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
    std::vector<CellRectList> rects;
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
  // Margins chosen in the page set-up survive the print dialog.
  s.f->view()->printer().setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
  s.f->runCommand(Command::Print);
  EXPECT_TRUE(saw_dialog);
  EXPECT_TRUE(LooksLikePdf(pdf));
  EXPECT_EQ(s.f->view()->printer().pageLayout().margins(QPageLayout::Millimeter),
            QMarginsF(15, 12, 15, 12));
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

// The page of a PDF file as an image, by poppler's pdftoppm.
QImage PdfPage(const std::string& pdf, int dpi) {
  const QString png = QString::fromStdString(pdf) + QStringLiteral(".png");
  QProcess p;
  p.start(QStringLiteral("pdftoppm"),
          {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"),
           QStringLiteral("-singlefile"), QString::fromStdString(pdf),
           QString::fromStdString(pdf)});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
  return QImage(png).convertToFormat(QImage::Format_Grayscale8);
}

// Where anything is drawn on the page, and how many dark pixels the
// darkest of the first or last three columns has inside that box.
struct Ink {
  QRect box;
  int left_line = 0, right_line = 0;
};
Ink InkOf(const QImage& g) {
  Ink ink;
  int l = g.width(), t = g.height(), r = -1, b = -1;
  for (int y = 0; y < g.height(); ++y) {
    const uchar* row = g.constScanLine(y);
    for (int x = 0; x < g.width(); ++x) {
      if (row[x] >= 235) continue;
      l = std::min(l, x), r = std::max(r, x), t = std::min(t, y), b = std::max(b, y);
    }
  }
  if (r < 0) return ink;
  ink.box = QRect(QPoint(l, t), QPoint(r, b));
  auto dark_in = [&](int x) {
    int n = 0;
    for (int y = t; y <= b; ++y) n += g.constScanLine(y)[x] < 128;
    return n;
  };
  for (int k = 0; k < 3; ++k) {
    ink.left_line = std::max(ink.left_line, dark_in(std::min(l + k, r)));
    ink.right_line = std::max(ink.right_line, dark_in(std::max(r - k, l)));
  }
  return ink;
}

TEST(FramePrint, APrintedMonthKeepsItsMarginsAndIsFramedAllRound) {
  Shown s;
  s.f->runCommand(Command::MonthUnit);
  ASSERT_TRUE(test::WaitForFrame(s.f->view()));
  QPrinter& printer = s.f->view()->printer();
  const QMarginsF mm = printer.pageLayout().margins(QPageLayout::Millimeter);
  EXPECT_GE(std::min({mm.left(), mm.top(), mm.right(), mm.bottom()}), 10.0);

  constexpr int kDpi = 192;
  constexpr double kPxPerMm = kDpi / 25.4;
  for (double margin : {10.0, 20.0}) {  // 20 mm as the page set-up would set it
    SCOPED_TRACE(margin);
    printer.setPageMargins(QMarginsF(margin, margin, margin, margin), QPageLayout::Millimeter);
    const std::string pdf = s.home.path() + "/month" + std::to_string(int(margin)) + ".pdf";
    s.Pdf(printer, pdf);
    ASSERT_TRUE(s.f->view()->printTo(printer));
    const QImage page = PdfPage(pdf, kDpi);
    ASSERT_FALSE(page.isNull()) << "pdftoppm could not render " << pdf;
    const Ink ink = InkOf(page);
    ASSERT_TRUE(ink.box.isValid());
    const int edge = int(margin * kPxPerMm) - 1;
    EXPECT_GE(ink.box.left(), edge);
    EXPECT_GE(ink.box.top(), edge);
    EXPECT_LE(ink.box.right(), page.width() - edge);
    EXPECT_LE(ink.box.bottom(), page.height() - edge);
    // The leftmost and rightmost ink are lines down the whole page: the
    // left of the Sundays, and no short stroke out at the top right.
    EXPECT_GT(ink.left_line, ink.box.height() * 9 / 10);
    EXPECT_GT(ink.right_line, ink.box.height() * 9 / 10);
  }
}

QString CancelText(QWidget* dlg) {
  for (auto* box : dlg->findChildren<QDialogButtonBox*>())
    if (QPushButton* b = box->button(QDialogButtonBox::Cancel)) return b->text();
  return QStringLiteral("<no cancel button>");
}

TEST(FramePrint, QtsOwnDialogsSpeakJapaneseOnceTheCalendarHasStarted) {
  const QString japanese = QStringLiteral("キャンセル");
  Shown s;
  QColorDialog colours;
  EXPECT_EQ(CancelText(&colours), japanese);

  s.Pdf(s.f->view()->printer(), s.home.path() + "/unused.pdf");
  QString print_cancel, setup_cancel;
  test::ModalScript dialogs;
  dialogs.then<QAbstractPrintDialog>([&](QAbstractPrintDialog* dlg) {
    print_cancel = CancelText(dlg);
    dlg->reject();
  });
  s.f->runCommand(Command::Print);
  dialogs.then<QPageSetupDialog>([&](QPageSetupDialog* dlg) {
    setup_cancel = CancelText(dlg);
    dlg->reject();
  });
  s.f->runCommand(Command::PrintSetup);
  EXPECT_EQ(print_cancel, japanese);
  EXPECT_EQ(setup_cancel, japanese);
}

}  // namespace
}  // namespace kv::app
