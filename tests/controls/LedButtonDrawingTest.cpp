#include "LedButtonTest.h"

namespace {

// The first column from `left` on whose rows `top` .. `bottom` show `colour`; -1 if none.
int FirstColumnWith(const QImage &image, QRgb colour, int left, int top, int bottom)
{
    for (int x = left; x < image.width(); ++x) {
        for (int y = top; y <= bottom; ++y)
            if (image.pixel(x, y) == colour)
                return x;
    }
    return -1;
}

bool Contains(const QImage &image, QRgb colour)
{
    return FirstColumnWith(image, colour, 0, 0, image.height() - 1) >= 0;
}

} // namespace

TEST_F(LedButtonTest, ANewButtonShowsTheDarkRoundLampAndItsCaptionBesideIt)
{
    EXPECT_EQ(button->size(), QSize(85, 25));
    const QImage image = Render();
    EXPECT_TRUE(ShowsPicture(image, {7, 4}, LampPicture("OFF3")));
    EXPECT_EQ(image.pixel(7, 4), TestColours::face) << "the yellow corner keyed out";
    EXPECT_FALSE(Contains(image, qRgb(255, 255, 0)));
    const int captionLeft = FirstColumnWith(image, TestColours::text, 20, 2, 22);
    EXPECT_GE(captionLeft, 27);
    EXPECT_LE(captionLeft, 29);
}

TEST_F(LedButtonTest, TheLampIsCentredByTruncatingDivision)
{
    const struct {
        TLedButton::TLEDType type;
        QSize size;
        QPoint lamp;
        const char *picture;
        int captionLeft;
    } cases[] = {
        {TLedButton::RoundLED, {73, 49}, {7, 16}, "OFF3", 27},
        {TLedButton::RedLed, {73, 57}, {7, 20}, "OFF4", 23},
        {TLedButton::RedLed, {73, 15}, {7, 0}, "OFF4", 23},
        {TLedButton::TriLEDDown, {73, 30}, {7, 9}, "OFF1", 27},
        {TLedButton::TriLEDUp, {73, 30}, {7, 9}, "OFF2", 27},
    };
    for (const auto &c : cases) {
        button->SetLEDType(c.type);
        button->resize(c.size);
        const QImage image = Render();
        EXPECT_TRUE(ShowsPicture(image, c.lamp, LampPicture(c.picture))) << c.picture;
        const int middle = c.size.height() / 2;
        const int captionLeft =
            FirstColumnWith(image, TestColours::text, c.lamp.x() + 10, middle - 6, middle + 6);
        EXPECT_GE(captionLeft, c.captionLeft) << c.picture;
        EXPECT_LE(captionLeft, c.captionLeft + 2) << c.picture;
    }
}

// The top row of the caption's ink, right of the lamp; -1 if none.
int CaptionTop(const QImage &image)
{
    for (int y = 2; y < image.height() - 2; ++y) {
        for (int x = 30; x < image.width() - 3; ++x)
            if (image.pixel(x, y) != TestColours::face)
                return y;
    }
    return -1;
}

TEST_F(LedButtonTest, TheCaptionIsCentredByTruncatingDivision)
{
    // A lamp lower than the text, so that centring on the lamp shows.
    button->SetLEDType(TLedButton::TriLEDDown);
    const int textHeight = button->fontMetrics().height();
    button->resize(85, 40);
    const int inkBelowTop = CaptionTop(Render()) - (40 - textHeight) / 2;
    for (const int height : {25, 26, 27, 41, 57}) {
        button->resize(85, height);
        EXPECT_EQ(CaptionTop(Render()), (height - textHeight) / 2 + inkBelowTop) << height;
    }
}

TEST_F(LedButtonTest, ANewPaletteKeysTheLampOutInItsFace)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Qt::darkGreen);
    window->setPalette(palette);
    const QImage image = Render();
    EXPECT_EQ(image.pixel(7, 4), QColor(Qt::darkGreen).rgb());
    EXPECT_EQ(image.pixel(1, 1), QColor(Qt::darkGreen).rgb()) << "the face around it";
}

TEST_F(LedButtonTest, TheSizeHintHoldsLampAndCaption)
{
    EXPECT_EQ(button->sizeHint(), QSize(85, 25));
    button->setText(QStringLiteral("Rig1 + Rig2, both ears"));
    const int captionWidth = button->fontMetrics().horizontalAdvance(button->text());
    EXPECT_GE(button->sizeHint().width(), 7 + 20 + captionWidth);
    button->SetLEDType(TLedButton::RedLed);
    EXPECT_LT(button->sizeHint().width(), 7 + 20 + captionWidth + 7);
}

