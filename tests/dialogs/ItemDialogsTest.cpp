// The item dialogs offscreen: initial enabled states, the live rules, the
// exchange at OK with its refusals, the recurrence editor's pages, the
// read-only dialog, and the real dialog under the add command.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "app/dialogs/ItemEditDlg.h"
#include "app/dialogs/QtItemDialogs.h"
#include "app/dialogs/RefItemDlg.h"
#include "app/dialogs/RepeatBase.h"
#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"
#include "edit/ItemClipboard.h"
#include "tests/edit/EditFakes.h"
#include "tests/support/ModalScript.h"
#include "tests/support/TestSupport.h"

namespace kv::ui {
namespace {

using kv::test::D;
using kv::test::J;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

ItemForm Sample() {
  ItemForm f = DefaultForm(D(2004, 6, 15));
  f.subject = J("会議");
  f.place = J("本社");
  f.desc = J("一行目\n二行目");
  f.start_time = D(2004, 6, 15, 10, 0, 15);
  f.end_time = D(2004, 6, 15, 11, 30, 45);
  f.end_date = f.end_time;
  f.start_date = f.start_time;
  f.color = 0x0000FF00;
  return f;
}

struct Quiet {
  Quiet() { MessageBox::takeShownTexts(); }
  ~Quiet() { MessageBox::takeShownTexts(); }
};

TEST(ItemEditDlg, InitialEnabledStatesFollowTheForm) {
  ItemEditDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), U("予定の編集"));
  const ItemControls& c = dlg.controls();
  dlg.setForm(Sample());
  EXPECT_TRUE(c.normal->isChecked());
  EXPECT_TRUE(c.startTime->isEnabled());
  EXPECT_TRUE(c.startDate->isEnabled());
  EXPECT_FALSE(c.alarmNumber->isEnabled());
  EXPECT_FALSE(c.alarmUnit->isEnabled());
  EXPECT_EQ(c.alarmNumber->text(), "5");
  EXPECT_EQ(c.alarmUnit->currentText(), U("分前"));
  EXPECT_EQ(c.startTime->dateTime().time(), QTime(10, 0, 15)) << "pickers hold seconds";

  ItemForm f = Sample();
  f.day_type = 1;
  f.start_time = D(2004, 6, 15, 0, 0, 0);
  f.end_time = D(2004, 6, 15, 23, 59, 59);
  f.repeat.RepType = 2;
  f.alarm_on = 1;
  f.alarm_number = 2;
  f.alarm_unit = J("時間前");
  dlg.setForm(f);
  EXPECT_TRUE(c.allDay->isChecked());
  EXPECT_FALSE(c.startTime->isEnabled());
  EXPECT_FALSE(c.endTime->isEnabled());
  EXPECT_FALSE(c.startDate->isEnabled());
  EXPECT_FALSE(c.endDate->isEnabled());
  EXPECT_TRUE(c.alarmNumber->isEnabled());
  EXPECT_EQ(c.alarmUnit->currentText(), U("時間前"));
  EXPECT_TRUE(c.alarmOn->isChecked());

  // 通常 gives the stored times back, enabled.
  dlg.show();
  QTest::mouseClick(c.normal, Qt::LeftButton);
  EXPECT_TRUE(c.startTime->isEnabled());
  EXPECT_EQ(c.endTime->dateTime().time(), QTime(23, 59, 59));
  QTest::mouseClick(c.allDay, Qt::LeftButton);
  EXPECT_FALSE(c.endTime->isEnabled());
  QTest::mouseClick(c.alarmOn, Qt::LeftButton);
  EXPECT_FALSE(c.alarmOn->isChecked());
  EXPECT_FALSE(c.alarmNumber->isEnabled());
  EXPECT_FALSE(c.alarmUnit->isEnabled());
  QTest::mouseClick(c.alarmOn, Qt::LeftButton);
  EXPECT_TRUE(c.alarmUnit->isEnabled());
}

TEST(ItemEditDlg, TabOrderIsTheTableOrder) {
  ItemEditDlg dlg;
  dlg.setForm(Sample());
  const ItemControls& c = dlg.controls();
  const std::vector<QWidget*> want = {c.subject, c.place,   c.normal,      c.allDay,    c.privateBox,
                                      c.startDate, c.startTime, c.endDate, c.endTime,   c.alarmOn,
                                      c.alarmNumber, c.alarmUnit, c.colour, c.repeat,   c.desc,
                                      c.execute,   c.browse,  c.ok,         c.cancel};
  std::vector<QWidget*> got;
  QWidget* w = c.subject;
  for (size_t i = 0; i < want.size(); ++i) {
    got.push_back(w);
    do {
      w = w->nextInFocusChain();
    } while (std::find(want.begin(), want.end(), w) == want.end() && w != c.subject);
  }
  EXPECT_EQ(got, want);
}

