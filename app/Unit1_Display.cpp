// Unit1_Display.cpp: the live display: play times, level meters, seek positions, the filter
// curve and spectrum of each channel, the mix spectrum and the limiter's state. One pass per
// timer tick, on the UI thread; it allocates nothing but its formatted strings, and asks for a
// repaint only of the controls and pictures whose content changed.
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include <algorithm>

#include "app/CanvasImage.h"
#include "app/LevelMeter.h"
#include "app/Unit1.h"

namespace oggmix {
namespace {

constexpr int kChannelPictureWidth = 64;
constexpr int kChannelPictureHeight = 48;
constexpr int kChannelColumns = 62;  // every fourth point, 0 to 244
constexpr int kPointsPerColumn = 4;
constexpr double kUnityBarPx = 24.0;  // a gain of 1.0 stands half the picture high
constexpr double kSpectrumScalePx = 48.0;
constexpr int kMixClearRight = 256;  // the mix picture is cleared from (0, 0) to (256, 64)
constexpr int kMixClearBottom = 64;
constexpr int kMixGridLines = 7;
constexpr int kMixGridSpacingPx = 32;
constexpr int kMixGridBottom = 48;
constexpr int kMixColumns = 254;       // the last two of the 256 values are not drawn
constexpr double kFullScaleX = 128.0;  // the limiter picture's x of magnitude 32767
constexpr int kLimiterMarkBottom = 16;

// The integer nearest to v, ties to the even one.
int Nearest(double v) noexcept { return RoundHalfEven(v); }

int LimiterX(int32_t magnitude) noexcept {
    return Nearest(static_cast<double>(magnitude) / kMaxSampleMagnitude * kFullScaleX);
}

// Setting a text repaints the control even when the text stays the same.
template <class Control>
void ShowText(Control& control, const QString& text) {
    if (control.text() != text) control.setText(text);
}

}  // namespace

void TForm1::AppIdle() {
    if (FSeeking || !FPlayer) return;
    FDrawing = true;

    for (int c = 0; c < kChannelCount; ++c)
        ShowText(*FChannels[c].PlayTime,
                 QString::asprintf("%.2f sec", static_cast<double>(FPlayer->GetPlayTime(c))));
    ProgressBar1->ShowValue(Nearest(FPlayer->GetLevel(0) * 100.0));
    ProgressBar2->ShowValue(Nearest(FPlayer->GetLevel(1) * 100.0));
    for (int c = 0; c < kChannelCount; ++c)
        FChannels[c].Seek->setValue(Nearest(FPlayer->GetTime(c)));

    for (int c = 0; c < kChannelCount; ++c) DrawChannelPicture(c);
    DrawMixPicture();
    DrawLimiterPicture();
    ShowText(*ListenerLabel,
             QString::asprintf("pos(%d) down.%d delay.%d", FPlayer->GetLimiterLevel(),
                               FPlayer->Down(), FPlayer->Delay()));

    FDrawing = false;
}

void TForm1::DrawChannelPicture(int c) {
    CanvasImage& picture = *FChannels[c].Picture;
    FPlayer->GetSpectrum(c, FSpectrum[c].data());
    picture.FillRect(0, 0, kChannelPictureWidth, kChannelPictureHeight, qRgb(0, 0, 0));
    for (int i = 0; i < kChannelColumns; ++i) {
        const float gain = FPlayer->GetFilterGain(c, kPointsPerColumn * i);
        picture.Column(i + 1, Nearest(gain * kUnityBarPx), qRgb(187, 4 * i, 255));
    }
    for (int i = 0; i < kChannelColumns; ++i)
        picture.Column(i + 1, Nearest(FSpectrum[c][kPointsPerColumn * i] * kSpectrumScalePx),
                       qRgb(255, 0, 255));
    picture.Present();
}

void TForm1::DrawMixPicture() {
    CanvasImage& picture = *FMixPicture;
    FPlayer->GetMixSpectrum(FMixSpectrum.data());
    picture.FillRect(0, 0, kMixClearRight, kMixClearBottom, qRgb(0, 0, 0));
    for (int i = 1; i <= kMixGridLines; ++i) {
        const int x = kMixGridSpacingPx * i;
        picture.FillRect(x, 0, x + 1, kMixGridBottom, qRgb(187, kMixGridSpacingPx * i, 255));
    }
    for (int i = 0; i < kMixColumns; ++i)
        picture.Column(i + 1, Nearest(FMixSpectrum[i] * kSpectrumScalePx), qRgb(255, i, 255));
    picture.Present();
}

void TForm1::DrawLimiterPicture() {
    CanvasImage& picture = *FLimiterPicture;
    const int width = picture.Canvas().width();
    const int height = picture.Canvas().height();
    const int fullScaleX = static_cast<int>(kFullScaleX);
    const int levelX = LimiterX(FPlayer->GetLimiterLevel());
    const int peakX = LimiterX(FPlayer->Peak());
    picture.FillRect(0, 0, width, height, qRgb(0, 0, 0));
    picture.FillRect(LimiterX(FPlayer->MinLevel()), 0, LimiterX(FPlayer->MaxLevel()) + 1,
                     kLimiterMarkBottom, qRgb(0, 0, 255));
    picture.FillRect(fullScaleX, 0, fullScaleX + 1, kLimiterMarkBottom, qRgb(0, 255, 0));
    picture.FillRect(peakX, 0, peakX + 1, kLimiterMarkBottom, qRgb(255, 0, 0));
    picture.FillRect(levelX, 0, levelX + 1, kLimiterMarkBottom, qRgb(255, 255, 255));
    picture.Present();
}

}  // namespace oggmix
