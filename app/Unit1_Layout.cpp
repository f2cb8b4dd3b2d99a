// Unit1_Layout.cpp: every control of the main window with its object name, caption, place,
// size, range and start value, and the window's fonts.
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include <initializer_list>
#include <string>

#include "app/CanvasImage.h"
#include "app/LevelMeter.h"
#include "app/ReadoutBox.h"
#include "app/Unit1.h"

namespace oggmix {
namespace {

constexpr int kClientWidth = 506;
constexpr int kClientHeight = 479;
constexpr int kButtonWidth = 65;
constexpr int kButtonHeight = 17;

// The font the window asks for, then its stand-in: IPAGothic, whose Latin letters are half as
// wide as they are high, fits every caption in its place; the proportional IPAPGothic is wider
// and cuts "MiddleReso", "Down" and the limiter line.
const QStringList kFontFamilies = {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAGothic")};
constexpr int kFormFontPx = 12;
constexpr int kGroupFontPx = 16;  // bold
constexpr int kSmallFontPx = 13;

enum class LabelFont { Form, Group, Small };

struct LabelSpec {
    const char* Name;
    const char* Caption;
    int Left, Top;
    LabelFont Font;
};

struct ButtonSpec {  // kButtonWidth x kButtonHeight
    const char* Name;
    const char* Caption;
    int Left, Top;
};

struct PlaceSpec {  // a button named Name at (Left, Top)
    const char* Name;
    int Left, Top;
};

struct BarSpec {
    const char* Name;
    int Left, Top, Width, Height;
    int Max, Position, LargeChange;  // minimum 0
};

struct BoxSpec {
    const char* Name;
    int Left, Top, Width, Height;
};

struct ChannelLayout {
    LabelSpec Title, SeekLabel, VolumeLabel, EqLabel, AGCLabel;
    ButtonSpec Load, Play, FadeIn, Pause, Stop, FadeOut;
    // In the order of kFilterPresets; the captions come from there.
    std::array<PlaceSpec, kFilterPresetCount> Presets;
    BarSpec Seek, Volume, AGC;
    BoxSpec Picture, PlayTime;
};

constexpr ChannelLayout kChannelLayouts[kChannelCount] = {
    {{"Label4", "Channel 0", 8, 8, LabelFont::Group},
     {"Label3", "Seek", 16, 64, LabelFont::Small},
     {"Label7", "cVol", 16, 80, LabelFont::Small},
     {"Label11", "EQ", 232, 8, LabelFont::Group},
     {"Label14", "AGC", 312, 88, LabelFont::Form},
     {"Button1", "LOAD", 16, 24},
     {"Button2", "PLAY", 80, 24},
     {"Button3", "FadeIn", 152, 24},
     {"Button29", "PAUSE", 16, 40},
     {"Button5", "STOP", 80, 40},
     {"Button4", "FadeOut", 152, 40},
     {{{"Button13", 304, 24},
       {"Button14", 304, 40},
       {"Button15", 368, 24},
       {"Button16", 368, 40},
       {"Button17", 432, 24},
       {"Button18", 304, 56},
       {"Button19", 368, 56},
       {"Button20", 432, 40}}},
     {"ScrollBar1", 48, 64, 169, 17, 100, 0, 1},
     {"ScrollBar3", 47, 83, 169, 17, 200, 100, 10},
     {"ScrollBar6", 344, 80, 153, 17, 10, 0, 1},
     {"Image2", 232, 24, 64, 48},
     {"Edit1", 232, 72, 65, 21}},
    {{"Label5", "Channel 1", 8, 96, LabelFont::Group},
     {"Label6", "Seek", 16, 152, LabelFont::Small},
     {"Label8", "cVol", 16, 168, LabelFont::Small},
     {"Label12", "EQ", 232, 96, LabelFont::Group},
     {"Label15", "AGC", 312, 176, LabelFont::Form},
     {"Button6", "LOAD", 16, 112},
     {"Button7", "PLAY", 80, 112},
     {"Button9", "FadeIn", 152, 112},
     {"Button30", "PAUSE", 16, 128},
     {"Button8", "STOP", 80, 128},
     {"Button10", "FadeOut", 152, 128},
     {{{"Button21", 304, 112},
       {"Button22", 304, 128},
       {"Button23", 368, 112},
       {"Button24", 368, 128},
       {"Button25", 432, 112},
       {"Button26", 304, 144},
       {"Button27", 368, 144},
       {"Button28", 432, 128}}},
     {"ScrollBar2", 48, 152, 169, 16, 100, 0, 1},
     {"ScrollBar4", 48, 168, 169, 16, 200, 100, 10},
     {"ScrollBar7", 342, 168, 153, 17, 10, 0, 1},
     {"Image3", 232, 112, 64, 48},
     {"Edit2", 232, 160, 65, 21}},
};

constexpr LabelSpec kMixLabels[] = {
    {"Label9", "Channel ALL", 8, 184, LabelFont::Group},
    {"Label10", "mVol", 16, 223, LabelFont::Small},
    {"Label17", "Min", 17, 246, LabelFont::Small},
    {"Label16", "Max", 16, 266, LabelFont::Small},
    {"Label18", "Down", 17, 286, LabelFont::Small},
    {"Label13", "EQ", 232, 184, LabelFont::Group},
    {"Label19", "視聴範囲", 232, 263, LabelFont::Group},
    {"Label1", "L", 8, 305, LabelFont::Group},
    {"Label2", "R", 8, 321, LabelFont::Group},
};
constexpr LabelSpec kListenerLabel = {"ListenerLabel", "----", 306, 267, LabelFont::Form};
constexpr ButtonSpec kPlayAllButton = {"Button11", "PLAY", 16, 200};
constexpr ButtonSpec kStopAllButton = {"Button12", "STOP", 80, 200};
constexpr BarSpec kMasterVolumeBar = {"ScrollBar5", 48, 223, 169, 16, 200, 100, 10};
constexpr BarSpec kMinVolumeBar = {"MinVolumeBar", 48, 242, 169, 17, 200, 80, 1};
constexpr BarSpec kMaxVolumeBar = {"MaxVolumeBar", 48, 262, 169, 17, 200, 200, 1};
constexpr BarSpec kFadeVolumeBar = {"FadeVolumeBar", 48, 282, 169, 17, 2000, 500, 1};
constexpr BoxSpec kMixPicture = {"Image1", 232, 200, 257, 48};
constexpr BoxSpec kLimiterPicture = {"Image4", 232, 282, 257, 17};
constexpr BoxSpec kLeftMeter = {"ProgressBar1", 24, 305, 465, 17};
constexpr BoxSpec kRightMeter = {"ProgressBar2", 24, 321, 465, 17};
constexpr BoxSpec kMemo = {"Memo1", 8, 344, 481, 129};

QFont FontOf(LabelFont kind) {
    QFont font;
    font.setFamilies(kFontFamilies);
    switch (kind) {
        case LabelFont::Form: font.setPixelSize(kFormFontPx); break;
        case LabelFont::Group:
            font.setPixelSize(kGroupFontPx);
            font.setBold(true);
            break;
        case LabelFont::Small: font.setPixelSize(kSmallFontPx); break;
    }
    return font;
}

QLabel* MakeLabel(QWidget* parent, const LabelSpec& spec) {
    auto* label = new QLabel(QString::fromUtf8(spec.Caption), parent);
    label->setObjectName(QString::fromLatin1(spec.Name));
    label->setFont(FontOf(spec.Font));
    label->move(spec.Left, spec.Top);
    label->adjustSize();
    // One line as high as the font: the leading below it would reach into the row beneath.
    label->resize(label->width(), QFontMetrics(label->font()).height());
    return label;
}

QPushButton* MakeButton(QWidget* parent, const ButtonSpec& spec) {
    auto* button = new QPushButton(QString::fromUtf8(spec.Caption), parent);
    button->setObjectName(QString::fromLatin1(spec.Name));
    button->setGeometry(spec.Left, spec.Top, kButtonWidth, kButtonHeight);
    button->setAutoDefault(false);
    return button;
}

QScrollBar* MakeBar(QWidget* parent, const BarSpec& spec) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(spec.Name));
    bar->setGeometry(spec.Left, spec.Top, spec.Width, spec.Height);
    bar->setRange(0, spec.Max);
    bar->setValue(spec.Position);
    bar->setSingleStep(1);
    bar->setPageStep(spec.LargeChange);
    return bar;
}

CanvasImage* MakePicture(QWidget* parent, const BoxSpec& spec) {
    return new CanvasImage(parent, spec.Name, spec.Left, spec.Top, spec.Width, spec.Height);
}

LevelMeter* MakeMeter(QWidget* parent, const BoxSpec& spec) {
    auto* meter = new LevelMeter(parent);
    meter->setObjectName(QString::fromLatin1(spec.Name));
    meter->setGeometry(spec.Left, spec.Top, spec.Width, spec.Height);
    meter->setRange(0, 100);
    meter->setValue(0);
    meter->setTextVisible(false);
    return meter;
}

QLineEdit* MakePlayTimeBox(QWidget* parent, const BoxSpec& spec) {
    auto* edit = new ReadoutBox(QStringLiteral("Edit1"), parent);
    edit->setObjectName(QString::fromLatin1(spec.Name));
    edit->setGeometry(spec.Left, spec.Top, spec.Width, spec.Height);
    return edit;
}

}  // namespace

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(FontOf(LabelFont::Form));

    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelLayout& layout = kChannelLayouts[c];
        ChannelPanel& panel = FChannels[c];
        for (const LabelSpec* label : {&layout.Title, &layout.SeekLabel, &layout.VolumeLabel,
                                       &layout.EqLabel, &layout.AGCLabel})
            MakeLabel(this, *label);
        panel.Load = MakeButton(this, layout.Load);
        panel.Play = MakeButton(this, layout.Play);
        panel.FadeIn = MakeButton(this, layout.FadeIn);
        panel.Pause = MakeButton(this, layout.Pause);
        panel.Stop = MakeButton(this, layout.Stop);
        panel.FadeOut = MakeButton(this, layout.FadeOut);
        for (int p = 0; p < kFilterPresetCount; ++p) {
            const PlaceSpec& place = layout.Presets[p];
            const std::string caption(kFilterPresets[p].Caption);
            panel.Presets[p] =
                MakeButton(this, {place.Name, caption.c_str(), place.Left, place.Top});
        }
        panel.Seek = MakeBar(this, layout.Seek);
        panel.Volume = MakeBar(this, layout.Volume);
        panel.AGC = MakeBar(this, layout.AGC);
        panel.Picture = MakePicture(this, layout.Picture);
        panel.PlayTime = MakePlayTimeBox(this, layout.PlayTime);
    }

    for (const LabelSpec& label : kMixLabels) MakeLabel(this, label);
    ListenerLabel = MakeLabel(this, kListenerLabel);
    // The display rewrites it on every pass: it reaches to the window's edge once and for all,
    // so that a longer text neither resizes it nor is cut.
    ListenerLabel->resize(kClientWidth - kListenerLabel.Left, ListenerLabel->height());
    FPlayAllButton = MakeButton(this, kPlayAllButton);
    FStopAllButton = MakeButton(this, kStopAllButton);
    FMasterVolumeBar = MakeBar(this, kMasterVolumeBar);
    MinVolumeBar = MakeBar(this, kMinVolumeBar);
    MaxVolumeBar = MakeBar(this, kMaxVolumeBar);
    FadeVolumeBar = MakeBar(this, kFadeVolumeBar);
    FMixPicture = MakePicture(this, kMixPicture);
    FLimiterPicture = MakePicture(this, kLimiterPicture);
    ProgressBar1 = MakeMeter(this, kLeftMeter);
    ProgressBar2 = MakeMeter(this, kRightMeter);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QString::fromLatin1(kMemo.Name));
    Memo1->setGeometry(kMemo.Left, kMemo.Top, kMemo.Width, kMemo.Height);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setNameFilter(QStringLiteral("OggVorbis Ver1.0 (*.ogg)"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setSizeGripEnabled(true);
}

void TForm1::EnableControls(bool enabled) {
    for (const ChannelPanel& panel : FChannels) {
        for (QWidget* control : std::initializer_list<QWidget*>{
                 panel.Load, panel.Play, panel.FadeIn, panel.Pause, panel.Stop, panel.FadeOut,
                 panel.Seek, panel.Volume, panel.AGC})
            control->setEnabled(enabled);
        for (QPushButton* preset : panel.Presets) preset->setEnabled(enabled);
    }
    for (QWidget* control :
         std::initializer_list<QWidget*>{FPlayAllButton, FStopAllButton, FMasterVolumeBar,
                                         MinVolumeBar, MaxVolumeBar, FadeVolumeBar})
        control->setEnabled(enabled);
}

}  // namespace oggmix
