// Unit1_test.cpp: the main window's start-up (with and without the decoding library),
// loading by dialog and by dropped files with the memo's information, failed loads, and
// shutdown.
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/ConversionOffer.h"
#include "sound/platform/ManualAudio.h"
#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1StartUp = WindowTest;
using TForm1Load = WindowTest;

constexpr const char* kAllButtons[] = {
    "Button1",  "Button2",  "Button3",  "Button4",  "Button5",  "Button6",  "Button7",  "Button8",
    "Button9",  "Button10", "Button11", "Button12", "Button13", "Button14", "Button15", "Button16",
    "Button17", "Button18", "Button19", "Button20", "Button21", "Button22", "Button23", "Button24",
    "Button25", "Button26", "Button27", "Button28", "Button29", "Button30"};
constexpr const char* kAllBars[] = {"ScrollBar1",   "ScrollBar2",   "ScrollBar3", "ScrollBar4",
                                    "ScrollBar5",   "ScrollBar6",   "ScrollBar7", "MinVolumeBar",
                                    "MaxVolumeBar", "FadeVolumeBar"};

int SeekMaximum(QWidget& window, const char* bar) {
    return Find<QScrollBar>(window, bar).maximum();
}

TEST_F(TForm1StartUp, WiresTheMixerStreamsLimiterDisplayAndDrops) {
    ASSERT_NE(Window->Player(), nullptr);
    ASSERT_NE(Window->OggData(0), nullptr);
    ASSERT_NE(Window->OggData(1), nullptr);
    EXPECT_NE(Window->OggData(0), Window->OggData(1));
    EXPECT_EQ(Window->Player()->SlotCount(), 8);
    // Neither stream sits in a slot before a file is loaded.
    EXPECT_EQ(Window->Player()->Slots(0), nullptr);
    EXPECT_EQ(Window->Player()->Slots(1), nullptr);
    // The limiter bars' start values reach the mixer at once.
    EXPECT_EQ(Window->Player()->MinLevel(), 26213);
    EXPECT_EQ(Window->Player()->MaxLevel(), 65534);
    EXPECT_EQ(Window->Player()->Down(), 500);
    EXPECT_EQ(Window->Player()->Delay(), 44100);
    EXPECT_TRUE(Window->IdleRunning());
    EXPECT_TRUE(Window->acceptDrops());
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
    EXPECT_EQ(Form1, Window.get());
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(ExecutableDir()));
}

TEST_F(TForm1StartUp, MissingDecodingLibraryIsShownAndNoControlReachesMissingObjects) {
    Window.reset();
    TForm1::Options options;
    options.DecoderLibrary = "libwuvorbis-missing.so";
    Window = std::make_unique<TForm1>(options);
    Window->show();

    const QString expected = QString::fromUtf8("wuvorbis.dllが存在しません。\n(") +
                             QString::fromStdString(ExecutableDir()) +
                             QStringLiteral("/libwuvorbis-missing.so)");
    EXPECT_EQ(ExceptionMessages(*Window), QStringList{expected});
    DismissExceptions(*Window);

    EXPECT_EQ(Window->Player(), nullptr);
    EXPECT_EQ(Window->OggData(0), nullptr);
    EXPECT_FALSE(Window->IdleRunning());
    // The display never ran: the controls keep their first texts.
    EXPECT_EQ(Find<QLabel>(*Window, "ListenerLabel").text(), QStringLiteral("----"));
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit1").text(), QStringLiteral("Edit1"));
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit2").text(), QStringLiteral("Edit1"));
    EXPECT_FALSE(DropFiles(*Window, {ToneFile}));
    for (const char* name : kAllButtons) {
        EXPECT_FALSE(Find<QPushButton>(*Window, name).isEnabled()) << name;
        Click(*Window, name);
    }
    for (const char* name : kAllBars) {
        EXPECT_FALSE(Find<QScrollBar>(*Window, name).isEnabled()) << name;
        MoveBar(*Window, name, 5);
    }
    Window->LoadOgg(0, ToneFile);
    Window->AppIdle();
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
    EXPECT_EQ(Window->Player(), nullptr);
}