TEST(ItemEditDlg, ColourAndProgramChoosers) {
  ItemEditDlg dlg;
  dlg.setForm(Sample());
  dlg.resize(520, 620);
  dlg.show();
  const ItemControls& c = dlg.controls();
  auto centre = [&] {
    const QImage img = c.colour->grab().toImage();
    return img.pixelColor(img.width() / 2, img.height() / 2);
  };
  EXPECT_EQ(centre(), QColor(0, 255, 0)) << "the swatch shows the item's colour";
  ColorDialog::setNextColor(QColor(255, 0, 0));
  QTest::mouseClick(c.colour, Qt::LeftButton);
  EXPECT_EQ(c.colour->colorRef(), 0x000000FFu);
  EXPECT_EQ(centre(), QColor(255, 0, 0));
  QTest::mouseClick(c.colour, Qt::LeftButton);  // cancelled
  EXPECT_EQ(c.colour->colorRef(), 0x000000FFu);

  FileDialog::setNextFileName("/tmp/a folder with spaces/long program name");
  QTest::mouseClick(c.browse, Qt::LeftButton);
  EXPECT_EQ(c.execute->text(), "/tmp/a folder with spaces/long program name");
  QTest::mouseClick(c.browse, Qt::LeftButton);  // cancelled
  EXPECT_EQ(c.execute->text(), "/tmp/a folder with spaces/long program name");

  QTest::mouseClick(c.ok, Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.form().color, 0x000000FFu);
  EXPECT_EQ(dlg.form().execute, "/tmp/a folder with spaces/long program name");
}

TEST(ItemEditDlg, OkCopiesTheControlsAndUntouchedTextsKeepTheirBytes) {
  ItemForm f = Sample();
  // A character with two CP932 codes (the NEC and IBM rows) and a byte
  // sequence that is not CP932 at all: both must survive untouched.
  f.subject = std::string("\xED\x40", 2) + J("様");
  f.place = std::string("\x81", 1);
  ItemEditDlg dlg;
  dlg.setForm(f);
  dlg.show();
  const ItemControls& c = dlg.controls();
  c.desc->setPlainText(U("新しい内容\n二行"));
  c.alarmOn->setChecked(true);
  c.alarmNumber->setText(" 90 ");
  QTest::mouseClick(c.privateBox, Qt::LeftButton);
  c.endTime->setDateTime(QDateTime(QDate(2004, 6, 15), QTime(12, 34, 56), Qt::UTC));
  QTest::mouseClick(c.ok, Qt::LeftButton);
  ASSERT_EQ(dlg.result(), QDialog::Accepted);
  const ItemForm& r = dlg.form();
  EXPECT_EQ(r.subject, f.subject);
  EXPECT_EQ(r.place, f.place);
  EXPECT_EQ(r.desc, J("新しい内容\n二行"));
  EXPECT_EQ(r.alarm_on, 1);
  EXPECT_EQ(r.alarm_number, 90);
  EXPECT_EQ(r.alarm_unit, J("分前"));
  EXPECT_EQ(r.private_flag, 1);
  EXPECT_EQ(r.end_time, D(2004, 6, 15, 12, 34, 56));
  EXPECT_EQ(r.start_time, f.start_time);
  EXPECT_EQ(r.day_type, 0);
  EXPECT_EQ(r.repeat, f.repeat);
}

