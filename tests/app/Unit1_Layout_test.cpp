// Unit1_Layout_test.cpp: the window a user sees: every control named once and lying inside the
// window, none covering another, pictures the size the display draws, every caption readable in
// the font in use (the limiter line at its widest too), and grey play-time read-outs.
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

#include "app/CanvasImage.h"
#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1Layout = WindowTest;

// The window's own controls: its direct children, without the open dialog (a window of its own).
QList<QWidget*> Controls(QWidget& window) {
    QList<QWidget*> controls = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    controls.removeIf([](const QWidget* control) { return control->isWindow(); });
    return controls;
}

// Where a push button draws its caption.
QRect CaptionRect(const QPushButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    return button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
}

TEST_F(TForm1Layout, WindowHoldsItsControlsEachNamedOnce) {
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Form1"));
    EXPECT_EQ(Window->size(), QSize(506, 479));

    QSet<QString> names;
    for (const QWidget* control : Controls(*Window)) {
        EXPECT_FALSE(control->objectName().isEmpty()) << control->metaObject()->className();
        EXPECT_FALSE(names.contains(control->objectName())) << control->objectName().toStdString();
        names.insert(control->objectName());
    }
    const QList<QWidget*> controls = Controls(*Window);
    auto count = [&]<class Kind>(Kind*) {
        return std::count_if(controls.begin(), controls.end(),
                             [](QWidget* control) { return dynamic_cast<Kind*>(control); });
    };
    EXPECT_EQ(count(static_cast<QPushButton*>(nullptr)), 30);
    EXPECT_EQ(count(static_cast<QScrollBar*>(nullptr)), 10);
    EXPECT_EQ(count(static_cast<CanvasImage*>(nullptr)), 4);
    EXPECT_EQ(count(static_cast<QLineEdit*>(nullptr)), 2);
    EXPECT_EQ(count(static_cast<QProgressBar*>(nullptr)), 2);
    EXPECT_EQ(count(static_cast<QLabel*>(nullptr)), 20);
    EXPECT_EQ(count(static_cast<QPlainTextEdit*>(nullptr)), 1);
    EXPECT_EQ(Controls(*Window).size(), 69);
}

TEST_F(TForm1Layout, EveryControlLiesInsideTheWindowAndCoversNoOther) {
    const QList<QWidget*> controls = Controls(*Window);
    for (const QWidget* control : controls)
        EXPECT_TRUE(Window->rect().contains(control->geometry()))
            << control->objectName().toStdString();
    // Neighbouring buttons, and a caption above the row below it, share a one-pixel edge. The
    // one exception is the window's own: channel 0's "cVol" bar, 17 high at y 83, reaches four
    // rows into the line of the "Channel 1" caption, which is drawn over it.
    auto isException = [](const QWidget* a, const QWidget* b) {
        const QSet<QString> pair = {a->objectName(), b->objectName()};
        return pair == QSet<QString>{QStringLiteral("ScrollBar3"), QStringLiteral("Label5")};
    };
    for (qsizetype i = 0; i < controls.size(); ++i)
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            const QRect shared = controls[i]->geometry() & controls[j]->geometry();
            if (isException(controls[i], controls[j])) continue;
            EXPECT_TRUE(shared.width() <= 1 || shared.height() <= 1)
                << controls[i]->objectName().toStdString() << " and "
                << controls[j]->objectName().toStdString();
        }
}

TEST_F(TForm1Layout, PicturesAndButtonsHaveTheSizesTheWindowNeeds) {
    // The display draws 62 and 254 one-pixel columns and a limiter scale whose full scale is at
    // x 128 of 257: each picture is exactly as large as its canvas.
    const std::pair<const char*, QSize> pictures[] = {
        {"Image2", {64, 48}}, {"Image3", {64, 48}}, {"Image1", {257, 48}}, {"Image4", {257, 17}}};
    for (const auto& [name, size] : pictures) {
        const CanvasImage& picture = Find<CanvasImage>(*Window, name);
        EXPECT_EQ(picture.size(), size) << name;
        EXPECT_EQ(picture.Canvas().size(), size) << name;
    }
    for (const QPushButton* button :
         Window->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_EQ(button->size(), QSize(65, 17)) << button->objectName().toStdString();
}

TEST_F(TForm1Layout, EveryCaptionFitsItsPlaceInTheFontInUse) {
    for (const QPushButton* button :
         Window->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        const int textPx = QFontMetrics(button->font()).horizontalAdvance(button->text());
        EXPECT_LE(textPx, CaptionRect(*button).width())
            << button->text().toStdString() << " in "
            << QFontInfo(button->font()).family().toStdString();
    }
    // The limiter line at its widest.
    Window->Player()->SetLimiter(0, 65534, 2000, 44100, 65534);
    MoveBar(*Window, "FadeVolumeBar", 2000);
    Window->AppIdle();
    const QLabel& limiterLine = Find<QLabel>(*Window, "ListenerLabel");
    ASSERT_EQ(limiterLine.text(), QStringLiteral("pos(65534) down.2000 delay.44100"));
    for (const QLabel* label :
         Window->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        const int textPx = QFontMetrics(label->font()).horizontalAdvance(label->text());
        EXPECT_LE(textPx, label->width()) << label->text().toStdString() << " in "
                                          << QFontInfo(label->font()).family().toStdString();
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

TEST_F(TForm1Layout, PlayTimeBoxesAreVisiblyGreyWhereTheMemoIsWhite) {
    Window->AppIdle();
    const QImage shot = Window->grab().toImage();
    const QRect memo = Find<QPlainTextEdit>(*Window, "Memo1").geometry();
    const int memoLightness = shot.pixelColor(memo.center()).lightness();
    for (const char* name : {"Edit1", "Edit2"}) {
        const QRect box = Find<QLineEdit>(*Window, name).geometry();
        // Right of the text, inside the edge.
        const QColor inside = shot.pixelColor(box.right() - 3, box.center().y());
        EXPECT_GE(memoLightness - inside.lightness(), 32) << name;
    }
}

TEST_F(TForm1Layout, OpenDialogOffersOggVorbisFilesThatExist) {
    const QFileDialog& dialog = Find<QFileDialog>(*Window, "OpenDialog1");
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("OggVorbis Ver1.0 (*.ogg)")});
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
}

}  // namespace
}  // namespace oggmix::test
