#pragma once
// ReadoutBox.h: a single-line text box that shows a read-out (the play times): grey, the light
// 3D colour, where boxes a user types into are white, with a plain one-pixel sunken edge drawn
// with fills, cheap enough to be redrawn on every pass of the display.
// Threads: UI thread. Memory: painting does not allocate beyond Qt's own painter and text.

#include <QLineEdit>

namespace oggmix {

class ReadoutBox : public QLineEdit {
public:
    ReadoutBox(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace oggmix
