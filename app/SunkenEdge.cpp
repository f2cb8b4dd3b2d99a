// SunkenEdge.cpp: four fills instead of the style's shaded panel, which draws many times slower.
#include "app/SunkenEdge.h"

#include <QPainter>
#include <QWidget>

namespace oggmix {

void DrawSunkenEdge(QPainter& painter, const QWidget& widget) {
    const QPalette& colours = widget.palette();
    const int w = widget.width();
    const int h = widget.height();
    painter.fillRect(0, 0, w, 1, colours.color(QPalette::Dark));
    painter.fillRect(0, 1, 1, h - 1, colours.color(QPalette::Dark));
    painter.fillRect(1, h - 1, w - 1, 1, colours.color(QPalette::Light));
    painter.fillRect(w - 1, 1, 1, h - 2, colours.color(QPalette::Light));
}

}  // namespace oggmix
