#include "AboutDlg.h"
#include "AboutForm.h"
#include "ModalDriver.h"

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

QLabel *label(TAboutBox &box, const char *name)
{
    return box.findChild<QLabel *>(name);
}

QIcon squareIcon(Qt::GlobalColor colour)
{
    QPixmap picture(32, 32);
    picture.fill(colour);
    return QIcon(picture);
}

int aboutBoxesAlive()
{
    int count = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        count += qobject_cast<TAboutBox *>(window) != nullptr;
    return count;
}

TEST(AboutDlg, ShowsItsTextsAndIconAndClosesOnEnterButNotOnEsc)
{
    TAboutDlg about;
    about.SetTitle("SO2R Controller");
    about.SetProductName("KALDRA");
    about.SetCopyRight("Copyright \u00A9 2026 the KALDRA developers");
    about.SetProgrammer("written by two operators of a contest station");
    about.SetWebSite("https://kaldra.example.invalid/a/long/address");
    QIcon icon = squareIcon(Qt::red);
    about.SetIcon(icon);
    icon = squareIcon(Qt::blue);

    QPointer<TAboutBox> shown;
    whenModal<TAboutBox>([&](TAboutBox &box) {
        shown = &box;
        EXPECT_EQ(box.windowTitle(), "SO2R Controller");
        EXPECT_EQ(label(box, "ProductName")->text(), "KALDRA");
        EXPECT_EQ(label(box, "Copyright")->text(), about.CopyRight());
        EXPECT_GE(label(box, "Copyright")->width(),
                  label(box, "Copyright")->fontMetrics().horizontalAdvance(about.CopyRight()));

        const QRect panel = box.findChild<QFrame *>("Panel1")->contentsRect();
        for (const char *name : {"ProductName", "Copyright", "Programmer", "Website"})
            EXPECT_TRUE(panel.contains(label(box, name)->geometry())) << name << " is cut off";
        EXPECT_TRUE(box.rect().contains(box.findChild<QPushButton *>("OKButton")->geometry()));

        QLabel *programmer = label(box, "Programmer");
        EXPECT_EQ(programmer->text(), about.Programmer());
        EXPECT_EQ(programmer->pos(), QPoint(64, 72));
        EXPECT_EQ(programmer->width(), 59) << "a wrapped label keeps its width";
        EXPECT_GE(programmer->height(), 3 * programmer->fontMetrics().lineSpacing());

        QLabel *website = label(box, "Website");
        const int wordWidth = website->fontMetrics().horizontalAdvance(about.WebSite());
        EXPECT_GE(website->width(), wordWidth) << "a single word is not broken";

        QLabel *image = label(box, "Image1");
        EXPECT_EQ(image->size(), QSize(48, 48));
        EXPECT_EQ(image->alignment(), Qt::AlignCenter);
        const QImage picture = image->pixmap().toImage();
        EXPECT_EQ(picture.size(), QSize(32, 32)) << "shown at its own size, not stretched";
        EXPECT_EQ(picture.pixelColor(16, 16), QColor(Qt::red)) << "the component's own copy";

        QTest::keyClick(&box, Qt::Key_Escape);
        EXPECT_TRUE(box.isVisible()) << "Esc must not close the box";
        QTest::keyClick(&box, Qt::Key_Return);
    });
    about.Execute();
    EXPECT_TRUE(shown.isNull()) << "the box must be released when Execute returns";
    EXPECT_EQ(aboutBoxesAlive(), 0);
}

// Owned by its owner's window, centred on the screen, without a gap for
// an empty web site.
TEST(AboutDlg, EveryExecuteShowsAFreshBoxWithTheCurrentSettings)
{
    QWidget window;
    window.setGeometry(0, 0, 100, 100);
    TAboutDlg about(&window);
    about.SetProductName("KALDRA");
    QString firstText;
    QString secondText;
    int firstHeight = 0;
    QPointer<TAboutBox> first;
    whenModal<TAboutBox>([&](TAboutBox &box) {
        first = &box;
        firstText = label(box, "ProductName")->text();
        firstHeight = box.height();
        EXPECT_FALSE(label(box, "Website")->isVisible());
        EXPECT_EQ(box.parentWidget(), &window);
        EXPECT_EQ(box.geometry().center(), box.screen()->geometry().center());
        box.findChild<QPushButton *>("OKButton")->click();
    });
    about.Execute();

    about.SetProductName("KALDRA 2");
    about.SetWebSite("kaldra.invalid");
    whenModal<TAboutBox>([&](TAboutBox &box) {
        EXPECT_TRUE(first.isNull());
        secondText = label(box, "ProductName")->text();
        EXPECT_EQ(box.height() - firstHeight,
                  label(box, "Website")->y() - label(box, "Programmer")->y());
        box.close();
    });
    about.Execute();
    EXPECT_EQ(firstText, "KALDRA");
    EXPECT_EQ(secondText, "KALDRA 2");
}

TEST(AboutDlg, WithTimerTheBoxClosesItself)
{
    TAboutDlg about(nullptr, 20ms);
    about.SetTimer(true);
    QPointer<TAboutBox> shown;
    whenModal<TAboutBox>([&](TAboutBox &box) { shown = &box; });
    about.Execute();
    EXPECT_TRUE(shown.isNull());
    EXPECT_EQ(aboutBoxesAlive(), 0);
}

TEST(AboutDlg, AClosedBoxLeavesNoTimerToEndTheNextDisplay)
{
    TAboutDlg about(nullptr, 30ms);
    about.SetTimer(true);
    whenModal<TAboutBox>([](TAboutBox &box) { box.close(); });
    about.Execute();

    // The next display outlasts the first box's close delay: a timer left
    // pending from it would end this one before the check below.
    about.SetTimer(false);
    bool openAfterFirstDelay = false;
    whenModal<TAboutBox>([&](TAboutBox &box) {
        QTimer::singleShot(150ms, &box, [&openAfterFirstDelay, &box] {
            openAfterFirstDelay = true;
            box.close();
        });
    });
    about.Execute();
    EXPECT_TRUE(openAfterFirstDelay);
}

} // namespace
