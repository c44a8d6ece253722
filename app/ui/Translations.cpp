#include "app/ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QVariant>

namespace kv::ui {

int InstallQtTranslations(QCoreApplication& app) {
  // qtbase holds the texts of the widgets and of print support.
  static const char* const kCatalogues[] = {"qtbase"};
  static const char kDone[] = "kvQtTranslations";
  if (const QVariant done = app.property(kDone); done.isValid()) return done.toInt();
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  int loaded = 0;
  for (const char* name : kCatalogues) {
    auto* t = new QTranslator(&app);
    if (t->load(QLocale(QLocale::Japanese, QLocale::Japan), QString::fromLatin1(name),
                QStringLiteral("_"), dir)) {
      app.installTranslator(t);
      ++loaded;
    } else {
      delete t;
    }
  }
  app.setProperty(kDone, loaded);
  return loaded;
}

}  // namespace kv::ui
