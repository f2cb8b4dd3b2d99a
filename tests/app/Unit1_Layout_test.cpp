// Unit1_Layout_test.cpp: the window a user sees: client size, caption, every control with its
// object name, caption, place, size, range and start value, and fonts that can show the
// Japanese captions.
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1Layout = WindowTest;

struct ButtonCase {
    const char* Name;
    const char* Caption;
    int Left, Top;
};

// Every push button, 65 x 17.
constexpr ButtonCase kButtons[] = {
    {"Button1", "LOAD", 16, 24},        {"Button2", "PLAY", 80, 24},
    {"Button3", "FadeIn", 152, 24},     {"Button29", "PAUSE", 16, 40},
    {"Button5", "STOP", 80, 40},        {"Button4", "FadeOut", 152, 40},
    {"Button13", "LowPass", 304, 24},   {"Button14", "HighPass", 304, 40},
    {"Button18", "LoHiPass", 304, 56},  {"Button15", "LowReso", 368, 24},
    {"Button16", "HighReso", 368, 40},  {"Button19", "MiddleReso", 368, 56},
    {"Button17", "OFF", 432, 24},       {"Button20", "Wave", 432, 40},
    {"Button6", "LOAD", 16, 112},       {"Button7", "PLAY", 80, 112},
    {"Button9", "FadeIn", 152, 112},    {"Button30", "PAUSE", 16, 128},
    {"Button8", "STOP", 80, 128},       {"Button10", "FadeOut", 152, 128},
    {"Button21", "LowPass", 304, 112},  {"Button22", "HighPass", 304, 128},
    {"Button26", "LoHiPass", 304, 144}, {"Button23", "LowReso", 368, 112},
    {"Button24", "HighReso", 368, 128}, {"Button27", "MiddleReso", 368, 144},
    {"Button25", "OFF", 432, 112},      {"Button28", "Wave", 432, 128},
    {"Button11", "PLAY", 16, 200},      {"Button12", "STOP", 80, 200},
};

struct BarCase {
    const char* Name;
    int Left, Top, Width, Height;
    int Max, Position;
};

constexpr BarCase kBars[] = {
    {"ScrollBar1", 48, 64, 169, 17, 100, 0},      {"ScrollBar3", 47, 83, 169, 17, 200, 100},
    {"ScrollBar6", 344, 80, 153, 17, 10, 0},      {"ScrollBar2", 48, 152, 169, 16, 100, 0},
    {"ScrollBar4", 48, 168, 169, 16, 200, 100},   {"ScrollBar7", 342, 168, 153, 17, 10, 0},
    {"ScrollBar5", 48, 223, 169, 16, 200, 100},   {"MinVolumeBar", 48, 242, 169, 17, 200, 80},
    {"MaxVolumeBar", 48, 262, 169, 17, 200, 200}, {"FadeVolumeBar", 48, 282, 169, 17, 2000, 500},
};

struct LabelCase {
    const char* Name;
    const char* Caption;  // null: the display writes it
    int Left, Top;
    int FontPx;
    bool Bold;
};

constexpr LabelCase kLabels[] = {
    {"Label4", "Channel 0", 8, 8, 16, true},     {"Label3", "Seek", 16, 64, 13, false},
    {"Label7", "cVol", 16, 80, 13, false},       {"Label11", "EQ", 232, 8, 16, true},
    {"Label14", "AGC", 312, 88, 12, false},      {"Label5", "Channel 1", 8, 96, 16, true},
    {"Label6", "Seek", 16, 152, 13, false},      {"Label8", "cVol", 16, 168, 13, false},
    {"Label12", "EQ", 232, 96, 16, true},        {"Label15", "AGC", 312, 176, 12, false},
    {"Label9", "Channel ALL", 8, 184, 16, true}, {"Label10", "mVol", 16, 223, 13, false},
    {"Label17", "Min", 17, 246, 13, false},      {"Label16", "Max", 16, 266, 13, false},
    {"Label18", "Down", 17, 286, 13, false},     {"Label13", "EQ", 232, 184, 16, true},
    {"Label19", "視聴範囲", 232, 263, 16, true}, {"ListenerLabel", nullptr, 306, 267, 12, false},
    {"Label1", "L", 8, 305, 16, true},           {"Label2", "R", 8, 321, 16, true},
};

struct BoxCase {
    const char* Name;
    int Left, Top, Width, Height;
};

constexpr BoxCase kPictures[] = {{"Image2", 232, 24, 64, 48},
                                 {"Image3", 232, 112, 64, 48},
                                 {"Image1", 232, 200, 257, 48},
                                 {"Image4", 232, 282, 257, 17}};

TEST_F(TForm1Layout, WindowHasItsCaptionAndClientSize) {
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Form1"));
    EXPECT_EQ(Window->size(), QSize(506, 479));
}

