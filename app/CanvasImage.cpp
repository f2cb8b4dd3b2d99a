// CanvasImage.cpp: clipped rectangle fills straight into the canvas's pixels.
#include "app/CanvasImage.h"

#include <QPainter>

#include <algorithm>

namespace oggmix {

CanvasImage::CanvasImage(QWidget* parent, const char* objectName, int left, int top, int widthPx,
                         int heightPx)
    : QWidget(parent), FCanvas(widthPx, heightPx, QImage::Format_RGB32) {
    setObjectName(QString::fromLatin1(objectName));
    setGeometry(left, top, widthPx, heightPx);
    FCanvas.fill(Qt::black);
}

void CanvasImage::FillRect(int left, int top, int right, int bottom, QRgb colour) noexcept {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, FCanvas.width());
    bottom = std::min(bottom, FCanvas.height());
    for (int y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(FCanvas.scanLine(y));
        std::fill(row + left, row + std::max(left, right), colour);
    }
    update();
}

void CanvasImage::Column(int x, int heightPx, QRgb colour) noexcept {
    if (heightPx <= 0) return;
    FillRect(x, FCanvas.height() - heightPx, x + 1, FCanvas.height(), colour);
}

void CanvasImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, FCanvas);
}

}  // namespace oggmix
