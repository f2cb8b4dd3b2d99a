#pragma once
// SunkenEdge.h: the one-pixel sunken edge of the display's read-outs and meters, drawn with
// four fills: dark above and left, light below and right, in the widget's palette.
// Threads: UI thread, inside a paintEvent. Memory: no alloc.

class QPainter;
class QWidget;

namespace oggmix {

void DrawSunkenEdge(QPainter& painter, const QWidget& widget);

}  // namespace oggmix
