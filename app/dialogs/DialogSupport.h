#pragma once
// Pieces the item dialogs share: date and colour conversions, the pickers,
// and fields that give back the stored value when the user left them alone.
#include <QColor>
#include <QDateTime>
#include <QString>
#include <span>
#include <string>
#include <string_view>

#include "model/DateTime.h"

class QComboBox;
class QDateTimeEdit;
class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace kv::ui {

// A UTF-8 source text (a literal or a table entry) for a widget.
QString Utf8(std::string_view utf8);

// The widget, named so tests can find it.
template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// A right-aligned field seven digits wide.
QLineEdit* MakeNumberEdit(QWidget* parent, const char* name);
// An editable combo of fixed texts (UTF-8) that never adds what is typed.
QComboBox* MakeTextCombo(QWidget* parent, std::span<const std::string_view> items, const char* name);
// OK (the default button) and the cancel button with its text, wired to
// the dialog's accept and reject.
QDialogButtonBox* MakeOkCancel(QDialog* dlg, const QString& cancel_text, QPushButton** ok = nullptr,
                               QPushButton** cancel = nullptr);

// Pickers hold wall-clock values without a time zone, so no local-time
// gap or overlap can move them.
QDateTime ToQt(const DateTime& d);
DateTime FromQt(const QDateTime& q);

QColor ColorOf(uint32_t colorref);
uint32_t ColorRefOf(const QColor& c);

// A date picker (short date, calendar pop-up) or a time picker with
// seconds; both hold the whole date and time.
QDateTimeEdit* MakeDatePicker(QWidget* parent);
QDateTimeEdit* MakeTimePicker(QWidget* parent);

// A loaded instant and what its picker showed: an untouched picker gives
// the loaded value back exactly, even one the picker cannot show.
class PickerValue {
 public:
  void Load(QDateTimeEdit* edit, const DateTime& value);
  DateTime Read(const QDateTimeEdit* edit) const;

 private:
  DateTime loaded_;
  QDateTime shown_;
};

// The same for a text: CP932 round trips are not byte-exact (characters
// with two codes, undecodable bytes), so untouched text keeps its bytes.
class TextValue {
 public:
  QString Load(const std::string& cp932);
  // False when the text holds a character CP932 cannot represent.
  bool Read(const QString& shown, std::string& out) const;

 private:
  std::string loaded_;
  QString shown_;
};

}  // namespace kv::ui