TEST(ItemEditDlg, RefusalsKeepTheDialogOpenWithTheInput) {
  Quiet quiet;
  struct Case {
    std::function<void(const ItemControls&)> type;
    const char* message;
  };
  const std::vector<Case> cases = {
      {[](const ItemControls& c) { c.subject->setText(QString::fromUtf8("会議\xF0\x9F\x98\x80")); },
       "件名に保存できない文字（絵文字など）が含まれています。"},
      {[](const ItemControls& c) { c.desc->setPlainText(QString::fromUtf8("\xF0\xA0\x80\x8B")); },
       "内容に保存できない文字（絵文字など）が含まれています。"},
      {[](const ItemControls& c) { c.place->setText(QString("a") + QChar(0x07)); },
       "場所に使用できない制御文字が含まれています。"},
      {[](const ItemControls& c) { c.alarmNumber->setText("1.5"); }, "整数を入力してください。"},
      {[](const ItemControls& c) {
         c.alarmOn->setChecked(true);
         c.alarmUnit->setCurrentText(U("秒前"));
       },
       "アラームの単位は「分前」「時間前」「日前」のいずれかを選んでください。"},
      {[](const ItemControls& c) {
         c.alarmOn->setChecked(true);
         c.alarmNumber->setText("99999999");
       },
       "アラームの時間が長すぎます。24855 日以内で指定してください。"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    ItemEditDlg dlg;
    dlg.setForm(Sample());
    dlg.show();
    const ItemControls& c = dlg.controls();
    QWidget* expect_focus[] = {c.subject, c.desc, c.place, c.alarmOn, c.alarmUnit, c.alarmNumber};
    cases[i].type(c);
    QApplication::setActiveWindow(&dlg);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    EXPECT_TRUE(dlg.isVisible()) << i;
    EXPECT_NE(dlg.result(), QDialog::Accepted) << i;
    EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{U(cases[i].message)}) << i;
    EXPECT_EQ(dlg.form(), Sample()) << "nothing copied back yet";
    EXPECT_EQ(dlg.focusWidget(), expect_focus[i]) << i;
    // The typed input is still there to correct.
    if (i == 0) {
      EXPECT_TRUE(c.subject->text().endsWith(QString::fromUtf8("\xF0\x9F\x98\x80")));
    }
  }
}

TEST(ItemEditDlg, CancelChangesNothing) {
  ItemEditDlg dlg;
  dlg.setForm(Sample());
  dlg.show();
  const ItemControls& c = dlg.controls();
  c.subject->setText("changed");
  c.alarmNumber->setText("not a number");
  QTest::mouseClick(c.cancel, Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_EQ(dlg.form(), Sample());
}

TEST(ItemEditDlg, RepetitionButtonRunsTheEditorAndSetsTheDatePickers) {
  ItemEditDlg dlg;
  dlg.setForm(Sample());
  dlg.show();
  const ItemControls& c = dlg.controls();
  test::ModalScript sheets;
  sheets.then<RepeatBase>([](RepeatBase* sheet) {
    EXPECT_EQ(sheet->windowTitle(), U("繰り返しアイテムの編集"));
    EXPECT_EQ(sheet->tabs()->currentIndex(), 0);
    sheet->tabs()->setCurrentIndex(1);
    sheet->tabs()->setCurrentIndex(2);
    QWidget* week = sheet->tabs()->currentWidget();
    week->findChild<QCheckBox*>("weekday1")->setChecked(true);
    week->findChild<QCheckBox*>("weekday5")->setChecked(true);
    sheet->accept();
  });
  QTest::mouseClick(c.repeat, Qt::LeftButton);
  EXPECT_EQ(dlg.form().repeat, (RepeatRule{2, 1, 34, 0, D(2004, 6, 15), D(2005, 6, 15)}));
  EXPECT_FALSE(c.startDate->isEnabled());
  EXPECT_FALSE(c.endDate->isEnabled());
  EXPECT_TRUE(c.startTime->isEnabled());

  sheets.then<RepeatBase>([](RepeatBase* sheet) {
    EXPECT_EQ(sheet->tabs()->currentIndex(), 2) << "opens on the rule's page";
    sheet->tabs()->setCurrentIndex(0);
    sheet->reject();
  });
  QTest::mouseClick(c.repeat, Qt::LeftButton);
  EXPECT_EQ(dlg.form().repeat.RepType, 2) << "cancelled";

  sheets.then<RepeatBase>([](RepeatBase* sheet) {
    sheet->tabs()->setCurrentIndex(0);
    sheet->accept();
  });
  QTest::mouseClick(c.repeat, Qt::LeftButton);
  EXPECT_EQ(dlg.form().repeat.RepType, 0);
  EXPECT_EQ(dlg.form().repeat.RepY, 34) << "なし keeps the other fields";
  EXPECT_TRUE(c.startDate->isEnabled());
}

TEST(RepeatBase, OpensOnTheRulesPageWithItsValues) {
  RepeatBase sheet(RepeatRule{6, 11, 5, 4, D(2004, 1, 1), D(2006, 12, 31, 23, 59, 0)});
  EXPECT_EQ(sheet.tabs()->count(), 7);
  QStringList titles;
  for (int i = 0; i < 7; ++i) titles << sheet.tabs()->tabText(i);
  EXPECT_EQ(titles, (QStringList{U("なし"), U("日"), U("週"), U("月(日指定)"), U("月(曜日指定)"),
                                 U("年(日指定)"), U("年(曜日指定)")}));
  EXPECT_EQ(sheet.tabs()->currentIndex(), 6);
  QWidget* page = sheet.tabs()->widget(6);
  EXPECT_EQ(page->findChild<QLineEdit*>("yearWeekdayMonth")->text(), "11");
  EXPECT_EQ(page->findChild<QComboBox*>("yearOrdinal")->currentText(), U("最終"));
  EXPECT_EQ(page->findChild<QComboBox*>("yearSelector")->currentText(), U("日曜日"));
  EXPECT_EQ(page->findChild<QDateTimeEdit*>("rangeEnd")->date(), QDate(2006, 12, 31));
  // Every other page starts from its defaults and the same range.
  QWidget* daily = sheet.tabs()->widget(1);
  EXPECT_EQ(daily->findChild<QLineEdit*>("dailyInterval")->text(), "1");
  EXPECT_EQ(daily->findChild<QDateTimeEdit*>("rangeStart")->date(), QDate(2004, 1, 1));
  sheet.accept();
  EXPECT_EQ(sheet.rule(), (RepeatRule{6, 11, 5, 4, D(2004, 1, 1), D(2006, 12, 31, 23, 59, 0)}));
}

TEST(RepeatBase, RefusedNumbersKeepTheUserOnThePage) {
  Quiet quiet;
  RepeatBase sheet(RepeatRule{0, 1, 1, 1, D(2004, 3, 1), D(2004, 3, 1)});
  sheet.show();
  QTabWidget* tabs = sheet.tabs();
  tabs->setCurrentIndex(1);
  QLineEdit* interval = tabs->widget(1)->findChild<QLineEdit*>("dailyInterval");
  for (const char* bad : {"0", "32768", "-3"}) {
    interval->setText(bad);
    tabs->setCurrentIndex(2);
    EXPECT_EQ(tabs->currentIndex(), 1) << bad;
    EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{U("1 から 32767 までの整数を入力してください。")});
  }
  interval->setText("x1");
  sheet.accept();
  EXPECT_TRUE(sheet.isVisible());
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{U("整数を入力してください。")});
  interval->setText("32767");
  tabs->setCurrentIndex(5);
  ASSERT_EQ(tabs->currentIndex(), 5);
  QWidget* yd = tabs->widget(5);
  yd->findChild<QLineEdit*>("yearDayMonth")->setText("13");
  yd->findChild<QLineEdit*>("yearDay")->setText("32");
  sheet.accept();
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{U("1 から 31 までの整数を入力してください。")})
      << "the day is checked before the month";
  yd->findChild<QLineEdit*>("yearDay")->setText("29");
  sheet.accept();
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{U("1 から 12 までの整数を入力してください。")});
  yd->findChild<QLineEdit*>("yearDayMonth")->setText("2");
  sheet.accept();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  // The showing page decides; the daily interval typed earlier is dropped.
  EXPECT_EQ(sheet.rule(), (RepeatRule{5, 2, 29, 0, D(2004, 3, 1), D(2005, 3, 1)}));
}

