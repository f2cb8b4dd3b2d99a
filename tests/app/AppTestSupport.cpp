// AppTestSupport.cpp: the offscreen application and the ways tests act on the window.
#include "tests/app/AppTestSupport.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/ExceptionDisplay.h"
#include "base/Clock.h"

namespace oggmix::test {

namespace {

std::unique_ptr<QApplication>& Application() {
    static std::unique_ptr<QApplication> application;
    return application;
}

// Ends the application when the tests end, before the process's static objects go: Qt's own
// globals are gone by then.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void TearDown() override { Application().reset(); }
};

[[maybe_unused]] ::testing::Environment* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

void EnsureApplication() {
    if (Application()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    static int argc = 1;
    static char name[] = "oggmix_app_tests";
    static char* argv[] = {name, nullptr};
    Application() = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("oggmix"));
}

void Click(QWidget& window, const char* buttonName) {
    QTest::mouseClick(&Find<QPushButton>(window, buttonName), Qt::LeftButton);
}

void MoveBar(QWidget& window, const char* barName, int position) {
    QScrollBar& bar = Find<QScrollBar>(window, barName);
    bar.setSliderDown(true);
    bar.setSliderPosition(position);
    bar.setSliderDown(false);
}

bool DropFiles(QWidget& window, const std::vector<std::string>& paths) {
    // The platform offers a drag only to windows that take drops.
    if (!window.acceptDrops()) return false;
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    data.setUrls(urls);
    const QPoint at(window.width() / 2, window.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return drop.isAccepted();
}

void AnswerOpenDialog(QWidget& window, const std::string& path,
                      const std::function<void()>& action) {
    QFileDialog& dialog = Find<QFileDialog>(window, "OpenDialog1");
    const QFileInfo chosen(QString::fromStdString(path));
    // Answered from the dialog's own event loop, tick by tick until it has closed: a dialog
    // still busy reading its folder may ignore a first answer. Gives up (and cancels) rather
    // than hang when it never closes.
    constexpr int kMaxTicks = 10000;
    int ticks = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (!dialog.isVisible()) return;
        if (path.empty() || ++ticks > kMaxTicks) {
            if (ticks > kMaxTicks) ADD_FAILURE() << "the open dialog did not take " << path;
            dialog.reject();
            return;
        }
        // What a user does: go to the folder, type the name, press Open.
        dialog.setDirectory(chosen.absolutePath());
        if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(chosen.fileName());
        else
            dialog.selectFile(chosen.absoluteFilePath());
        static_cast<QDialog&>(dialog).accept();
    });
    answer.start(1);
    action();
    answer.stop();
}

QStringList ExceptionMessages(QWidget& window) {
    QStringList messages;
    for (QMessageBox* box :
         window.findChildren<QMessageBox*>(QString::fromLatin1(kExceptionBoxName)))
        if (box->isVisible()) messages.push_back(box->text());
    return messages;
}

void DismissExceptions(QWidget& window) {
    for (QMessageBox* box :
         window.findChildren<QMessageBox*>(QString::fromLatin1(kExceptionBoxName)))
        if (box->isVisible()) QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    ProcessEvents();
}

QStringList MemoLines(QWidget& window) {
    return Find<QPlainTextEdit>(window, "Memo1").toPlainText().split(QLatin1Char('\n'));
}

void ProcessEvents() {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

std::string WriteToneFile(const TempDir& dir, const std::string& name, double seconds,
                          int32_t rateHz, int32_t channels, std::vector<std::string> comments,
                          double amplitude) {
    EncodeOptions options;
    options.Comments = std::move(comments);
    return dir.Write(name, EncodeOgg(Sine(rateHz, channels, seconds, 440.0, amplitude), options));
}

std::string WriteSilenceFile(const TempDir& dir, const std::string& name, double seconds) {
    return dir.Write(name, EncodeOgg(Silence(22050, 1, seconds)));
}

PinnedClock::PinnedClock(int64_t nowMs) { test_clock::Pin(nowMs); }
PinnedClock::~PinnedClock() { test_clock::Unpin(); }

int32_t RenderPeak(TOggPlayer& player) {
    player.RenderNext();
    const int16_t* block = player.GetBlock();
    int32_t peak = 0;
    for (int32_t i = 0; i < kMixerBufferBytes / 2 / kBytesPerSample; ++i)
        peak = std::max(peak, std::abs(static_cast<int32_t>(block[i])));
    return peak;
}

std::unique_ptr<TempDir> WindowTest::Files;
std::string WindowTest::ToneFile, WindowTest::ShortFile, WindowTest::LongFile,
    WindowTest::SilentFile, WindowTest::TextFile;

void WindowTest::SetUpTestSuite() {
    EnsureApplication();
    if (Files) return;
    Files = std::make_unique<TempDir>();
    ToneFile = WriteToneFile(*Files, "tone.ogg", 3.0, 44100, 2,
                             {"TITLE=tone", "COMMENT=first line\r\nsecond line"});
    ShortFile = WriteToneFile(*Files, "short.ogg", 2.0);
    LongFile = WriteToneFile(*Files, "long.ogg", 5.0, 22050, 1);
    SilentFile = WriteSilenceFile(*Files, "silent.ogg", 10.0);
    const std::string text = "This is not an Ogg Vorbis file.\n";
    TextFile = Files->Write("text.ogg", std::vector<uint8_t>(text.begin(), text.end()));
}

void WindowTest::SetUp() {
    Window = std::make_unique<TForm1>();
    Window->show();
    ASSERT_NE(Window->Feed(), nullptr);
    WaitForFills(*Window->Feed(), 1);
}

void WaitForFills(const AudioFeed& feed, uint64_t count) {
    // The refill thread polls every 10 ms; on the manual device nothing else moves meanwhile.
    for (int i = 0; i < 5000 && feed.WrittenBlocks() + feed.DroppedBlocks() < count; ++i)
        QTest::qWait(1);
    ASSERT_GE(feed.WrittenBlocks() + feed.DroppedBlocks(), count);
}

void WindowTest::TearDown() {
    if (Window) DismissExceptions(*Window);
    Window.reset();
    ProcessEvents();
}

}  // namespace oggmix::test
