#include "app/dialogs/ItemControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "app/ui/QtText.h"
#include "edit/RepeatPages.h"

namespace kv::ui {

ColorSwatch::ColorSwatch(QWidget* parent) : QPushButton(parent) {
  setObjectName(QStringLiteral("colour"));
}

void ColorSwatch::setColorRef(uint32_t c) {
  color_ = c;
  update();
}

QSize ColorSwatch::sizeHint() const {
  const QFontMetrics fm(font());
  return QSize(fm.horizontalAdvance(QString(12, QLatin1Char(' '))) + 12,
               QPushButton::sizeHint().height());
}

void ColorSwatch::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton opt;
  initStyleOption(&opt);
  opt.text.clear();
  p.drawControl(QStyle::CE_PushButton, opt);
  // A band as wide as twenty blanks and one line high, centred.
  const QFontMetrics fm(font());
  const QRect inner = rect().adjusted(4, 4, -4, -4);
  QRect band(0, 0, std::min(fm.horizontalAdvance(QString(20, QLatin1Char(' '))), inner.width()),
             std::min(fm.height(), inner.height()));
  band.moveCenter(inner.center());
  p.fillRect(band, ColorOf(color_));
}

void ItemControls::Build(QDialog* dlg, bool editable) {
  auto* grid = new QGridLayout(dlg);
  int row = 0;
  auto label = [&](const char* text, Qt::Alignment a = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(Utf8(text), dlg);
    grid->addWidget(l, row, 0, a);
    return l;
  };

  label("件名");
  subject = Named(new QLineEdit(dlg), "subject");
  grid->addWidget(subject, row++, 1);

  label("場所");
  place = Named(new QLineEdit(dlg), "place");
  grid->addWidget(place, row++, 1);

  label("タイプ");
  auto* type_row = new QHBoxLayout;
  normal = Named(new QRadioButton(Utf8("通常"), dlg), "normal");
  allDay = Named(new QRadioButton(Utf8("終日"), dlg), "allDay");
  type_row->addWidget(normal);
  type_row->addWidget(allDay);
  type_row->addSpacing(24);
  if (editable) {
    privateBox = Named(new QCheckBox(Utf8("プライベート"), dlg), "private");
    type_row->addWidget(privateBox);
  }
  type_row->addStretch();
  grid->addLayout(type_row, row++, 1);

  auto picker_row = [&](const char* text, QDateTimeEdit*& date, QDateTimeEdit*& time,
                        const char* date_name, const char* time_name) {
    label(text);
    auto* h = new QHBoxLayout;
    date = Named(MakeDatePicker(dlg), date_name);
    time = Named(MakeTimePicker(dlg), time_name);
    h->addWidget(date, 1);
    h->addWidget(time, 1);
    grid->addLayout(h, row++, 1);
  };
  picker_row("開始時刻", startDate, startTime, "startDate", "startTime");
  picker_row("終了時刻", endDate, endTime, "endDate", "endTime");

  label("アラーム");
  auto* alarm_row = new QHBoxLayout;
  alarmOn = Named(new QCheckBox(dlg), "alarmOn");
  alarmNumber = MakeNumberEdit(dlg, "alarmNumber");
  alarmUnit = MakeTextCombo(dlg, kAlarmUnitTexts, "alarmUnit");
  alarm_row->addWidget(alarmOn);
  alarm_row->addWidget(alarmNumber);
  alarm_row->addWidget(alarmUnit);
  alarm_row->addStretch();
  if (editable) {
    alarm_row->addWidget(new QLabel(Utf8("表示色"), dlg), 0, Qt::AlignRight | Qt::AlignVCenter);
    colour = new ColorSwatch(dlg);
    alarm_row->addWidget(colour);
  }
  repeat = Named(new QPushButton(Utf8("繰り返し"), dlg), "repeat");
  repeat->setAutoDefault(false);
  alarm_row->addWidget(repeat);
  grid->addLayout(alarm_row, row++, 1);

  label("内容", Qt::AlignLeft | Qt::AlignTop);
  desc = Named(new QPlainTextEdit(dlg), "desc");
  desc->setTabChangesFocus(true);
  desc->setMinimumHeight(QFontMetrics(desc->font()).lineSpacing() * 12);
  grid->addWidget(desc, row, 1);
  grid->setRowStretch(row++, 1);

  label("実行ファイル");
  auto* exec_row = new QHBoxLayout;
  execute = Named(new QLineEdit(dlg), "execute");
  exec_row->addWidget(execute, 1);
  if (editable) {
    browse = Named(new QPushButton(QStringLiteral("..."), dlg), "browse");
    browse->setAutoDefault(false);
    browse->setMaximumWidth(QFontMetrics(browse->font()).horizontalAdvance(QStringLiteral("....")) + 16);
    exec_row->addWidget(browse);
  }
  grid->addLayout(exec_row, row++, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  ok = Named(new QPushButton(QStringLiteral("OK"), dlg), "ok");
  ok->setDefault(true);
  buttons->addWidget(ok);
  if (editable) {
    buttons->addSpacing(40);
    cancel = Named(new QPushButton(Utf8("ｷｬﾝｾﾙ"), dlg), "cancel");
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
  }
  buttons->addStretch();
  grid->addLayout(buttons, row++, 0, 1, 2);
  grid->setColumnStretch(1, 1);

  QWidget* order[] = {subject,   place,   normal,      allDay,    privateBox, startDate, startTime,
                      endDate,   endTime, alarmOn,     alarmNumber, alarmUnit, colour,  repeat,
                      desc,      execute, browse,      ok,        cancel};
  QWidget* prev = nullptr;
  for (QWidget* w : order) {
    if (!w) continue;
    if (prev) QWidget::setTabOrder(prev, w);
    prev = w;
  }

  if (!editable) {
    for (QWidget* w : std::initializer_list<QWidget*>{subject, place, normal, allDay, startDate,
                                                      startTime, endDate, endTime, alarmOn,
                                                      alarmNumber, alarmUnit, desc, execute})
      w->setEnabled(false);
  }
}

void ItemControls::Load(const ItemForm& f) {
  subject->setText(subject_v_.Load(f.subject));
  place->setText(place_v_.Load(f.place));
  // Neither button set is a state of its own.
  normal->setAutoExclusive(false);
  allDay->setAutoExclusive(false);
  normal->setChecked(f.day_type == 0);
  allDay->setChecked(f.day_type == 1);
  normal->setAutoExclusive(true);
  allDay->setAutoExclusive(true);
  if (privateBox) privateBox->setChecked(f.private_flag == 1);
  start_date_v_.Load(startDate, f.start_date);
  start_time_v_.Load(startTime, f.start_time);
  end_date_v_.Load(endDate, f.end_date);
  end_time_v_.Load(endTime, f.end_time);
  alarmOn->setChecked(f.alarm_on == 1);
  alarmNumber->setText(QString::number(f.alarm_number));
  alarmUnit->setCurrentText(unit_v_.Load(f.alarm_unit));
  if (colour) colour->setColorRef(f.color);
  desc->setPlainText(desc_v_.Load(f.desc));
  execute->setText(execute_v_.Load(f.execute));
}

bool ItemControls::Read(ItemForm& f, QString& message, QWidget*& culprit) const {
  ItemForm r = f;
  auto text = [&](const TextValue& v, const QString& shown, std::string& out,
                  std::string_view name, QWidget* w) {
    if (v.Read(shown, out)) return true;
    message = FromCp932(UnrepresentableMessage(name));
    culprit = w;
    return false;
  };
  if (!text(subject_v_, subject->text(), r.subject, field::Subject, subject)) return false;
  if (!text(place_v_, place->text(), r.place, field::Place, place)) return false;
  const QByteArray number = alarmNumber->text().toUtf8();
  const auto n = ParseDialogInt(std::string_view(number.constData(), number.size()));
  if (!n) {
    message = FromCp932(NotIntegerMessage());
    culprit = alarmNumber;
    return false;
  }
  r.alarm_number = *n;
  if (!text(desc_v_, desc->toPlainText(), r.desc, field::Desc, desc)) return false;
  if (!text(execute_v_, execute->text(), r.execute, field::Execute, execute)) return false;
  // A unit CP932 cannot hold is no unit; refused below while the alarm is on.
  if (!unit_v_.Read(alarmUnit->currentText(), r.alarm_unit)) r.alarm_unit.clear();
  r.day_type = normal->isChecked() ? 0 : allDay->isChecked() ? 1 : -1;
  if (privateBox) r.private_flag = privateBox->isChecked() ? 1 : 0;
  if (colour) r.color = colour->colorRef();
  r.start_date = start_date_v_.Read(startDate);
  r.start_time = start_time_v_.Read(startTime);
  r.end_date = end_date_v_.Read(endDate);
  r.end_time = end_time_v_.Read(endTime);
  r.alarm_on = alarmOn->isChecked() ? 1 : 0;
  FormField which = FormField::Subject;
  if (auto m = CheckFormFields(r, &which)) {
    message = FromCp932(*m);
    QWidget* by_field[] = {subject, place, alarmNumber, desc, execute};
    culprit = by_field[static_cast<int>(which)];
    if (which == FormField::Alarm && !AlarmSeconds(0, r.alarm_unit)) culprit = alarmUnit;
    return false;
  }
  f = std::move(r);
  return true;
}

}  // namespace kv::ui
