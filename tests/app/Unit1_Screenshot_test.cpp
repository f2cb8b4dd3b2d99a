// Unit1_Screenshot_test.cpp: the window as a user sees it with music playing in both
// channels. With OGGMIX_SCREENSHOT=PATH the picture is also saved there as PNG (the README's
// screenshot comes from this test).
#include <QDir>
#include <QImage>

#include "app/CanvasImage.h"
#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1Screenshot = WindowTest;

// The folder the tests were started in: the window makes its program's folder current, and a
// relative OGGMIX_SCREENSHOT path means the former.
const QString kStartFolder = QDir::currentPath();

TEST_F(TForm1Screenshot, WindowShowsItsControlsAndDrawnPicturesWithMusicPlaying) {
    const PinnedClock clock(1'000'000);
    EncodeOptions options;
    options.Comments = {"TITLE=oggmix demo",
                        "COMMENT=*looptime,0,4.0,8.0,-1\r\n// intro, then a loop"};
    const std::string music =
        Files->Write("music.ogg", EncodeOgg(Music(44100, 2, 8.0, 3), options));
    ASSERT_TRUE(DropFiles(*Window, {LongFile, music}));
    Click(*Window, "Button15");  // LowReso on channel 0
    Click(*Window, "Button28");  // Wave on channel 1
    for (int i = 0; i < 12; ++i) Window->Player()->RenderNext();
    Window->AppIdle();

    const QImage shot = Window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(506, 479));
    // Each picture appears in the window exactly as drawn.
    for (const char* name : {"Image1", "Image2", "Image3", "Image4"}) {
        const CanvasImage& picture = Find<CanvasImage>(*Window, name);
        EXPECT_EQ(shot.copy(picture.geometry()), picture.Canvas()) << name;
    }
    if (const QByteArray path = qgetenv("OGGMIX_SCREENSHOT"); !path.isEmpty()) {
        const QString file = QDir(kStartFolder).absoluteFilePath(QString::fromLocal8Bit(path));
        EXPECT_TRUE(shot.save(file, "PNG")) << file.toStdString();
    }
}

}  // namespace
}  // namespace oggmix::test
