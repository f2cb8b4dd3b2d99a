#pragma once
// CanvasImage.h: a fixed-size picture with a pixel canvas that code draws into, shown as it
// stands after each Present. Rectangles are given as (left, top) to (right, bottom), right
// and bottom excluded, and clipped to the picture.
// Threads: UI thread. Memory: construction allocates both pixel buffers; drawing and Present
// do not.

#include <QImage>
#include <QWidget>

namespace oggmix {

class CanvasImage : public QWidget {
public:
    // A widthPx x heightPx picture at (left, top) of parent, black until drawn.
    CanvasImage(QWidget* parent, const char* objectName, int left, int top, int widthPx,
                int heightPx);

    // The pixels drawn so far.
    [[nodiscard]] const QImage& Canvas() const noexcept { return FCanvas; }

    void FillRect(int left, int top, int right, int bottom, QRgb colour) noexcept;
    // A bar heightPx high standing on the bottom edge in the one-pixel column x; nothing for
    // a height of 0 or less, clipped at the top edge.
    void Column(int x, int heightPx, QRgb colour) noexcept;
    // Shows the canvas: asks for a repaint only when its pixels differ from those shown.
    void Present() noexcept;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FCanvas;
    QImage FShown;  // what paintEvent draws: the canvas as of the last Present that changed it
    qsizetype FRowBytes;
};

}  // namespace oggmix