TEST_F(TForm1Layout, EveryButtonHasItsCaptionPlaceAndSize) {
    EXPECT_EQ(Window->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly).size(), 30);
    for (const ButtonCase& expected : kButtons) {
        const QPushButton& button = Find<QPushButton>(*Window, expected.Name);
        EXPECT_EQ(button.text(), QString::fromUtf8(expected.Caption)) << expected.Name;
        EXPECT_EQ(button.geometry(), QRect(expected.Left, expected.Top, 65, 17)) << expected.Name;
        EXPECT_TRUE(button.isEnabled()) << expected.Name;
    }
}

TEST_F(TForm1Layout, EveryBarHasItsPlaceRangeAndStartValue) {
    for (const BarCase& expected : kBars) {
        const QScrollBar& bar = Find<QScrollBar>(*Window, expected.Name);
        EXPECT_EQ(bar.orientation(), Qt::Horizontal) << expected.Name;
        EXPECT_EQ(bar.geometry(),
                  QRect(expected.Left, expected.Top, expected.Width, expected.Height))
            << expected.Name;
        EXPECT_EQ(bar.minimum(), 0) << expected.Name;
        EXPECT_EQ(bar.maximum(), expected.Max) << expected.Name;
        EXPECT_EQ(bar.value(), expected.Position) << expected.Name;
    }
    // The volume bars move by 10 on a page click.
    for (const char* name : {"ScrollBar3", "ScrollBar4", "ScrollBar5"})
        EXPECT_EQ(Find<QScrollBar>(*Window, name).pageStep(), 10) << name;
}

TEST_F(TForm1Layout, EveryLabelHasItsCaptionPlaceAndFont) {
    for (const LabelCase& expected : kLabels) {
        const QLabel& label = Find<QLabel>(*Window, expected.Name);
        if (expected.Caption != nullptr) {
            EXPECT_EQ(label.text(), QString::fromUtf8(expected.Caption)) << expected.Name;
        }
        EXPECT_EQ(label.pos(), QPoint(expected.Left, expected.Top)) << expected.Name;
        EXPECT_EQ(label.font().pixelSize(), expected.FontPx) << expected.Name;
        EXPECT_EQ(label.font().bold(), expected.Bold) << expected.Name;
    }
}

TEST_F(TForm1Layout, JapaneseCaptionsHaveAFontThatShowsThem) {
    const QLabel& label = Find<QLabel>(*Window, "Label19");
    EXPECT_TRUE(label.font().families().startsWith(QString::fromUtf8("ＭＳ Ｐゴシック")));
    const QFontMetrics metrics(label.font());
    for (const QChar ch : QString::fromUtf8("視聴範囲"))
        EXPECT_TRUE(metrics.inFont(ch)) << QFontInfo(label.font()).family().toStdString();
    EXPECT_EQ(Window->font().pixelSize(), 12);
}

TEST_F(TForm1Layout, PicturesTextBoxesMetersAndMemoHaveTheirPlaces) {
    for (const BoxCase& expected : kPictures) {
        const QWidget& picture = Find<QWidget>(*Window, expected.Name);
        EXPECT_EQ(picture.geometry(),
                  QRect(expected.Left, expected.Top, expected.Width, expected.Height))
            << expected.Name;
    }
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit1").geometry(), QRect(232, 72, 65, 21));
    EXPECT_EQ(Find<QLineEdit>(*Window, "Edit2").geometry(), QRect(232, 160, 65, 21));
    for (const char* name : {"ProgressBar1", "ProgressBar2"}) {
        const QProgressBar& meter = Find<QProgressBar>(*Window, name);
        EXPECT_EQ(meter.minimum(), 0);
        EXPECT_EQ(meter.maximum(), 100);
        EXPECT_EQ(meter.value(), 0);
    }
    EXPECT_EQ(Find<QProgressBar>(*Window, "ProgressBar1").geometry(), QRect(24, 305, 465, 17));
    EXPECT_EQ(Find<QProgressBar>(*Window, "ProgressBar2").geometry(), QRect(24, 321, 465, 17));
    const QPlainTextEdit& memo = Find<QPlainTextEdit>(*Window, "Memo1");
    EXPECT_EQ(memo.geometry(), QRect(8, 344, 481, 129));
    EXPECT_EQ(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(MemoLines(*Window), QStringList{QString()});
}

TEST_F(TForm1Layout, OpenDialogOffersOggVorbisFilesThatExist) {
    const QFileDialog& dialog = Find<QFileDialog>(*Window, "OpenDialog1");
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("OggVorbis Ver1.0 (*.ogg)")});
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
}

}  // namespace
}  // namespace oggmix::test
