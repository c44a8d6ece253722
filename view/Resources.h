#pragma once
// Bitmap resources by id; the files live in resources/ (listed in
// resources/bitmaps.txt) and are loaded by the window layer.
namespace kv {

// File name inside the resources folder, or nullptr for an unknown id.
inline const char* BitmapResourceFile(int id) {
  switch (id) {
    case 142: return "arrow_up.xpm";
    case 143: return "arrow_down.xpm";
  }
  return nullptr;
}

}  // namespace kv
