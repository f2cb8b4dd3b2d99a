// Unit1_Display_test.cpp: the live display as a user sees it: play-time texts, meters, seek
// positions, and the pixels of the filter, spectrum and limiter pictures.
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

#include <cmath>

#include "app/CanvasImage.h"
#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1Display = WindowTest;

constexpr QRgb kBlack = qRgb(0, 0, 0);

const QImage& Picture(QWidget& window, const char* name) {
    return Find<CanvasImage>(window, name).Canvas();
}

// Height of the bar of colour standing on the bottom of column x (0 when the bottom pixel has
// another colour).
int BarHeight(const QImage& image, int x, QRgb colour) {
    int height = 0;
    while (height < image.height() && image.pixel(x, image.height() - 1 - height) == colour)
        ++height;
    return height;
}

// The limiter picture's x for a sample magnitude: 32767 at 128, rounded half to even.
int LimiterX(int32_t magnitude) {
    return static_cast<int>(std::nearbyint(magnitude / 32767.0 * 128.0));
}

TEST_F(TForm1Display, WithoutFilesTextsAndMetersStandAtZero) {
    MoveBar(*Window, "ScrollBar1", 40);
    Window->AppIdle();
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit1").text(), QStringLiteral("0.00 sec"));
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit2").text(), QStringLiteral("0.00 sec"));
    EXPECT_EQ(Find<QProgressBar>(*Window, "ProgressBar1").value(), 0);
    EXPECT_EQ(Find<QProgressBar>(*Window, "ProgressBar2").value(), 0);
    EXPECT_EQ(Find<QScrollBar>(*Window, "ScrollBar1").value(), 0);
    EXPECT_EQ(Find<QScrollBar>(*Window, "ScrollBar2").value(), 0);
}

TEST_F(TForm1Display, WithoutFilesChannelPicturesShow62FilterBarsOf24Pixels) {
    Window->AppIdle();
    for (const char* name : {"Image2", "Image3"}) {
        const QImage& image = Picture(*Window, name);
        ASSERT_EQ(image.size(), QSize(64, 48)) << name;
        for (int x = 0; x < 64; ++x) {
            const bool bar = x >= 1 && x <= 62;
            const QRgb colour = bar ? qRgb(187, 4 * (x - 1), 255) : kBlack;
            for (int y = 0; y < 48; ++y)
                ASSERT_EQ(image.pixel(x, y), y >= 24 ? colour : kBlack)
                    << name << " at " << x << "," << y;
        }
    }
}

TEST_F(TForm1Display, WithoutFilesTheMixPictureShowsOnlyItsGrid) {
    Window->AppIdle();
    const QImage& image = Picture(*Window, "Image1");
    ASSERT_EQ(image.size(), QSize(257, 48));
    for (int x = 0; x < 257; ++x) {
        const bool grid = x % 32 == 0 && x >= 32 && x <= 224;
        const QRgb colour = grid ? qRgb(187, x, 255) : kBlack;
        for (int y = 0; y < 48; ++y) ASSERT_EQ(image.pixel(x, y), colour) << x << "," << y;
    }
}

TEST_F(TForm1Display, LimiterPictureShowsTheBandFullScaleMarkPeakAndLevel) {
    Window->AppIdle();
    TOggPlayer& player = *Window->Player();
    const QImage& image = Picture(*Window, "Image4");
    ASSERT_EQ(image.size(), QSize(257, 17));
    const int levelX = LimiterX(player.GetLimiterLevel());
    const int peakX = LimiterX(player.Peak());
    for (int x = 0; x < 257; ++x) {
        QRgb colour = x >= 102 && x <= 256 ? qRgb(0, 0, 255) : kBlack;  // the start values
        if (x == 128) colour = qRgb(0, 255, 0);
        if (x == peakX) colour = qRgb(255, 0, 0);
        if (x == levelX) colour = qRgb(255, 255, 255);
        for (int y = 0; y < 16; ++y) ASSERT_EQ(image.pixel(x, y), colour) << x << "," << y;
        ASSERT_EQ(image.pixel(x, 16), kBlack) << x;
    }
    EXPECT_EQ(Find<QLabel>(*Window, "ListenerLabel").text(),
              QStringLiteral("pos(%1) down.500 delay.44100").arg(player.GetLimiterLevel()));
}

