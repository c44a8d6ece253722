#include "app/dialogs/DialogSupport.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/QtText.h"
#include "model/Clock.h"

namespace kv::ui {

QString Utf8(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QLineEdit* MakeNumberEdit(QWidget* parent, const char* name) {
  auto* e = Named(new QLineEdit(parent), name);
  e->setAlignment(Qt::AlignRight);
  e->setMaximumWidth(QFontMetrics(e->font()).horizontalAdvance(QStringLiteral("0000000")) + 12);
  return e;
}

QComboBox* MakeTextCombo(QWidget* parent, std::span<const std::string_view> items, const char* name) {
  auto* c = Named(new QComboBox(parent), name);
  c->setEditable(true);
  c->setInsertPolicy(QComboBox::NoInsert);
  for (std::string_view t : items) c->addItem(Utf8(t));
  return c;
}

QDialogButtonBox* MakeOkCancel(QDialog* dlg, const QString& cancel_text, QPushButton** ok,
                               QPushButton** cancel) {
  auto* box = new QDialogButtonBox(dlg);
  QPushButton* o = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  o->setDefault(true);
  QPushButton* c = box->addButton(cancel_text, QDialogButtonBox::RejectRole);
  // Through the virtual slots, so a dialog's own accept() checks first.
  QObject::connect(box, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
  if (ok) *ok = o;
  if (cancel) *cancel = c;
  return box;
}

QDateTime ToQt(const DateTime& d) {
  int y, mo, da, h, mi, s;
  if (!d.Split(y, mo, da, h, mi, s)) return {};
  return QDateTime(QDate(y, mo, da), QTime(h, mi, s), Qt::UTC);
}

DateTime FromQt(const QDateTime& q) {
  if (!q.isValid()) return DateTime::Invalid();
  const QDate d = q.date();
  const QTime t = q.time();
  return DateTime::FromParts(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

QColor ColorOf(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

uint32_t ColorRefOf(const QColor& c) {
  return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
         (static_cast<uint32_t>(c.blue()) << 16);
}

namespace {

QDateTimeEdit* MakePicker(QWidget* parent, const char* format, bool popup) {
  auto* e = new QDateTimeEdit(parent);
  e->setTimeSpec(Qt::UTC);
  // The same years a DateTime can split into.
  e->setDateTimeRange(QDateTime(QDate(100, 1, 1), QTime(0, 0), Qt::UTC),
                      QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC));
  e->setDisplayFormat(QString::fromLatin1(format));
  e->setCalendarPopup(popup);
  return e;
}

}  // namespace

QDateTimeEdit* MakeDatePicker(QWidget* parent) {
  QDateTimeEdit* e = MakePicker(parent, "yyyy/MM/dd", true);
  e->setAlignment(Qt::AlignRight);
  return e;
}

QDateTimeEdit* MakeTimePicker(QWidget* parent) { return MakePicker(parent, "HH:mm:ss", false); }

void PickerValue::Load(QDateTimeEdit* edit, const DateTime& value) {
  loaded_ = value;
  QDateTime q = ToQt(value);
  if (!q.isValid()) q = ToQt(kv::Now());
  edit->setDateTime(q);
  shown_ = edit->dateTime();
}

DateTime PickerValue::Read(const QDateTimeEdit* edit) const {
  const QDateTime now = edit->dateTime();
  return now == shown_ ? loaded_ : FromQt(now);
}

QString TextValue::Load(const std::string& cp932) {
  loaded_ = cp932;
  shown_ = FromCp932(cp932);
  return shown_;
}

bool TextValue::Read(const QString& shown, std::string& out) const {
  if (shown == shown_) {
    out = loaded_;
    return true;
  }
  auto c = ToCp932(shown);
  if (!c) return false;
  out = std::move(*c);
  return true;
}

}  // namespace kv::ui