// Every number of every page shows its part of the rule, and what is
// typed there goes back into that part.
TEST(RepeatBase, EachPagesNumbersGoBothWays) {
  struct Field {
    const char* name;
    int32_t RepeatRule::*part;
    int32_t typed;
  };
  struct Case {
    RepeatRule rule;
    std::vector<Field> fields;
  };
  const DateTime from = D(2004, 3, 1), to = D(2004, 9, 30, 23, 59, 0);
  const Case cases[] = {
      {{1, 7, 0, 0, from, to}, {{"dailyInterval", &RepeatRule::RepX, 9}}},
      {{2, 3, 34, 0, from, to}, {{"weeklyInterval", &RepeatRule::RepX, 5}}},
      {{3, 4, 17, 0, from, to},
       {{"monthDayInterval", &RepeatRule::RepX, 6}, {"monthDay", &RepeatRule::RepY, 28}}},
      {{4, 8, 2, 5, from, to}, {{"monthWeekdayInterval", &RepeatRule::RepX, 11}}},
      {{5, 10, 21, 0, from, to},
       {{"yearDayMonth", &RepeatRule::RepX, 2}, {"yearDay", &RepeatRule::RepY, 29}}},
      {{6, 11, 4, 8, from, to}, {{"yearWeekdayMonth", &RepeatRule::RepX, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule.RepType);
    RepeatBase sheet(c.rule);
    ASSERT_EQ(sheet.tabs()->currentIndex(), c.rule.RepType);
    QWidget* page = sheet.tabs()->currentWidget();
    RepeatRule want = c.rule;
    for (const Field& f : c.fields) {
      auto* edit = page->findChild<QLineEdit*>(f.name);
      ASSERT_NE(edit, nullptr) << f.name;
      EXPECT_EQ(edit->text(), QString::number(c.rule.*f.part)) << f.name;
      edit->setText(QString::number(f.typed));
      want.*f.part = f.typed;
    }
    sheet.accept();
    EXPECT_EQ(sheet.rule(), want);
  }
}

TEST(RepeatBase, TypedComboTextsAndCancel) {
  const RepeatRule fresh{0, 1, 1, 1, D(2004, 3, 1), D(2004, 3, 1)};
  RepeatBase sheet(fresh);
  sheet.tabs()->setCurrentIndex(4);
  QWidget* mw = sheet.tabs()->widget(4);
  mw->findChild<QComboBox*>("monthOrdinal")->setCurrentText(U("第5"));
  mw->findChild<QComboBox*>("monthSelector")->setCurrentText(U("金曜日"));
  sheet.accept();
  EXPECT_EQ(sheet.rule(), (RepeatRule{4, 1, 1, 9, D(2004, 3, 1), D(2005, 3, 1)}));

  RepeatBase other(fresh);
  other.tabs()->setCurrentIndex(3);
  other.reject();
  EXPECT_EQ(other.rule(), fresh);
}

TEST(RefItemDlg, ShowsEverythingDisabledAndTheRuleInWords) {
  Quiet quiet;
  ItemForm f = Sample();
  f.day_type = 1;
  f.start_time = D(2004, 6, 15, 0, 0, 0);
  f.end_time = D(2004, 6, 15, 23, 59, 59);
  f.alarm_on = 1;
  f.alarm_number = 2;
  f.alarm_unit = J("日前");
  f.repeat = RepeatRule{3, 2, 20, 0, D(2004, 1, 15), D(2004, 12, 31)};
  RefItemDlg dlg;
  dlg.setForm(f);
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), U("予定の参照"));
  const ItemControls& c = dlg.controls();
  EXPECT_EQ(c.colour, nullptr);
  EXPECT_EQ(c.privateBox, nullptr);
  EXPECT_EQ(c.browse, nullptr);
  for (QWidget* w : {(QWidget*)c.subject, (QWidget*)c.place, (QWidget*)c.normal, (QWidget*)c.allDay,
                     (QWidget*)c.startDate, (QWidget*)c.startTime, (QWidget*)c.endDate,
                     (QWidget*)c.endTime, (QWidget*)c.alarmOn, (QWidget*)c.alarmNumber,
                     (QWidget*)c.alarmUnit, (QWidget*)c.desc, (QWidget*)c.execute})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(c.allDay->isChecked());
  EXPECT_EQ(c.endTime->dateTime().time(), QTime(23, 59, 59));
  EXPECT_TRUE(c.alarmOn->isChecked());
  EXPECT_EQ(c.alarmNumber->text(), "2");
  EXPECT_EQ(c.alarmUnit->currentText(), U("日前"));
  EXPECT_EQ(c.subject->text(), U("会議"));
  ASSERT_TRUE(c.repeat->isEnabled());
  QTest::mouseClick(c.repeat, Qt::LeftButton);
  EXPECT_EQ(MessageBox::takeShownTexts(),
            QStringList{U("2 か月ごと 20 日\n期間: 2004/01/15 ～ 2004/12/31")});
  QTest::mouseClick(c.ok, Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST(QtItemDialogs, AddCommandThroughTheRealDialog) {
  Quiet quiet;
  test::ScopedClock clock(D(2004, 6, 15, 10, 0, 0));
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("s.db")), 1);
  ViewState state = ViewState::Initial();
  state.DrawEnabled = 1;
  test::FakeServer server;
  test::Messages messages;
  QtItemDialogs dialogs(nullptr);
  ItemContext ctx{state, store, dialogs, messages, server, nullptr,
                  [&] { return LoadVisibleItems(state, store); }};

  // OK with no subject: the command says so and opens the dialog again
  // with the place that was typed.
  test::ModalScript dialogs_answered;
  dialogs_answered
      .then<ItemEditDlg>([](ItemEditDlg* d) {
        d->controls().place->setText(U("会議室"));
        QTest::mouseClick(d->controls().ok, Qt::LeftButton);
      })
      .then<ItemEditDlg>([](ItemEditDlg* d) {
        EXPECT_EQ(d->controls().place->text(), U("会議室"));
        d->controls().subject->setText(U("定例"));
        QTest::mouseClick(d->controls().ok, Qt::LeftButton);
      });
  ItemCommands(ctx).AddOwnItem();
  EXPECT_EQ(messages.texts, (std::vector<std::string>{J("件名に何も指定されていません。")}));
  const auto rows = test::Rows(store);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Subject, J("定例"));
  EXPECT_EQ(rows[0].Place, J("会議室"));
}

}  // namespace
}  // namespace kv::ui
