// ReadoutBox.cpp: the grey background and the sunken edge; the text is QLineEdit's own.
#include "app/ReadoutBox.h"

#include <QPainter>

#include "app/SunkenEdge.h"

namespace oggmix {

ReadoutBox::ReadoutBox(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Midlight));
    setPalette(colours);
    // The style's rounded, shaded frame costs many times the text it surrounds: the edge is
    // drawn here instead.
    setFrame(false);
    setTextMargins(1, 1, 1, 1);
    // The style fills all but the outermost pixels, the edge covers those: the window need
    // not paint its background beneath first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Digits need no shaping: skipping it makes each new text cheaper to lay out and draw.
    // Only the strategy is set here; family and size still come from the window.
    QFont unshaped;
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    setFont(unshaped);
}

void ReadoutBox::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    DrawSunkenEdge(painter, *this);
}

}  // namespace oggmix
