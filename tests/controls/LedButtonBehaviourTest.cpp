#include "LedButtonTest.h"

#include "ui_LedButtonForm.h"

#include <QContextMenuEvent>
#include <QDialog>
#include <QTest>

namespace {

const QPoint kInside(40, 12);

} // namespace

TEST_F(LedButtonTest, LeftClicksToggleTheLampAndThePointerPutsOutOnlyAnInactiveOne)
{
    EXPECT_EQ(Look(), "OFF");
    Enter();
    EXPECT_EQ(Look(), "ON");

    QTest::mousePress(button, Qt::LeftButton, {}, kInside);
    EXPECT_TRUE(button->IsActive());
    EXPECT_EQ(button->accessibleDescription(), "on");
    EXPECT_EQ(Look(), "DOWN");
    EXPECT_GE(TakePaints(), 2) << "the pressed face and the lit lamp, painted at once";
    QTest::mouseRelease(button, Qt::LeftButton, {}, kInside);
    Leave();
    EXPECT_EQ(Look(), "DOWN");
    EXPECT_EQ(clicks->count(), 1);

    TakePaints();
    Enter();
    EXPECT_EQ(TakePaints(), 0) << "entering an active button changes nothing";
    QTest::mouseClick(button, Qt::LeftButton, {}, kInside);
    EXPECT_FALSE(button->IsActive());
    EXPECT_EQ(button->accessibleDescription(), "off");
    EXPECT_EQ(Look(), "ON");
    Leave();
    EXPECT_EQ(Look(), "OFF");
    EXPECT_EQ(clicks->count(), 2);

    QTest::mouseMove(button, kInside);
    EXPECT_EQ(Look(), "ON") << "a move inside lights a dark lamp again";
}

TEST_F(LedButtonTest, RightAndMiddleClicksToggleWithoutClickingOrTakingTheFocus)
{
    button->SetModalResult(6);
    QObject::connect(button, &TLedButton::OnMouseDown,
                     [this] { EXPECT_EQ(Look(), "DOWN") << "lit before OnMouseDown"; });
    for (Qt::MouseButton mouse : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(button, mouse, {}, kInside);
        EXPECT_EQ(Look(), "DOWN");
        QTest::mouseRelease(button, mouse, {}, kInside);
    }
    EXPECT_FALSE(button->IsActive()) << "inverted twice";
    EXPECT_EQ(Look(), "ON");
    EXPECT_EQ(clicks->count(), 0);
    EXPECT_TRUE(sounds.calls.isEmpty());
    EXPECT_TRUE(edit->hasFocus());

    // The right press is the button's own: the window's context menu must not open too.
    QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, kInside, button->mapToGlobal(kInside));
    QCoreApplication::sendEvent(button, &menuRequest);
    EXPECT_TRUE(menuRequest.isAccepted());
}

TEST_F(LedButtonTest, ADoubleClickIsTwoPressesAndTwoClicks)
{
    button->SetModalResult(6);
    // What the platform delivers for a double click.
    QTest::mouseClick(button, Qt::LeftButton, {}, kInside);
    QTest::mouseDClick(button, Qt::LeftButton, {}, kInside);
    QTest::mouseRelease(button, Qt::LeftButton, {}, kInside);
    EXPECT_FALSE(button->IsActive());
    EXPECT_EQ(clicks->count(), 2);
    EXPECT_EQ(sounds.calls, QStringList({"beep ok", "beep ok"}));
}

TEST_F(LedButtonTest, SpaceAndEnterClickTheFocusedButtonWithoutTouchingTheLamp)
{
    button->SetModalResult(6);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    // Outside a dialog too, where a plain push button ignores Enter.
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks->count(), 3);
    EXPECT_EQ(sounds.calls, QStringList({"beep ok", "beep ok", "beep ok"}));
    EXPECT_FALSE(button->IsActive());
    EXPECT_EQ(Look(), "OFF");
}

TEST_F(LedButtonTest, ALeftPressTakesTheFocusAndTheDefaultLookFollowsIt)
{
    auto *defaultButton = new TLedButton(window.get());
    defaultButton->move(100, 10);
    defaultButton->setDefault(true);
    defaultButton->show();
    const auto outlined = [](TLedButton *b) {
        QImage image(b->size(), QImage::Format_RGB32);
        b->render(&image);
        return image.pixel(0, 0) == TestColours::frame;
    };

    QTest::mouseClick(button, Qt::LeftButton, {}, kInside);
    EXPECT_TRUE(button->hasFocus());
    EXPECT_TRUE(outlined(button));
    EXPECT_FALSE(outlined(defaultButton));

    edit->setFocus();
    EXPECT_FALSE(outlined(button));
    EXPECT_TRUE(outlined(defaultButton)) << "the default button while a non-button has the focus";

    other->setFocus();
    EXPECT_FALSE(outlined(defaultButton)) << "another push button took over";
}

