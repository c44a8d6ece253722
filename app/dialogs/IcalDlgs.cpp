#include "app/dialogs/IcalDlgs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kv::ui {

IcalImportDlg::IcalImportDlg(std::function<ical::ImportPreview(bool)> read, QWidget* parent)
    : QDialog(parent), read_(std::move(read)) {
  setWindowTitle(QStringLiteral("iCalendar のインポート"));
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("icalSummary"));
  summary_->setTextFormat(Qt::PlainText);
  problems_ = new QListWidget(this);
  problems_->setObjectName(QStringLiteral("icalProblems"));
  problems_->setMinimumSize(fontMetrics().averageCharWidth() * 70, fontMetrics().lineSpacing() * 10);
  replace_ = new QCheckBox(QStringLiteral("CP932 で表せない文字を「〓」に置き換えて取り込む"), this);
  replace_->setObjectName(QStringLiteral("icalReplace"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(new QLabel(QStringLiteral("取り込まない予定:"), this));
  layout->addWidget(problems_, 1);
  layout->addWidget(replace_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(replace_, &QCheckBox::toggled, this, [this] { Read(); });
  Read();
}

void IcalImportDlg::Read() {
  preview_ = read_(replace_->isChecked());
  summary_->setText(QStringLiteral("予定 %1 件のうち %2 件を取り込みます。")
                        .arg(preview_.events)
                        .arg(preview_.taken.items.size()));
  problems_->clear();
  // QListWidgetItem shows its text as plain text.
  for (const std::string& p : preview_.taken.problems) problems_->addItem(QString::fromStdString(p));
  ok_->setEnabled(!preview_.taken.items.empty());
}

IcalExportDlg::IcalExportDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("iCalendar のエクスポート"));
  all_ = new QRadioButton(QStringLiteral("自分の予定をすべて"), this);
  shown_ = new QRadioButton(QStringLiteral("表示中の期間の予定だけ"), this);
  all_->setChecked(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(all_);
  layout->addWidget(shown_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool IcalExportDlg::allItems() const { return all_->isChecked(); }

}  // namespace kv::ui
