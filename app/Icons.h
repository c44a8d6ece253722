#pragma once
// The tool-bar and window icons, drawn in code so they stay sharp at every
// device pixel ratio.
#include <QIcon>
#include <QImage>

#include "app/Commands.h"

class QPainter;

namespace kv::app {

inline constexpr int kToolIconWidth = 16;
inline constexpr int kToolIconHeight = 15;

// A tool-bar button's image at `scale` device pixels per unit.
QImage ToolImage(Command id, qreal scale);
// Holds images for the usual scales; a null icon for a command without one.
QIcon ToolIcon(Command id);

// The program's icon, square, `size` pixels.
QImage ApplicationImage(int size);
QIcon ApplicationIcon();

}  // namespace kv::app
