#pragma once
// LevelMeter.h: an output level meter: a progress bar drawn with a few plain fills (a sunken
// edge, the level in the highlight colour, the rest in the window colour), cheap enough to be
// redrawn on every pass of the display, and painted with the rest of the window's changes.
// Threads: UI thread. Memory: painting does not allocate beyond Qt's own painter.

#include <QProgressBar>

namespace oggmix {

class LevelMeter : public QProgressBar {
public:
    explicit LevelMeter(QWidget* parent);

    // Shows value (clamped to the range). A plain setValue repaints at once, in a paint and
    // flush of its own; this one only asks for a repaint, and only when the value changes.
    void ShowValue(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace oggmix