TEST_F(TForm1StartUp, WithoutASoundDeviceTheWindowSaysSoAndStillLoads) {
    Window.reset();
    const QByteArray audio = qgetenv("OGGMIX_AUDIO");
    qputenv("OGGMIX_AUDIO", QByteArrayLiteral("no-such-device"));
    Window = std::make_unique<TForm1>();
    qputenv("OGGMIX_AUDIO", audio);
    Window->show();

    EXPECT_FALSE(Window->Voxa().Initialized());
    const QStringList messages = ExceptionMessages(*Window);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(
        QStringLiteral("The sound device cannot be opened (OGGMIX_AUDIO=no-such-device")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("OGGMIX_AUDIO=null")));
    DismissExceptions(*Window);

    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    EXPECT_EQ(Window->OggData(0)->GetState(true), 3);
    EXPECT_TRUE(MemoLines(*Window).contains(QStringLiteral("TotalTime:3")));
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
}

TEST_F(TForm1Load, DroppedFileGoesToChannel0AndPlaysWithItsInformationInTheMemo) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));

    TOggData* stream = Window->OggData(0);
    EXPECT_EQ(Window->Player()->Slots(0), stream);
    EXPECT_EQ(Window->Player()->Slots(1), nullptr);
    EXPECT_EQ(stream->GetState(true), 3);  // playing and looping

    const Decoded reference = DecodeReference(ReadFileBytes(ToneFile));
    const QStringList expected = {QString::fromStdString(reference.Vendor),
                                  QStringLiteral("first line"),
                                  QStringLiteral("second line"),
                                  QStringLiteral("Channels:2"),
                                  QStringLiteral("Rate:44100"),
                                  QStringLiteral("TotalTime:3"),
                                  QStringLiteral("TotalSize:%1").arg(reference.PcmTotal * 4)};
    EXPECT_EQ(MemoLines(*Window), expected);
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar1"), 3);
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar2"), 100);
}

TEST_F(TForm1Load, MonoHalfRateFileShowsItsOwnFormatAndLength) {
    ASSERT_TRUE(DropFiles(*Window, {LongFile}));
    const QStringList lines = MemoLines(*Window);
    ASSERT_EQ(lines.size(), 5);  // no COMMENT tag: vendor and four information lines
    EXPECT_EQ(lines[1], QStringLiteral("Channels:1"));
    EXPECT_EQ(lines[2], QStringLiteral("Rate:22050"));
    EXPECT_EQ(lines[3], QStringLiteral("TotalTime:5"));
    EXPECT_EQ(lines[4], QStringLiteral("TotalSize:%1").arg(Window->OggData(0)->TotalSize()));
}

TEST_F(TForm1Load, ThreeDroppedFilesLoadTheFirstTwoIntoChannels0And1) {
    ASSERT_TRUE(DropFiles(*Window, {ShortFile, LongFile, ToneFile}));
    EXPECT_FLOAT_EQ(Window->OggData(0)->TotalTime(), 2.0f);
    EXPECT_FLOAT_EQ(Window->OggData(1)->TotalTime(), 5.0f);
    EXPECT_EQ(Window->Player()->Slots(1), Window->OggData(1));
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar1"), 2);
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar2"), 5);
    // The memo shows the last file loaded; the third was never read.
    EXPECT_TRUE(MemoLines(*Window).contains(QStringLiteral("TotalTime:5")));
}

TEST_F(TForm1Load, DroppedFolderIsSkippedAndTheSecondNameStillGoesToChannel1) {
    ASSERT_TRUE(DropFiles(*Window, {Files->Path(), ShortFile}));
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
    EXPECT_EQ(Window->Player()->Slots(0), nullptr);
    EXPECT_EQ(Window->OggData(0)->GetState(true), 0);
    EXPECT_EQ(Window->Player()->Slots(1), Window->OggData(1));
    EXPECT_FLOAT_EQ(Window->OggData(1)->TotalTime(), 2.0f);
}

