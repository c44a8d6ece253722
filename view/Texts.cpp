#include "view/Texts.h"

#include "model/Text.h"

namespace kv {

std::string Cp932(std::string_view utf8) {
  auto r = text::FromUtf8(utf8);
  return r ? *r : std::string(utf8);
}

}  // namespace kv
