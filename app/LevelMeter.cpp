// LevelMeter.cpp: the meter's drawing and its deferred repaint.
#include "app/LevelMeter.h"

#include <QPainter>

#include <algorithm>

#include "app/SunkenEdge.h"

namespace oggmix {

LevelMeter::LevelMeter(QWidget* parent) : QProgressBar(parent) {
    // paintEvent covers every pixel: nothing beneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LevelMeter::ShowValue(int value) {
    value = std::clamp(value, minimum(), maximum());
    if (value == this->value()) return;
    setUpdatesEnabled(false);
    setValue(value);
    setUpdatesEnabled(true);  // asks for the repaint
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawSunkenEdge(painter, *this);
    const QPalette& colours = palette();
    const int w = width();
    const int h = height();

    const int innerWidth = w - 2;
    const int span = std::max(maximum() - minimum(), 1);
    const int filled = innerWidth * (value() - minimum()) / span;
    painter.fillRect(1, 1, filled, h - 2, colours.color(QPalette::Highlight));
    painter.fillRect(1 + filled, 1, innerWidth - filled, h - 2, colours.color(QPalette::Window));
}

}  // namespace oggmix
