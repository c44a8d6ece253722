#include "app/ui/QtText.h"

#include "model/Text.h"

namespace kv::ui {

QString FromCp932(std::string_view cp932) {
  const std::string utf8 = text::ToUtf8Lossy(cp932);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<std::string> ToCp932(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return text::FromUtf8(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

std::string Cp932Of(const QString& text) { return ToCp932(text).value_or(std::string()); }

}  // namespace kv::ui
