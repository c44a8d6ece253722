#include "app/dialogs/RepeatBase.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/dialogs/DialogSupport.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "model/Clock.h"

namespace kv::ui {

namespace {

std::string S(const QString& q) { return q.toUtf8().toStdString(); }

}  // namespace

RepeatBase::RepeatBase(const RepeatRule& rule, QWidget* parent) : QDialog(parent), rule_(rule) {
  setWindowTitle(QString::fromUtf8("繰り返しアイテムの編集"));
  auto* v = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("pages"));
  // All seven tabs in view: the showing one decides, so none may hide.
  tabs_->setUsesScrollButtons(false);
  tabs_->setElideMode(Qt::ElideNone);
  for (int p = 0; p < kRepeatPageCount; ++p) tabs_->addTab(BuildPage(p), Utf8(kRepeatPageTitles[p]));
  v->addWidget(tabs_);
  QPushButton *ok = nullptr, *cancel = nullptr;
  v->addWidget(MakeOkCancel(this, Utf8("ｷｬﾝｾﾙ"), &ok, &cancel));
  Named(ok, "ok");
  Named(cancel, "cancel");

  int first = PageNone;
  data_ = LoadRepeatPages(rule, &first);
  Show(data_);
  tabs_->setCurrentIndex(first);
  shown_ = first;
  connect(tabs_, &QTabWidget::currentChanged, this, &RepeatBase::TabChanged);
}

QWidget* RepeatBase::BuildPage(int p) {
  auto* w = new QWidget;
  auto* grid = new QGridLayout(w);
  Page& page = pages_[p];
  auto number = [&](int control, const char* name) {
    QLineEdit* e = MakeNumberEdit(w, name);
    page.numbers[control] = e;
    return e;
  };
  auto line = [&](int row, std::initializer_list<QWidget*> widgets) {
    auto* h = new QHBoxLayout;
    for (QWidget* x : widgets) h->addWidget(x);
    h->addStretch();
    grid->addLayout(h, row, 0);
  };
  auto text = [&](const char* t) { return new QLabel(Utf8(t), w); };

  switch (p) {
    case PageNone:
      grid->addWidget(text("定期的な予定は設定されません"), 0, 0);
      break;
    case PageDaily:
      line(0, {text("間隔"), number(1080, "dailyInterval"), text("日毎")});
      break;
    case PageWeekly: {
      line(0, {text("間隔"), number(1081, "weeklyInterval"), text("週毎")});
      auto* days = new QGridLayout;
      for (int d = 0; d < 7; ++d) {
        weekdays_[d] = new QCheckBox(Utf8(kWeekdayTexts[d]), w);
        weekdays_[d]->setObjectName(QStringLiteral("weekday%1").arg(d));
        days->addWidget(weekdays_[d], d / 4, d % 4);
      }
      grid->addLayout(days, 1, 0);
      break;
    }
    case PageMonthDay:
      line(0, {text("間隔"), number(1089, "monthDayInterval"), text("ヶ月毎")});
      line(1, {text("実行日"), number(1090, "monthDay"), text("日")});
      break;
    case PageMonthWeekday:
      line(0, {text("間隔"), number(1091, "monthWeekdayInterval"), text("ヶ月毎")});
      month_ordinal_ = MakeTextCombo(w, kOrdinalTexts, "monthOrdinal");
      month_selector_ = MakeTextCombo(w, kSelectorTexts, "monthSelector");
      line(1, {text("実行日"), month_ordinal_, month_selector_});
      break;
    case PageYearDay:
      line(0, {text("指定日"), number(1097, "yearDayMonth"), text("月"), number(1098, "yearDay"),
               text("日")});
      break;
    case PageYearWeekday:
      line(0, {text("指定月"), number(1097, "yearWeekdayMonth"), text("月")});
      year_ordinal_ = MakeTextCombo(w, kOrdinalTexts, "yearOrdinal");
      year_selector_ = MakeTextCombo(w, kSelectorTexts, "yearSelector");
      line(1, {text("実行日"), year_ordinal_, year_selector_});
      break;
  }
  if (p != PageNone) {
    page.range_start = Named(MakeDatePicker(w), "rangeStart");
    page.range_end = Named(MakeDatePicker(w), "rangeEnd");
    line(3, {text("開始日"), page.range_start, text("終了日"), page.range_end});
  }
  grid->setRowStretch(2, 1);
  return w;
}