TEST_F(TForm1Load, FileThatIsNotOggVorbisShowsTheMessageAndTheChannelPlaysOn) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    const QStringList memoBefore = MemoLines(*Window);
    MoveBar(*Window, "ScrollBar1", 1);

    ASSERT_TRUE(DropFiles(*Window, {TextFile}));
    EXPECT_EQ(ExceptionMessages(*Window),
              QStringList{QString::fromUtf8("ファイルの読み込みに失敗")});
    DismissExceptions(*Window);

    TOggData* stream = Window->OggData(0);
    EXPECT_EQ(Window->Player()->Slots(0), stream);
    EXPECT_EQ(stream->GetState(true), 3);
    EXPECT_FLOAT_EQ(stream->TotalTime(), 3.0f);
    EXPECT_GT(RenderPeak(*Window->Player()), 0);
    EXPECT_EQ(MemoLines(*Window), memoBefore);
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar1"), 3);
    EXPECT_EQ(Find<QScrollBar>(*Window, "ScrollBar1").value(), 1);

    // The window goes on working.
    Click(*Window, "Button29");  // PAUSE
    EXPECT_EQ(stream->GetState(true), 1);
}

TEST_F(TForm1Load, FileOfAnotherRateSaysWhyItIsSilentAndPlaysOnceConverted) {
    const std::string file48k = WriteToneFile(*Files, "tone48k.ogg", 1.0, 48000, 2);
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, file48k}));
    auto boxes = Window->findChildren<QMessageBox*>(QString::fromLatin1(kConversionBoxName));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->text(), QStringLiteral("tone48k.ogg: would play silence: 48000 Hz; "
                                               "converting it to 44100 Hz stereo plays it."));
    // The other channel plays on meanwhile; this one renders nothing.
    EXPECT_GT(RenderPeak(*Window->Player()), 0);
    EXPECT_EQ(Window->OggData(0)->GetState(true), 3);
    EXPECT_EQ(Window->OggData(1)->GetState(true), 1);

    for (QAbstractButton* button : boxes[0]->buttons())
        if (button->text() == QString::fromLatin1(kConvertCaption))
            QTest::mouseClick(button, Qt::LeftButton);
    ProcessEvents();
    EXPECT_TRUE(Window->OggData(1)->Conversion());
    EXPECT_EQ(Window->OggData(1)->GetState(true), 3);
    Window->Player()->Pause(0);
    EXPECT_GT(RenderPeak(*Window->Player()), 0);
    EXPECT_EQ(Window->OggData(1)->GetState(true), 3);
}

TEST_F(TForm1Load, NameThatIsNoFileDoesNothing) {
    Window->LoadOgg(0, Files->Path() + "/missing.ogg");
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
    EXPECT_EQ(Window->Player()->Slots(0), nullptr);
    EXPECT_EQ(MemoLines(*Window), QStringList{QString()});
}

TEST_F(TForm1Load, LoadButtonOfChannel1OpensTheDialogAndLoadsTheChosenFile) {
    AnswerOpenDialog(*Window, LongFile, [&] { Click(*Window, "Button6"); });
    EXPECT_EQ(Window->Player()->Slots(1), Window->OggData(1));
    EXPECT_EQ(Window->OggData(1)->GetState(true), 3);
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar2"), 5);
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar1"), 100);  // channel 0 keeps its range
    EXPECT_EQ(Window->Player()->Slots(0), nullptr);
}

TEST_F(TForm1Load, CancellingTheDialogChangesNothing) {
    AnswerOpenDialog(*Window, "", [&] { Click(*Window, "Button1"); });
    EXPECT_EQ(Window->Player()->Slots(0), nullptr);
    EXPECT_EQ(MemoLines(*Window), QStringList{QString()});
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
}

