#include "app/dialogs/SearchDlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/ui/QtText.h"

namespace kv::ui {

namespace {

constexpr std::size_t kShownLines = 500;
const char* const kWeekdays[] = {"日", "月", "火", "水", "木", "金", "土"};

}  // namespace

SearchDlg::SearchDlg(const ItemSearch& search, QWidget* parent) : QDialog(parent), search_(search) {
  setWindowTitle(QStringLiteral("予定の検索"));
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("searchText"));
  text_->setPlaceholderText(QStringLiteral("件名・場所・内容から探す言葉"));
  text_->setClearButtonEnabled(true);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("searchResults"));
  list_->setMinimumSize(fontMetrics().averageCharWidth() * 60, fontMetrics().lineSpacing() * 14);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("searchNote"));
  note_->setTextFormat(Qt::PlainText);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(list_, 1);
  layout->addWidget(note_);

  connect(text_, &QLineEdit::textChanged, this, [this] { Run(); });
  connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* it) { Choose(list_->row(it)); });
  text_->installEventFilter(this);
  list_->installEventFilter(this);
  text_->setFocus();
  Run();
}

QString SearchDlg::LineOf(const ItemSearch::Hit& h) {
  QString line;
  if (h.date.IsValid()) {
    const int dow = DayOfWeekOf(h.date.Year(), h.date.Month(), h.date.Day());
    line = QStringLiteral("%1/%2/%3(%4)")
               .arg(h.date.Year())
               .arg(h.date.Month(), 2, 10, QLatin1Char('0'))
               .arg(h.date.Day(), 2, 10, QLatin1Char('0'))
               .arg(QString::fromUtf8(kWeekdays[dow]));
  }
  line += QStringLiteral("  ");
  line += h.time.empty() ? QStringLiteral("終日 ") : QString::fromStdString(h.time);
  line += QStringLiteral("  ") + FromCp932(h.subject);
  if (!h.place.empty()) line += QStringLiteral("（") + FromCp932(h.place) + QStringLiteral("）");
  return line;
}

void SearchDlg::Run() {
  list_->clear();
  hits_.clear();
  note_->clear();
  if (text_->text().isEmpty()) return;
  const std::optional<std::string> query = ToCp932(text_->text());
  if (!query) {
    note_->setText(QStringLiteral("予定に使えない文字が含まれているため、見つかりません。"));
    return;
  }
  std::size_t total = 0;
  hits_ = search_.Find(*query, kShownLines, &total);
  for (const ItemSearch::Hit& h : hits_) list_->addItem(LineOf(h));
  if (total == 0)
    note_->setText(QStringLiteral("見つかりませんでした。"));
  else if (total > hits_.size())
    note_->setText(QStringLiteral("%1 件のうち、日付の早い %2 件を表示しています。").arg(total).arg(hits_.size()));
  else
    note_->setText(QStringLiteral("%1 件").arg(total));
  list_->setCurrentRow(0);
}

void SearchDlg::Choose(int row) {
  if (row < 0 || row >= static_cast<int>(hits_.size())) return;
  chosen_ = hits_[static_cast<std::size_t>(row)];
  accept();
}

bool SearchDlg::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, e);
  const int key = static_cast<QKeyEvent*>(e)->key();
  if (watched == text_) {
    // The field keeps the typing; the list takes the arrows and Enter.
    if ((key == Qt::Key_Down || key == Qt::Key_Up) && list_->count() > 0) {
      list_->setFocus();  // on the first line, which is already current
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Choose(list_->currentRow());
      return true;
    }
  } else if (watched == list_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
    Choose(list_->currentRow());
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

}  // namespace kv::ui