void RepeatBase::Show(const RepeatPagesData& d) {
  for (int p = 1; p < kRepeatPageCount; ++p) {
    int n = 0;
    const PageField* fields = PageFields(p, &n);
    for (int i = 0; i < n; ++i)
      pages_[p].numbers[fields[i].control]->setText(QString::number(d.*fields[i].value));
  }
  for (int i = 0; i < 7; ++i) weekdays_[i]->setChecked(d.weekdays[i]);
  month_ordinal_->setCurrentText(Utf8(d.month_ordinal));
  month_selector_->setCurrentText(Utf8(d.month_selector));
  year_ordinal_->setCurrentText(Utf8(d.year_ordinal));
  year_selector_->setCurrentText(Utf8(d.year_selector));
  for (int p = 1; p < kRepeatPageCount; ++p) {
    // A range the picker cannot show starts on today.
    QDateTime s = ToQt(d.range_start[p]), e = ToQt(d.range_end[p]);
    const QDateTime today = ToQt(kv::Now().DateOnly());
    pages_[p].range_start->setDateTime(s.isValid() ? s : today);
    pages_[p].range_end->setDateTime(e.isValid() ? e : rule_.RepType == 0 ? today.addYears(1) : today);
  }
}

bool RepeatBase::Exchange(int p, QLineEdit** culprit) {
  int n = 0;
  const PageField* fields = PageFields(p, &n);
  int64_t values[2] = {0, 0};
  for (int i = 0; i < n; ++i) {
    QLineEdit* e = pages_[p].numbers[fields[i].control];
    const std::string t = S(e->text());
    const auto v = ParseDialogInt(t);
    QString message;
    if (!v)
      message = FromCp932(NotIntegerMessage());
    else if (*v < fields[i].lo || *v > fields[i].hi)
      message = FromCp932(RangeMessage(fields[i].lo, fields[i].hi));
    if (!message.isEmpty()) {
      MessageBox::warning(this, message);
      if (culprit) *culprit = e;
      return false;
    }
    values[i] = *v;
  }
  for (int i = 0; i < n; ++i) data_.*fields[i].value = values[i];
  switch (p) {
    case PageWeekly:
      for (int i = 0; i < 7; ++i) data_.weekdays[i] = weekdays_[i]->isChecked();
      break;
    case PageMonthWeekday:
      data_.month_ordinal = S(month_ordinal_->currentText());
      data_.month_selector = S(month_selector_->currentText());
      break;
    case PageYearWeekday:
      data_.year_ordinal = S(year_ordinal_->currentText());
      data_.year_selector = S(year_selector_->currentText());
      break;
    default: break;
  }
  if (p != PageNone) {
    data_.range_start[p] = FromQt(pages_[p].range_start->dateTime());
    data_.range_end[p] = FromQt(pages_[p].range_end->dateTime());
  }
  return true;
}

void RepeatBase::Focus(QLineEdit* e) {
  if (!e) return;
  e->setFocus();
  e->selectAll();
}

void RepeatBase::TabChanged(int index) {
  if (reverting_) return;
  QLineEdit* culprit = nullptr;
  if (!Exchange(shown_, &culprit)) {
    // Back to the page with the refused value.
    reverting_ = true;
    tabs_->setCurrentIndex(shown_);
    reverting_ = false;
    Focus(culprit);
    return;
  }
  shown_ = index;
}

void RepeatBase::accept() {
  shown_ = tabs_->currentIndex();
  QLineEdit* culprit = nullptr;
  if (!Exchange(shown_, &culprit)) {
    Focus(culprit);
    return;
  }
  rule_ = RepeatResult(data_, shown_, rule_);
  QDialog::accept();
}

}  // namespace kv::ui
