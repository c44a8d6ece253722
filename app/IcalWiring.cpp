#include "app/IcalWiring.h"

#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>

#include "app/MainFrame.h"
#include "app/dialogs/IcalDlgs.h"
#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"
#include "edit/IcalTransfer.h"

namespace kv::app {

namespace {

// The whole file, or nothing when it cannot be read or is over the limit
// (checked before anything is allocated for it).
bool ReadFile(const QString& path, std::string& out, QString& why) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    why = QStringLiteral("ファイルを開けません: ") + f.errorString();
    return false;
  }
  if (f.size() > qint64(ical::kMaxFileBytes)) {
    why = QStringLiteral("ファイルが大きすぎます（64 MiB まで）。");
    return false;
  }
  const QByteArray bytes = f.read(qint64(ical::kMaxFileBytes) + 1);
  if (bytes.size() > qsizetype(ical::kMaxFileBytes)) {
    why = QStringLiteral("ファイルが大きすぎます（64 MiB まで）。");
    return false;
  }
  out.assign(bytes.constData(), std::size_t(bytes.size()));
  return true;
}

void ExportFile(CMainFrame& frame) {
  ui::IcalExportDlg choice(&frame);
  if (choice.exec() != QDialog::Accepted) return;
  const QString path = ui::FileDialog::getSaveFileName(
      &frame, QStringLiteral("エクスポート先"), QString(),
      QStringLiteral("iCalendar (*.ics)"));
  if (path.isEmpty()) return;
  DateTime from, to;
  ShownPeriod(frame.state(), from, to);
  std::vector<ScheduleItem> items;
  if (!ical::OwnItems(frame.store(), choice.allItems(), from, to, items)) {
    frame.showMessage(QStringLiteral("データファイルを読み込めないため、エクスポートできません。"));
    return;
  }
  const std::string text = ical::Export(items);
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), qint64(text.size())) != qint64(text.size()) ||
      !f.commit()) {
    ui::MessageBox::warning(&frame, QStringLiteral("ファイルに書き込めません: ") + path);
    return;
  }
  frame.setPaneText(0, QStringLiteral("%1 件の予定をエクスポートしました。").arg(items.size()));
}

}  // namespace

void ShownPeriod(const ViewState& st, DateTime& from, DateTime& to) {
  const DateTime sel = st.SelectedDate.IsValid() ? st.SelectedDate.DateOnly() : st.AnchorDate.DateOnly();
  if (st.ViewMode == MonthMode) {
    const DateTime a = st.AnchorDate.IsValid() ? st.AnchorDate : sel;
    from = DateTime::FromParts(a.Year(), a.Month(), 1);
    to = from.AddDays(DaysInMonth(a.Year(), a.Month()));
  } else if (st.ViewMode == DayMode) {
    from = sel;
    to = sel.AddDays(1);
  } else {
    from = sel.AddDays(-(sel.DayOfWeek() - 1));
    to = from.AddDays(7);
  }
}

void ImportIcalFile(CMainFrame& frame, const QString& chosen) {
  QString path = chosen;
  if (path.isEmpty())
    path = ui::FileDialog::getOpenFileName(&frame, QStringLiteral("インポートするファイル"));
  if (path.isEmpty()) return;
  std::string text;
  QString why;
  if (!ReadFile(path, text, why)) {
    ui::MessageBox::warning(&frame, why);
    return;
  }
  ui::IcalImportDlg dlg([&text](bool replace) { return ical::ReadForImport(text, replace); }, &frame);
  if (dlg.exec() != QDialog::Accepted || dlg.preview().taken.items.empty()) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const ical::ImportOutcome out = ical::StoreImported(frame.store(), dlg.preview());
  QGuiApplication::restoreOverrideCursor();
  if (!out.stored) {
    ui::MessageBox::warning(&frame, QStringLiteral("データファイルに書き込めないため、取り込めませんでした。"));
    return;
  }
  frame.reload();
  frame.setPaneText(0, QStringLiteral("取り込み: 追加 %1 件、更新 %2 件、変更なし %3 件")
                        .arg(out.added)
                        .arg(out.updated)
                        .arg(out.unchanged));
  // Every new or changed item goes up in one synchronisation.
  if (out.added + out.updated > 0) frame.onSyncTimer();
  frame.host().RequestRepaint(true);
}

void WireIcal(CMainFrame& frame) {
  frame.setCommandHandler(Command::Import, [&frame] { ImportIcalFile(frame, QString()); });
  frame.setCommandHandler(Command::Export, [&frame] { ExportFile(frame); });
}

}  // namespace kv::app