TEST_F(TForm1Display, LimiterBandFromMinZeroToMax200ReachesPastFullScale) {
    MoveBar(*Window, "MinVolumeBar", 0);
    MoveBar(*Window, "FadeVolumeBar", 1234);
    Window->AppIdle();
    const QImage& image = Picture(*Window, "Image4");
    const int levelX = LimiterX(Window->Player()->GetLimiterLevel());
    const int peakX = LimiterX(Window->Player()->Peak());
    for (int x = 0; x < 257; ++x) {
        if (x == 128 || x == levelX || x == peakX) continue;
        EXPECT_EQ(image.pixel(x, 8), qRgb(0, 0, 255)) << x;
    }
    EXPECT_TRUE(Find<QLabel>(*Window, "ListenerLabel")
                    .text()
                    .endsWith(QStringLiteral(" down.1234 delay.44100")));
}

TEST_F(TForm1Display, LowResoGrowsTheFirstFilterBarsTowardsTheFullHeight) {
    ASSERT_TRUE(DropFiles(*Window, {SilentFile}));
    Click(*Window, "Button17");  // OFF
    Window->AppIdle();
    const QImage& image = Picture(*Window, "Image2");
    for (int i = 0; i < 62; ++i) EXPECT_EQ(BarHeight(image, i + 1, qRgb(187, 4 * i, 255)), 24) << i;

    Click(*Window, "Button15");  // LowReso: point 0 moves to 2.0 over 5 seconds
    TOggPlayer& player = *Window->Player();
    for (int i = 0; i < 12; ++i) player.RenderNext();  // about 2.2 seconds
    Window->AppIdle();
    const int halfWay = BarHeight(image, 1, qRgb(187, 0, 255));
    EXPECT_GT(halfWay, 24);
    EXPECT_LT(halfWay, 48);
    EXPECT_LE(BarHeight(image, 62, qRgb(187, 244, 255)), 25);  // the top of the range stays

    for (int i = 0; i < 20; ++i) player.RenderNext();  // past 5 seconds
    Window->AppIdle();
    EXPECT_EQ(BarHeight(image, 1, qRgb(187, 0, 255)), 48);
}

TEST_F(TForm1Display, SeekBarsFollowTheDecoderPosition) {
    ASSERT_TRUE(DropFiles(*Window, {LongFile}));
    TOggData& stream = *Window->OggData(0);
    for (int i = 0; i < 9; ++i) Window->Player()->RenderNext();
    Window->AppIdle();
    EXPECT_EQ(Find<QScrollBar>(*Window, "ScrollBar1").value(),
              static_cast<int>(std::nearbyint(stream.GetTime(true))));
    EXPECT_GT(Find<QScrollBar>(*Window, "ScrollBar1").value(), 0);
    const QRegularExpression playTime(QStringLiteral("^\\d+\\.\\d\\d sec$"));
    EXPECT_TRUE(playTime.match(Find<QLineEdit>(*Window, "Edit1").text()).hasMatch());
}

// Counts the paint events of the window's controls by object name.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& window) {
        for (QWidget* control : window.findChildren<QWidget*>()) control->installEventFilter(this);
    }
    QMap<QString, int> Painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Painted[watched->objectName()];
        return false;
    }
};

TEST_F(TForm1Display, APassRepaintsOnlyTheControlsWhoseContentChanged) {
    Window->AppIdle();
    ProcessEvents();
    const PaintCounter counter(*Window);
    Window->AppIdle();
    ProcessEvents();
    EXPECT_TRUE(counter.Painted.isEmpty()) << counter.Painted.firstKey().toStdString();

    MoveBar(*Window, "MinVolumeBar", 0);  // the limiter's band widens
    Window->AppIdle();
    ProcessEvents();
    EXPECT_EQ(counter.Painted.keys(),
              (QStringList{QStringLiteral("Image4"), QStringLiteral("MinVolumeBar")}));
}

TEST_F(TForm1Display, TheTimerKeepsTheDisplayFresh) {
    Find<QLineEdit>(*Window, "Edit1").setText(QStringLiteral("Edit1"));
    for (int i = 0; i < 200 && Find<QLineEdit>(*Window, "Edit1").text() == QStringLiteral("Edit1");
         ++i)
        QTest::qWait(5);
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit1").text(), QStringLiteral("0.00 sec"));
}

}  // namespace
}  // namespace oggmix::test
