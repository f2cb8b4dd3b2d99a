// Unit1.cpp: the main window's start-up and shutdown, loading a file into a channel, and
// dropped files.
#include "app/Unit1.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QUrl>

#include <filesystem>
#include <system_error>

#include "app/ConversionOffer.h"
#include "app/ExceptionDisplay.h"
#include "app/TextFormat.h"
#include "base/Exceptions.h"
#include "decoder/OggWuvorbisLib.h"
#include "sound/platform/AudioBackend.h"

namespace oggmix {

TForm1* Form1 = nullptr;

namespace {

// Without a sound device the window still works, silently; say why nothing is heard.
void ShowNoSoundDevice(QWidget* window) {
    const std::string reason = LastAudioBackendError();
    ShowException(window, "The sound device cannot be opened (OGGMIX_AUDIO=" + AudioBackendName() +
                              (reason.empty() ? "" : ": " + reason) +
                              "), so nothing will be heard.\nStart with OGGMIX_AUDIO=null to "
                              "play without a sound device, or OGGMIX_AUDIO=wav:PATH to write "
                              "what would be heard to a WAV file.");
}

// Local files among the dropped URLs, in the order given.
std::vector<std::string> LocalFiles(const QMimeData& data) {
    std::vector<std::string> names;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) names.push_back(url.toLocalFile().toStdString());
    return names;
}

}  // namespace

TForm1::TForm1(Options options) : FOptions(std::move(options)) {
    Form1 = this;
    VOXA1 = std::make_unique<TVOXA>(nullptr);
    VOXA1->SetDebugOption({dsoHaltOnError});
    VOXA1->Loaded();
    CreateControls();
    ConnectHandlers();
    Guarded(this, [this] { FormCreate(); });
    EnableControls(FPlayer && FOggData[0] && FOggData[1]);
}

TForm1::~TForm1() {
    FormDestroy();
    if (Form1 == this) Form1 = nullptr;
}

TOggData* TForm1::OggData(int c) const noexcept {
    return c >= 0 && c < kChannelCount ? FOggData[c] : nullptr;
}

void TForm1::FormCreate() {
    std::error_code error;
    std::filesystem::current_path(QCoreApplication::applicationDirPath().toStdString(), error);
    if (error) throw EInOutError("I/O error " + std::to_string(error.value()));
    if (!VOXA1->Initialized()) ShowNoSoundDevice(this);

    // Binds the decoding library (a missing one throws here, before anything else exists),
    // creates the wave data, the mixer and both streams, and starts sound channel 0. An
    // incomplete library is not reported: loads then fail with their own message.
    FFeed = std::make_unique<AudioFeed>(*VOXA1, FOptions.DecoderLibrary, kChannelCount);
    FWaveData = &FFeed->WaveData();
    FPlayer = &FFeed->Player();
    for (int c = 0; c < kChannelCount; ++c) FOggData[c] = &FFeed->Stream(c);

    MaxVolumeBarChange();
    FIdleTimer.start(kIdleIntervalMs);
    setAcceptDrops(true);
    // The clock is a steady millisecond clock; there is no timer resolution to raise.
}

void TForm1::FormDestroy() {
    FIdleTimer.stop();
    FPlayer = nullptr;
    FOggData = {};
    FWaveData = nullptr;
    // Stops sound channel 0 and the refill thread before the slots are emptied and the
    // streams, the mixer and the decoding library go.
    FFeed.reset();
    setAcceptDrops(false);
}

void TForm1::LoadOgg(int32_t c, const std::string& FileName) {
    if (c < 0 || c >= kChannelCount || FPlayer == nullptr || FOggData[c] == nullptr) return;
    std::error_code error;
    // Directories, devices and pipes do not count as files (a pipe would block the read).
    if (!std::filesystem::is_regular_file(FileName, error)) return;

    auto file = std::make_unique<MemoryStream>();
    file->LoadFromFile(FileName);
    {
        // A load that fails closes the stream it was given. Trying the bytes on a spare
        // stream first keeps the channel's music playing when the file is not Ogg Vorbis.
        TOggData probe(kStreamBufferBytes);
        (void)probe.LoadFromStream(std::make_unique<MemoryStream>(
            std::vector<uint8_t>(file->Bytes().begin(), file->Bytes().end())));
    }
    TOggData& stream = *FOggData[c];
    (void)stream.LoadFromStream(std::move(file));
    FPlayer->SetSlot(c, &stream, true);
    FPlayer->Play(c, true);

    // The whole text in one call: appending line by line lays the memo out again for every
    // line, which holds the window still for a comment of thousands of lines.
    QStringList memo{DisplayText(stream.Vendor())};
    for (const std::string& line : stream.GetComments("COMMENT")) memo.push_back(DisplayText(line));
    memo.push_back(QStringLiteral("Channels:%1").arg(stream.Channels()));
    memo.push_back(QStringLiteral("Rate:%1").arg(stream.Rate()));
    memo.push_back(QString::fromStdString("TotalTime:" +
                                          FormatGeneral(static_cast<double>(stream.TotalTime()))));
    memo.push_back(QStringLiteral("TotalSize:%1").arg(stream.TotalSize()));
    Memo1->setPlainText(memo.join(QLatin1Char('\n')));

    // Shrinking the range below the bar's position moves the bar, and that seeks the new
    // stream there: intended, the bar and the stream agree afterwards.
    FChannels[c].Seek->setMaximum(RoundHalfEven(static_cast<double>(stream.TotalTime())));

    // A format the stream does not play as it is: the user hears why, and may convert it.
    OfferConversion(this, stream, FileName, [this, c] {
        if (FPlayer != nullptr) FPlayer->Play(c, true);
    });
}

void TForm1::WMDropFiles(const std::vector<std::string>& FileNames) {
    if (FileNames.size() > 0) LoadOgg(0, FileNames[0]);
    if (FileNames.size() > 1) LoadOgg(1, FileNames[1]);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(*event->mimeData()).empty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const std::vector<std::string> names = LocalFiles(*event->mimeData());
    if (names.empty()) return;
    event->acceptProposedAction();
    Guarded(this, [&] { WMDropFiles(names); });
}

}  // namespace oggmix
