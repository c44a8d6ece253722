#pragma once
// Qt's own texts (standard buttons, the colour, file, print and page
// set-up dialogs, print preview) in Japanese, whatever the user's locale:
// the program speaks Japanese throughout.
class QCoreApplication;

namespace kv::ui {

// Installs the Japanese catalogues of Qt found in its translations
// folder on `app`, once. Returns how many were loaded (0 when the
// translation package is missing: Qt's texts then stay English).
int InstallQtTranslations(QCoreApplication& app);

}  // namespace kv::ui
