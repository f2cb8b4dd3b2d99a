// Unit1_Controls.cpp: what each control does: per-channel transport, fades, seek, volume,
// tone-filter presets and gain control; the mix's transport, master volume and limiter.
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QScrollBar>

#include <chrono>
#include <thread>

#include "app/ExceptionDisplay.h"
#include "app/Unit1.h"

namespace oggmix {
namespace {

constexpr float kFadeSeconds = 5.0f;
// The seek handlers hold the window still for a moment after each seek (a dragged bar sends
// many changes); channel 1 waits longer than channel 0.
constexpr std::chrono::milliseconds kSeekPause[kChannelCount] = {std::chrono::milliseconds(50),
                                                                 std::chrono::milliseconds(150)};
constexpr int32_t kLimiterDelayFrames = 44100;
constexpr int32_t kKeepLimiterLevel = -1;

// A bar position as a factor: 100 is 1.0.
float Percent(const QScrollBar& bar) { return static_cast<float>(bar.value()) / 100.0f; }

}  // namespace

void TForm1::ConnectHandlers() {
    // Every handler runs guarded: an exception from it is shown, and the window goes on.
    auto onClick = [this](QPushButton* button, auto handler) {
        connect(button, &QPushButton::clicked, this, [this, handler] { Guarded(this, handler); });
    };
    auto onChange = [this](QScrollBar* bar, auto handler) {
        connect(bar, &QScrollBar::valueChanged, this, [this, handler] { Guarded(this, handler); });
    };

    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelPanel& panel = FChannels[c];
        onClick(panel.Load, [this, c] { LoadClick(c); });
        onClick(panel.Play, [this, c] { PlayClick(c); });
        onClick(panel.Pause, [this, c] { PauseClick(c); });
        onClick(panel.Stop, [this, c] { StopClick(c); });
        onClick(panel.FadeIn, [this, c] { FadeInClick(c); });
        onClick(panel.FadeOut, [this, c] { FadeOutClick(c); });
        for (int p = 0; p < kFilterPresetCount; ++p)
            onClick(panel.Presets[p], [this, c, p] { FilterPresetClick(c, p); });
        onChange(panel.Seek, [this, c] { SeekBarChange(c); });
        onChange(panel.Volume, [this, c] { VolumeBarChange(c); });
        onChange(panel.AGC, [this, c] { AGCBarChange(c); });
    }
    onClick(FPlayAllButton, [this] { PlayAllClick(); });
    onClick(FStopAllButton, [this] { StopAllClick(); });
    onChange(FMasterVolumeBar, [this] { MasterVolumeBarChange(); });
    for (QScrollBar* bar : {MinVolumeBar, MaxVolumeBar, FadeVolumeBar})
        onChange(bar, [this] { MaxVolumeBarChange(); });
    connect(&FIdleTimer, &QTimer::timeout, this, [this] { Guarded(this, [this] { AppIdle(); }); });
}

void TForm1::LoadClick(int c) {
    // The dialog was made before start-up moved to the program's folder: it opens where the
    // program now stands, as a dialog made at the click would.
    OpenDialog1->setDirectory(QDir::currentPath());
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1->selectedFiles();
    if (!chosen.isEmpty()) LoadOgg(c, chosen.first().toStdString());
}

void TForm1::PlayClick(int c) {
    if (!FPlayer) return;
    FPlayer->Fade(c, 1.0f, 0.0f);
    FPlayer->Play(c, true);
}

void TForm1::PauseClick(int c) {
    if (FPlayer) FPlayer->Pause(c);
}

void TForm1::StopClick(int c) {
    if (FPlayer) FPlayer->Stop(c);
}

void TForm1::FadeInClick(int c) {
    if (!FPlayer) return;
    FPlayer->Fade(c, 1.0f, kFadeSeconds);
    FPlayer->Play(c, true);
}

void TForm1::FadeOutClick(int c) {
    if (!FPlayer) return;
    FPlayer->Fade(c, 0.0f, kFadeSeconds);
    FPlayer->Play(c, true);
}

void TForm1::FilterPresetClick(int c, int preset) {
    if (!FPlayer) return;
    const FilterPreset& chosen = kFilterPresets[preset];
    const auto& v = chosen.Values;
    if (chosen.ValueCount == 4)
        FPlayer->SetFilterCurve4(c, v[0], v[1], v[2], v[3], kFilterPresetSeconds);
    else
        FPlayer->SetFilterCurve8(c, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7],
                                 kFilterPresetSeconds);
}

void TForm1::SeekBarChange(int c) {
    // The display moves the bars to follow playback; only a user's move seeks.
    if (FDrawing || !FPlayer) return;
    FSeeking = true;
    FPlayer->Seek(c, static_cast<float>(FChannels[c].Seek->value()));
    std::this_thread::sleep_for(kSeekPause[c]);
    FSeeking = false;
}

void TForm1::VolumeBarChange(int c) {
    if (FPlayer) FPlayer->SetVolume(c, Percent(*FChannels[c].Volume));
}

void TForm1::AGCBarChange(int c) {
    if (!FPlayer) return;
    if (TOggData* stream = FPlayer->Slots(c))
        stream->SetAGC(static_cast<float>(FChannels[c].AGC->value()) / 10.0f);
}

void TForm1::PlayAllClick() {
    if (!FPlayer) return;
    FPlayer->Fade(0, 1.0f, 0.0f);
    FPlayer->Fade(1, 1.0f, 0.0f);
    FPlayer->PlayAll(true);
}

void TForm1::StopAllClick() {
    if (FPlayer) FPlayer->StopAll();
}

void TForm1::MasterVolumeBarChange() {
    if (FPlayer) FPlayer->SetMasterVolume(Percent(*FMasterVolumeBar));
}

void TForm1::MaxVolumeBarChange() {
    if (!FPlayer) return;
    FPlayer->SetLimiter(MinVolumeBar->value() * kMaxSampleMagnitude / 100,
                        MaxVolumeBar->value() * kMaxSampleMagnitude / 100, FadeVolumeBar->value(),
                        kLimiterDelayFrames, kKeepLimiterLevel);
}

}  // namespace oggmix
