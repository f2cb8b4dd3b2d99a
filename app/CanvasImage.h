#pragma once
// CanvasImage.h: a fixed-size picture with a pixel canvas that code draws into, shown as it
// stands. Rectangles are given as (left, top) to (right, bottom), right and bottom excluded,
// and clipped to the picture.
// Threads: UI thread. Memory: construction allocates the canvas; drawing does not.

#include <QImage>
#include <QWidget>

namespace oggmix {

class CanvasImage : public QWidget {
public:
    // A widthPx x heightPx picture at (left, top) of parent, black until drawn.
    CanvasImage(QWidget* parent, const char* objectName, int left, int top, int widthPx,
                int heightPx);

    [[nodiscard]] const QImage& Canvas() const noexcept { return FCanvas; }

    void FillRect(int left, int top, int right, int bottom, QRgb colour) noexcept;
    // A bar heightPx high standing on the bottom edge in the one-pixel column x; nothing for
    // a height of 0 or less, clipped at the top edge.
    void Column(int x, int heightPx, QRgb colour) noexcept;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FCanvas;
};

}  // namespace oggmix