TEST_F(LedButtonTest, APressedButtonIsFlatWithItsLampInPlace)
{
    const int right = button->width() - 1, bottom = button->height() - 1;
    QImage image = Render();
    EXPECT_EQ(image.pixel(0, 0), TestColours::highlight);
    EXPECT_EQ(image.pixel(right, bottom), TestColours::frame);

    button->setDown(true);
    image = Render();
    EXPECT_EQ(image.pixel(0, 0), TestColours::shadow);
    EXPECT_EQ(image.pixel(right, bottom), TestColours::shadow);
    EXPECT_EQ(image.pixel(1, 1), TestColours::face);
    EXPECT_TRUE(ShowsPicture(image, {7, 4}, LampPicture("OFF3")));
}

TEST_F(LedButtonTest, ADisabledCaptionIsGrey)
{
    const QRect captionArea(27, 2, 50, 21);
    button->setEnabled(false);
    QImage caption = Render().copy(captionArea);
    EXPECT_TRUE(Contains(caption, TestColours::disabledText));
    EXPECT_FALSE(Contains(caption, TestColours::text));

    button->setEnabled(true);
    caption = Render().copy(captionArea);
    EXPECT_TRUE(Contains(caption, TestColours::text));
    EXPECT_FALSE(Contains(caption, TestColours::disabledText));
}

TEST_F(LedButtonTest, AnEmbossedCaptionWrapsAndCarriesLightAndShadow)
{
    button->resize(73, 49);
    button->setText(QStringLiteral("Rig1 Rig2 Rig3 Rig4"));
    const QRect captionArea(28, 3, 40, 43);
    EXPECT_FALSE(Contains(Render().copy(captionArea), TestColours::highlight));

    button->SetCaption3D(true);
    const QImage caption = Render().copy(captionArea);
    EXPECT_TRUE(Contains(caption, TestColours::highlight));
    EXPECT_TRUE(Contains(caption, TestColours::shadow));
    EXPECT_TRUE(Contains(caption, TestColours::text));
    EXPECT_TRUE(Contains(caption.copy(0, 30, 40, 13), TestColours::text)) << "a second line";
}

TEST_F(LedButtonTest, TheFocusedActiveButtonIsOutlinedAndDotted)
{
    button->setFocus();
    const QImage image = Render();
    EXPECT_EQ(image.pixel(0, 0), TestColours::frame);
    EXPECT_EQ(image.pixel(1, 1), TestColours::highlight) << "the raised frame inside the outline";
    const int dots =
        (image.pixel(4, 4) == TestColours::frame) + (image.pixel(5, 4) == TestColours::frame);
    EXPECT_EQ(dots, 1) << "every other pixel of the focus rectangle";
}

TEST(LedPictures, EachLampHasThreePicturesOfOneSizeAndOutline)
{
    const struct {
        int number;
        QSize size;
    } lamps[] = {{1, {20, 11}}, {2, {20, 11}}, {3, {20, 16}}, {4, {16, 16}}};
    for (const auto &lamp : lamps) {
        QImage outline;
        for (const char *look : {"OFF", "ON", "DOWN"}) {
            const QString name = QStringLiteral(":/leds/%1%2").arg(look).arg(lamp.number);
            const QImage picture(name + ".bmp");
            ASSERT_EQ(picture.size(), lamp.size) << name.toStdString();
            EXPECT_LE(picture.colorCount(), 16) << name.toStdString();
            EXPECT_EQ(QImage(name + "@2x.bmp").size(), lamp.size * 2) << name.toStdString();
            const QImage background = picture.createMaskFromColor(qRgb(255, 255, 0));
            if (outline.isNull())
                outline = background;
            EXPECT_EQ(background, outline) << name.toStdString();
        }
        EXPECT_TRUE(Contains(outline, 0xffffffff)) << "every lamp stands on yellow";
    }
}

TEST_F(LedButtonTest, AScreenOfTwiceTheScaleGetsTheFinerPictureInTheSamePlace)
{
    QImage image(button->size() * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2.0);
    button->render(&image);
    image.setDevicePixelRatio(1.0);
    EXPECT_TRUE(ShowsPicture(image, {14, 8}, LampPicture("OFF3@2x")));
}