TEST_F(LedButtonTest, SetIsActivePaintsTwiceAndLeavesAnInactiveLampGlowing)
{
    button->SetIsActive(true);
    EXPECT_EQ(TakePaints(), 2);
    EXPECT_EQ(Look(), "DOWN");
    Leave();
    EXPECT_EQ(Look(), "DOWN");

    TakePaints();
    button->SetIsActive(false);
    EXPECT_EQ(TakePaints(), 2);
    EXPECT_EQ(Look(), "ON");
    Enter();
    Leave();
    EXPECT_EQ(Look(), "OFF");
}

TEST_F(LedButtonTest, ADisabledButtonIgnoresEverythingAndKeepsItsLamp)
{
    button->SetModalResult(1);
    button->setEnabled(false);
    button->SetIsActive(true);
    Enter();
    QTest::mouseClick(button, Qt::LeftButton, {}, kInside);
    QTest::mouseClick(button, Qt::RightButton, {}, kInside);
    button->click();
    EXPECT_FALSE(button->IsActive());
    EXPECT_EQ(clicks->count(), 0);
    EXPECT_TRUE(sounds.calls.isEmpty());
    button->setEnabled(true);
    EXPECT_EQ(Look(), "OFF");

    button->SetIsActive(true);
    button->setEnabled(false);
    button->SetIsActive(false);
    Leave();
    EXPECT_TRUE(button->IsActive());
    EXPECT_EQ(Look(), "DOWN");
}

TEST_F(LedButtonTest, SettersRepaintOnlyWhenTheValueChanges)
{
    button->SetLEDType(TLedButton::RoundLED);
    button->SetCaption3D(false);
    button->SetStyle(TLedButton::bsAutoDetect);
    QCoreApplication::processEvents();
    EXPECT_EQ(TakePaints(), 0);

    button->SetLEDType(TLedButton::RedLed);
    EXPECT_EQ(TakePaints(), 1);
    EXPECT_EQ(Look(), "OFF");

    const QImage before = Render();
    TakePaints();
    button->SetStyle(TLedButton::bsNew);
    EXPECT_EQ(TakePaints(), 0) << "a style change is only scheduled";
    QCoreApplication::processEvents();
    EXPECT_GE(TakePaints(), 1);
    EXPECT_EQ(Render(), before);
}

TEST_F(LedButtonTest, AClickWithoutSoundFileBeepsByModalResult)
{
    const std::pair<int, const char *> table[] = {
        {-1, nullptr},   {0, nullptr},    {1, "ok"},     {2, "exclamation"}, {3, "exclamation"},
        {4, "question"}, {5, "question"}, {6, "ok"},     {7, "hand"},        {8, "ok"},
        {9, "hand"},     {10, "ok"},      {11, nullptr},
    };
    for (const auto &[modalResult, beep] : table) {
        sounds.calls.clear();
        button->SetModalResult(modalResult);
        button->click();
        const QStringList expected =
            beep ? QStringList{QStringLiteral("beep ") + beep} : QStringList{};
        EXPECT_EQ(sounds.calls, expected) << "ModalResult " << modalResult;
    }
}

TEST_F(LedButtonTest, ASoundFileIsPlayedWholeByClicksAndStoppedWhenSet)
{
    const QString longName = QStringLiteral("/sounds/") + QString(500, QLatin1Char('x')) + ".wav";
    button->SetModalResult(6);
    button->SetSoundFile(longName);
    EXPECT_EQ(sounds.calls, QStringList{"stop"}) << "setting it at run time plays nothing";
    button->click();
    EXPECT_EQ(sounds.calls.last(), "file " + longName);
    button->SetSoundFile(QString());
    button->click();
    EXPECT_EQ(sounds.calls.mid(2), QStringList({"stop", "beep ok"}));
}

TEST_F(LedButtonTest, TheClickComesFirstThenOtherReceiversThenMouseUp)
{
    QStringList order;
    button->SetModalResult(1);
    QObject::connect(button, &QAbstractButton::clicked, [&] { order << sounds.calls; });
    QObject::connect(button, &TLedButton::OnMouseUp, [&] { order << "mouse up"; });
    QTest::mouseClick(button, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(order, QStringList({"beep ok", "mouse up"}));
}

TEST_F(LedButtonTest, TheModalResultEndsOnlyAModalDialog)
{
    QDialog dialog;
    auto *ok = new TLedButton(&dialog);
    ok->SetSoundPlayer(&sounds);
    ok->SetModalResult(6);
    dialog.show();
    ok->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible()) << "not shown modally";

    dialog.open();
    ok->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 6);
}

TEST_F(LedButtonTest, ALayoutFileSetsEveryPropertyAndLoadsTheLampGlowing)
{
    QWidget form(window.get());
    Ui::LedButtonForm layout;
    layout.setupUi(&form);
    TLedButton *power = layout.LedPower;
    EXPECT_EQ(power->GetSoundFile(), "/sounds/power.wav");
    EXPECT_EQ(power->LEDType(), TLedButton::RedLed);
    EXPECT_EQ(power->Style(), TLedButton::bsNew);
    EXPECT_TRUE(power->Caption3D());
    EXPECT_FALSE(power->IsActive());
    EXPECT_EQ(power->ModalResult(), 6);
    QImage image(power->size(), QImage::Format_RGB32);
    power->render(&image);
    EXPECT_TRUE(ShowsPicture(image, {7, 20}, LampPicture("ON4")));
}
