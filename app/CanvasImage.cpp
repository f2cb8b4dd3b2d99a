// CanvasImage.cpp: clipped rectangle fills straight into the canvas's pixels, and a repaint
// only for a pass that changed them.
#include "app/CanvasImage.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace oggmix {

CanvasImage::CanvasImage(QWidget* parent, const char* objectName, int left, int top, int widthPx,
                         int heightPx)
    : QWidget(parent),
      FCanvas(widthPx, heightPx, QImage::Format_RGB32),
      FShown(widthPx, heightPx, QImage::Format_RGB32),
      FRowBytes(FCanvas.bytesPerLine()) {
    setObjectName(QString::fromLatin1(objectName));
    setGeometry(left, top, widthPx, heightPx);
    FCanvas.fill(Qt::black);
    FShown.fill(Qt::black);
    // Every pixel is painted from FShown: Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CanvasImage::FillRect(int left, int top, int right, int bottom, QRgb colour) noexcept {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, FCanvas.width());
    bottom = std::min(bottom, FCanvas.height());
    if (left >= right) return;
    // bits() once: scanLine() would check for a shared copy on every row.
    uchar* row = FCanvas.bits() + top * FRowBytes;
    for (int y = top; y < bottom; ++y, row += FRowBytes)
        std::fill(reinterpret_cast<QRgb*>(row) + left, reinterpret_cast<QRgb*>(row) + right,
                  colour);
}

void CanvasImage::Column(int x, int heightPx, QRgb colour) noexcept {
    const int height = FCanvas.height();
    if (heightPx <= 0 || x < 0 || x >= FCanvas.width()) return;
    // Pixel by pixel down the column: most of a picture's drawing is these one-pixel bars.
    uchar* pixel = FCanvas.bits() + std::max(height - heightPx, 0) * FRowBytes + x * sizeof(QRgb);
    uchar* const end = FCanvas.bits() + height * FRowBytes;
    for (; pixel < end; pixel += FRowBytes) *reinterpret_cast<QRgb*>(pixel) = colour;
}

void CanvasImage::Present() noexcept {
    const auto imageBytes = static_cast<size_t>(FCanvas.sizeInBytes());
    if (std::memcmp(FCanvas.constBits(), FShown.constBits(), imageBytes) == 0) return;
    std::memcpy(FShown.bits(), FCanvas.constBits(), imageBytes);
    update();
}

void CanvasImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, FShown);
}

}  // namespace oggmix
