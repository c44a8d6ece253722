#pragma once
// ファイル → インポート... and エクスポート...: iCalendar files through the
// file chooser seam, the preview, the store and one synchronisation.
#include <QString>

#include "view/ViewState.h"

namespace kv::app {

class CMainFrame;

void WireIcal(CMainFrame& frame);
// The preview of `path` (the chooser first when empty), then the import.
void ImportIcalFile(CMainFrame& frame, const QString& path);
// The days the window shows now: the month, the week or the day.
void ShownPeriod(const ViewState& state, DateTime& from, DateTime& to);

}  // namespace kv::app
