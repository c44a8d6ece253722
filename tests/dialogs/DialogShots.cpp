// Saves pictures of the item dialogs filled with sample data, for a person
// to look at: dialog_shots OUTPUT_DIR (run under xvfb-run for real fonts).
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTimer>

#include "app/dialogs/ItemEditDlg.h"
#include "app/dialogs/RefItemDlg.h"
#include "app/dialogs/RepeatBase.h"
#include "model/Text.h"

namespace {

std::string J(const char* utf8) { return kv::text::FromUtf8(utf8).value_or(""); }

void Save(QWidget& w, const QString& dir, const char* name) {
  w.show();
  w.activateWindow();
  QApplication::processEvents();
  w.grab().save(dir + "/" + QString::fromLatin1(name) + ".png");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  using kv::DateTime;

  kv::ItemForm f = kv::DefaultForm(DateTime::FromParts(2004, 6, 15));
  f.subject = J("週次定例会議（開発チーム）");
  f.place = J("本社 3 階 第一会議室");
  f.desc = J("議題:\n1. 先週の進捗\n2. 今週の予定\n3. その他");
  f.start_date = f.start_time = DateTime::FromParts(2004, 6, 15, 10, 0, 0);
  f.end_date = f.end_time = DateTime::FromParts(2004, 6, 15, 11, 30, 0);
  f.alarm_on = 1;
  f.alarm_number = 15;
  f.color = 0x00C08000;
  f.execute = "/usr/bin/xdg-open";

  kv::ui::ItemEditDlg edit;
  edit.setForm(f);
  Save(edit, dir, "item_edit");

  f.day_type = 1;
  f.repeat = kv::RepeatRule{2, 1, 34, 0, DateTime::FromParts(2004, 6, 1), DateTime::FromParts(2004, 12, 31)};
  kv::ui::RefItemDlg ref;
  ref.setForm(f);
  Save(ref, dir, "ref_item");

  const char* names[] = {"repeat_0", "repeat_1", "repeat_2", "repeat_3",
                         "repeat_4", "repeat_5", "repeat_6"};
  kv::ui::RepeatBase sheet(f.repeat);
  for (int p = 0; p < 7; ++p) {
    sheet.tabs()->setCurrentIndex(p);
    Save(sheet, dir, names[p]);
  }
  return 0;
}