TEST_F(TForm1Load, LoadOpensTheDialogInTheCurrentFolderOfTheMoment) {
    // Start-up has made the program's folder current; the current folder moved on since, to
    // one that no dialog has shown yet.
    const TempDir elsewhere;
    const std::filesystem::path programFolder = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.Path());
    QString shownFolder;
    QFileDialog& dialog = Find<QFileDialog>(*Window, "OpenDialog1");
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!dialog.isVisible()) return;
        shownFolder = dialog.directory().absolutePath();
        dialog.reject();
    });
    look.start(1);
    Click(*Window, "Button1");
    look.stop();
    std::filesystem::current_path(programFolder);
    EXPECT_EQ(shownFolder, QDir(QString::fromStdString(elsewhere.Path())).absolutePath());
}

TEST_F(TForm1Load, TenThousandCommentLinesReachTheMemoInOneChange) {
    std::string comment = "COMMENT=";
    for (int i = 0; i < 10000; ++i) comment += "line " + std::to_string(i) + "\r\n";
    comment += "last";
    const std::string file = WriteToneFile(*Files, "commented.ogg", 0.5, 44100, 2, {comment});
    int changes = 0;
    QObject::connect(&Find<QPlainTextEdit>(*Window, "Memo1"), &QPlainTextEdit::textChanged,
                     [&] { ++changes; });
    ASSERT_TRUE(DropFiles(*Window, {file}));
    const QStringList lines = MemoLines(*Window);
    ASSERT_EQ(lines.size(), 1 + 10001 + 4);
    EXPECT_EQ(lines[1], QStringLiteral("line 0"));
    EXPECT_EQ(lines[10001], QStringLiteral("last"));
    // Line by line, the memo would be laid out again some 10 000 times.
    EXPECT_LE(changes, 2);
}

TEST_F(TForm1Load, SeekBarBeyondTheNewLengthClampsAndSeeksTheNewStream) {
    const std::string shorter = WriteToneFile(*Files, "shorter.ogg", 2.4);  // seek range 0..2
    ASSERT_TRUE(DropFiles(*Window, {LongFile}));
    MoveBar(*Window, "ScrollBar1", 4);
    ASSERT_TRUE(DropFiles(*Window, {shorter}));
    EXPECT_EQ(Find<QScrollBar>(*Window, "ScrollBar1").value(), 2);
    EXPECT_NEAR(Window->OggData(0)->GetTime(true), 2.0f, 0.01f);
    EXPECT_EQ(Window->OggData(0)->GetState(true), 3);
}

struct LengthCase {
    double Seconds;
    int SeekMaximum;
};

class TForm1SeekRange : public WindowTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(TForm1SeekRange, SeekBarMaximumIsTheLengthRoundedHalfToEven) {
    const LengthCase& length = GetParam();
    const std::string file = WriteSilenceFile(
        *Files, "length-" + std::to_string(length.Seconds) + ".ogg", length.Seconds);
    ASSERT_TRUE(DropFiles(*Window, {file}));
    EXPECT_EQ(SeekMaximum(*Window, "ScrollBar1"), length.SeekMaximum);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TForm1SeekRange,
                         ::testing::Values(LengthCase{59.5, 60}, LengthCase{58.5, 58},
                                           LengthCase{2.49, 2}, LengthCase{2.51, 3}),
                         [](const auto& info) {
                             const int centiseconds =
                                 static_cast<int>(info.param.Seconds * 100.0 + 0.5);
                             return "Centiseconds" + std::to_string(centiseconds);
                         });

TEST_F(TForm1StartUp, ClosingWhileBothChannelsPlayShutsDownCleanly) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, LongFile}));
    ASSERT_EQ(Window->OggData(0)->GetState(true), 3);
    ASSERT_EQ(Window->OggData(1)->GetState(true), 3);

    // The device plays on its own thread, so that the refill thread is busy while the window
    // closes.
    std::atomic<bool> playing{true};
    std::thread device([&] {
        while (playing.load()) ManualAudio::Advance(512);
    });
    const AudioFeed& feed = *Window->Feed();
    WaitForFills(feed, 4);

    Window->close();
    Window.reset();
    playing.store(false);
    device.join();
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(VorbisFileDLL, nullptr);  // unloaded last
}

}  // namespace
}  // namespace oggmix::test
