#pragma once
// Unit1.h: the test application's main window, TForm1: two music channels ("Channel 0",
// "Channel 1") and the whole mix ("Channel ALL"). Loading by dialog or dropped files,
// transport, fades, seek, volumes, tone-filter presets, gain control, limiter settings, and a
// live display of play times, levels, filter curves, spectra and the limiter's state.
//
// Facets: Unit1.cpp (start-up, shutdown, loading, dropped files), Unit1_Layout.cpp (the
// controls and their places), Unit1_Controls.cpp (control handlers), Unit1_Display.cpp (the
// idle display).
//
// The audio path (decoding library, wave data on sound channel 0, mixer, the two streams, the
// fill routine and its shutdown order) is the shared AudioFeed; the window owns it and reaches
// its objects through FPlayer, FOggData and FWaveData.
//
// Threads: UI thread, except the audio feed's fill routine on the refill thread.
// Locks:   none of its own; the mixer and the streams lock themselves.
// Memory:  start-up and loads allocate; the idle display only its formatted strings.
// Errors:  an exception that leaves a handler (start-up included) is shown in a message box
//          (ExceptionDisplay.h) and the window goes on. When start-up fails part-way, the
//          controls that need the missing objects are disabled and do nothing.

#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/DeviceNotice.h"
#include "feed/AudioFeed.h"
#include "mixer/OggPlayerLib.h"
#include "sound/voxa.h"
#include "stream/FilterPresets.h"
#include "stream/OggDataLib.h"

class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;

namespace oggmix {

class CanvasImage;
class LevelMeter;

inline constexpr int kChannelCount = 2;
inline constexpr int kFilterPresetCount = static_cast<int>(kFilterPresets.size());
inline constexpr int32_t kStreamBufferBytes = AudioFeed::kStreamBytes;
inline constexpr int32_t kMixerBufferBytes = AudioFeed::kMixerBytes;
inline constexpr int kIdleIntervalMs = 15;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    struct Options {
        // Bound from the executable's folder at start-up.
        std::string DecoderLibrary = "libwuvorbis.so";
    };

    // Creates the controls, then runs FormCreate; an exception from it is shown, and the
    // window is still usable (with the controls that need missing objects disabled).
    explicit TForm1(Options options);
    TForm1() : TForm1(Options{}) {}
    ~TForm1() override;  // FormDestroy, then the controls and the sound component

    // Loads FileName into channel c and plays it looping; the memo shows its information and
    // channel c's seek bar its length. A name that is not an existing file does nothing; a
    // file that is not Ogg Vorbis throws ERangeError "ファイルの読み込みに失敗" and leaves the
    // channel as it was.
    void LoadOgg(int32_t c, const std::string& FileName);
    // Dropped files: the first name goes to channel 0, the second to channel 1, the rest are
    // ignored.
    void WMDropFiles(const std::vector<std::string>& FileNames);
    // One pass of the live display. Runs every kIdleIntervalMs while the window lives.
    void AppIdle();

    // Read-outs for hosts and tests; null when start-up did not get that far.
    [[nodiscard]] TOggPlayer* Player() const noexcept { return FPlayer; }
    [[nodiscard]] TOggData* OggData(int c) const noexcept;
    [[nodiscard]] AudioFeed* Feed() const noexcept { return FFeed.get(); }
    [[nodiscard]] TVOXA& Voxa() const noexcept { return *VOXA1; }
    [[nodiscard]] bool Drawing() const noexcept { return FDrawing; }
    [[nodiscard]] bool Seeking() const noexcept { return FSeeking; }
    [[nodiscard]] bool IdleRunning() const noexcept { return FIdleTimer.isActive(); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The controls of one channel; presets in the order of the preset table.
    struct ChannelPanel {
        QPushButton* Load = nullptr;
        QPushButton* Play = nullptr;
        QPushButton* FadeIn = nullptr;
        QPushButton* Pause = nullptr;
        QPushButton* Stop = nullptr;
        QPushButton* FadeOut = nullptr;
        std::array<QPushButton*, kFilterPresetCount> Presets{};
        QScrollBar* Seek = nullptr;
        QScrollBar* Volume = nullptr;
        QScrollBar* AGC = nullptr;
        CanvasImage* Picture = nullptr;
        QLineEdit* PlayTime = nullptr;
    };

    void FormCreate();
    void FormDestroy();

    // Unit1_Layout.cpp
    void CreateControls();
    void EnableControls(bool enabled);

    // Unit1_Controls.cpp
    void ConnectHandlers();
    void LoadClick(int c);
    void PlayClick(int c);
    void PauseClick(int c);
    void StopClick(int c);
    void FadeInClick(int c);
    void FadeOutClick(int c);
    void FilterPresetClick(int c, int preset);
    void SeekBarChange(int c);
    void VolumeBarChange(int c);
    void AGCBarChange(int c);
    void PlayAllClick();
    void StopAllClick();
    void MasterVolumeBarChange();
    void MaxVolumeBarChange();

    // Unit1_Display.cpp
    void DrawChannelPicture(int c);
    void DrawMixPicture();
    void DrawLimiterPicture();

    Options FOptions;
    // The sound component; made before start-up and freed after everything that uses it.
    std::unique_ptr<TVOXA> VOXA1;
    std::unique_ptr<AudioFeed> FFeed;

    // Controls, owned by the window as its children.
    std::array<ChannelPanel, kChannelCount> FChannels{};
    QPushButton* FPlayAllButton = nullptr;   // Button11
    QPushButton* FStopAllButton = nullptr;   // Button12
    QScrollBar* FMasterVolumeBar = nullptr;  // ScrollBar5
    QScrollBar* MinVolumeBar = nullptr;
    QScrollBar* MaxVolumeBar = nullptr;
    QScrollBar* FadeVolumeBar = nullptr;
    CanvasImage* FMixPicture = nullptr;      // Image1
    CanvasImage* FLimiterPicture = nullptr;  // Image4
    QLabel* ListenerLabel = nullptr;
    LevelMeter* ProgressBar1 = nullptr;  // left
    LevelMeter* ProgressBar2 = nullptr;  // right
    QPlainTextEdit* Memo1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QTimer FIdleTimer;
    DeviceNotice FDeviceNotice;  // says when the sound device goes and returns

    // The window's state, in this order. FDrawing and FSeeking are touched on the UI thread
    // only.
    bool FDrawing = false;          // the display is moving controls: the seek bars do not seek
    bool FSeeking = false;          // a seek handler runs: the display does nothing
    TOggPlayer* FPlayer = nullptr;  // in FFeed
    std::array<TOggData*, kChannelCount> FOggData{};  // in FFeed
    std::array<std::array<float, kSpectrumValueCount>, kChannelCount> FSpectrum{};
    std::array<float, kSpectrumValueCount> FMixSpectrum{};
    TVOXAWaveData* FWaveData = nullptr;  // in FFeed
};

// The main window while it exists.
extern TForm1* Form1;

}  // namespace oggmix
