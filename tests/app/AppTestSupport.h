#pragma once
// AppTestSupport.h: driving the real main window in tests: the offscreen Qt application,
// controls looked up by object name, dropped files, the open dialog, exception boxes, memo
// lines and the fixture files the window loads.
// Threads: the test's main thread (the UI thread). Memory: allocates.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <memory>

#include "app/Unit1.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace oggmix::test {

// The process's QApplication, on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
void EnsureApplication();

// The child of window with that object name and type; throws when there is none.
template <class T>
T& Find(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) throw std::runtime_error(std::string("no control named ") + name);
    return *found;
}

// Clicks the named push button with the mouse, as a user would.
void Click(QWidget& window, const char* buttonName);
// Moves the named scroll bar to position, as a user dragging it would.
void MoveBar(QWidget& window, const char* barName, int position);

// Drags the files onto the window and drops them there, in the order given. False when the
// window does not take them (it does not accept drops, or refuses the drag).
bool DropFiles(QWidget& window, const std::vector<std::string>& paths);

// Runs action while the window's open dialog is shown: chooses path in it and confirms, or
// cancels when path is empty.
void AnswerOpenDialog(QWidget& window, const std::string& path,
                      const std::function<void()>& action);

// The texts of the exception boxes now open over the window.
[[nodiscard]] QStringList ExceptionMessages(QWidget& window);
// Presses OK on every exception box, as a user would.
void DismissExceptions(QWidget& window);

// The memo's lines.
[[nodiscard]] QStringList MemoLines(QWidget& window);

// Lets queued events (deferred deletes, repaints) run.
void ProcessEvents();

// A tone of the given length and format with the given comments, as an Ogg Vorbis file in dir.
std::string WriteToneFile(const TempDir& dir, const std::string& name, double seconds,
                          int32_t rateHz = 44100, int32_t channels = 2,
                          std::vector<std::string> comments = {}, double amplitude = 0.25);
// Silence, quick to encode even when long.
std::string WriteSilenceFile(const TempDir& dir, const std::string& name, double seconds);

// Renders the mixer's next block as the refill thread would and returns its largest sample
// magnitude.
int32_t RenderPeak(TOggPlayer& player);

// Pins the millisecond clock for one test, so that what is "heard now" is exact.
struct PinnedClock {
    explicit PinnedClock(int64_t nowMs);
    ~PinnedClock();
    PinnedClock(const PinnedClock&) = delete;
    PinnedClock& operator=(const PinnedClock&) = delete;
};

// Waits until the feed's refill thread has handled at least count fill requests in all. On the
// manual back end the thread asks for one block when channel 0 starts and then only when a test
// advances the device.
void WaitForFills(const AudioFeed& feed, uint64_t count);

// A test with a fresh main window, shown on the offscreen platform, and fixture files made
// once per test program:
//   ToneFile      3 s, 44100 Hz stereo, COMMENT "first line" CR LF "second line", TITLE
//   ShortFile     2 s, 44100 Hz stereo
//   LongFile      5 s, 22050 Hz mono
//   SilentFile    10 s of silence, 22050 Hz mono
//   TextFile      a text file named .ogg
// SetUp waits for the feed's first fill, so that afterwards only the test renders: it calls
// the mixer's RenderNext itself, as the refill thread would.
class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    static std::unique_ptr<TempDir> Files;
    static std::string ToneFile, ShortFile, LongFile, SilentFile, TextFile;

    std::unique_ptr<TForm1> Window;
};

}  // namespace oggmix::test
