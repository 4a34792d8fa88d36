#include "DeviceDialog.h"
#include "ModalDriver.h"
#include "RecordingAudioLibrary.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

QComboBox *list(TForm2 &dialog)
{
    return dialog.findChild<QComboBox *>("ComboBox4");
}

QStringList entries(TForm2 &dialog)
{
    QStringList texts;
    for (int i = 0; i < list(dialog)->count(); ++i)
        texts << list(dialog)->itemText(i);
    return texts;
}

bool asked(const RecordingAudioLibrary &library, const std::string &operation)
{
    return std::any_of(library.calls.begin(), library.calls.end(),
                       [&](const std::string &call) { return call.starts_with(operation + "("); });
}

void pressOk(TForm2 &dialog)
{
    QTest::mouseClick(dialog.findChild<QPushButton *>("Button1"), Qt::LeftButton);
}

// Clicks into the text field, as a user does before typing or using the keys.
void focusList(TForm2 &dialog)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::mouseClick(list(dialog)->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(list(dialog)->hasFocus());
}

// Opens the list with F4, moves `steps` entries down (up when negative) and
// takes the entry with Enter.
void pickFromList(TForm2 &dialog, int steps)
{
    focusList(dialog);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4);
    QAbstractItemView *view = list(dialog)->view();
    ASSERT_TRUE(view->isVisible());
    for (int i = 0; i < std::abs(steps); ++i)
        QTest::keyClick(view, steps > 0 ? Qt::Key_Down : Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_FALSE(view->isVisible());
}

class DeviceDialogTest : public testing::Test {
  protected:
    RecordingAudioLibrary library;

    DeviceDialogTest()
    {
        library.captureDevices = {"Line In", "Mic", "USB Codec", "USB Codec"};
        library.playbackDevices = {"Speakers", "Headphones", "HDMI", "USB Codec"};
    }

    // A filled dialog, as the main window prepares it.
    std::unique_ptr<TForm2> dialogFor(TSO2RMode mode, int device)
    {
        auto dialog = std::make_unique<TForm2>(library);
        dialog->SetSO2RMode(mode);
        dialog->SetDevice(device);
        dialog->SetList();
        return dialog;
    }

    // Shows the dialog modally, lets `act` work on it, and returns Device.
    static int runModal(TForm2 &dialog, std::function<void(TForm2 &)> act)
    {
        whenModal<TForm2>(std::move(act));
        dialog.exec();
        return dialog.Device();
    }
};

TEST_F(DeviceDialogTest, DefaultIsSelectedForMinusOneAndOkGivesItBack)
{
    const auto dialog = dialogFor(ddIn, -1);
    EXPECT_EQ(list(*dialog)->currentIndex(), 0);
    EXPECT_EQ(dialog->DeviceName(), "Default");
    EXPECT_EQ(runModal(*dialog, pressOk), -1);
}

TEST_F(DeviceDialogTest, CaptureDevicesAreListedInNumberOrderWithTheOneInUseSelected)
{
    // Identical cards are told apart by their USB port, else by the server's
    // name for them.
    library.captureIdentities = {{"line", ""},
                                 {"mic", ""},
                                 {"codec", "pci-0000:00:14.0-usb-0:2:1.0"},
                                 {"codec.2", "pci-0000:00:14.0-usb-0:3:1.0"}};
    const auto dialog = dialogFor(ddIn, 2);
    EXPECT_EQ(dialog->findChild<QLabel *>("Label4")->text(), "Input Soundcard device");
    EXPECT_EQ(entries(*dialog), QStringList({"Default", "Line In", "Mic", "USB Codec (usb-0:2:1.0)",
                                             "USB Codec (usb-0:3:1.0)"}));
    library.captureIdentities[3].busPath.clear();
    EXPECT_EQ(entries(*dialogFor(ddIn, 2)).last(), "USB Codec (codec.2)");
    EXPECT_EQ(list(*dialog)->currentIndex(), 3);
    EXPECT_EQ(dialog->DeviceName(), "USB Codec");
    EXPECT_FALSE(asked(library, "GetDeviceInfo"));
    EXPECT_EQ(runModal(*dialog, pressOk), 2);
}

TEST_F(DeviceDialogTest, OutputListsPlaybackDevicesAndTheLastEntryGivesThree)
{
    const auto dialog = dialogFor(ddOut, 0);
    EXPECT_EQ(dialog->findChild<QLabel *>("Label4")->text(), "Output Soundcard device");
    EXPECT_EQ(entries(*dialog),
              QStringList({"Default", "Speakers", "Headphones", "HDMI", "USB Codec"}));
    EXPECT_EQ(dialog->DeviceName(), "Speakers");
    EXPECT_FALSE(asked(library, "RecordGetDeviceInfo"));
    EXPECT_EQ(runModal(*dialog,
                       [](TForm2 &shown) {
                           pickFromList(shown, 3);
                           EXPECT_EQ(list(shown)->currentIndex(), 4);
                           pressOk(shown);
                       }),
              3);
}

TEST_F(DeviceDialogTest, OnlyOkChangesTheDeviceAndEscDoesNotClose)
{
    const auto dialog = dialogFor(ddIn, 2);
    bool openAfterEsc = false;
    const int result = runModal(*dialog, [&](TForm2 &shown) {
        pickFromList(shown, 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        EXPECT_EQ(list(shown)->currentIndex(), 2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        openAfterEsc = shown.isVisible();
        shown.close();
    });
    EXPECT_TRUE(openAfterEsc);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(DeviceDialogTest, EnterPressesOkOnlyWhileOkHasTheFocus)
{
    const auto dialog = dialogFor(ddIn, -1);
    bool okFocusedAtOpen = false;
    bool openAfterEnterInList = false;
    const int result = runModal(*dialog, [&](TForm2 &shown) {
        auto *ok = shown.findChild<QPushButton *>("Button1");
        ASSERT_TRUE(QTest::qWaitForWindowActive(&shown));
        okFocusedAtOpen = ok->hasFocus();
        list(shown)->setFocus();
        list(shown)->setCurrentIndex(2);
        QTest::keyClick(list(shown), Qt::Key_Return);
        openAfterEnterInList = shown.isVisible();
        ok->setFocus();
        QTest::keyClick(ok, Qt::Key_Return);
    });
    EXPECT_TRUE(okFocusedAtOpen);
    EXPECT_TRUE(openAfterEnterInList);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(entries(*dialog).size(), 5) << "Enter in the text field must not add an entry";
}

TEST_F(DeviceDialogTest, TypedTextIsNeverRead)
{
    const auto dialog = dialogFor(ddOut, 0);
    const int result = runModal(*dialog, [](TForm2 &shown) {
        focusList(shown);
        for (const char *typed : {"HDMI", "Headph"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), typed);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }
        pressOk(shown);
    });
    EXPECT_EQ(result, 0);
}

TEST_F(DeviceDialogTest, NumberWithoutEntrySelectsNothingAndOkGivesMinusTwo)
{
    for (const int device : {-2, 4, -7, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(device);
        const auto dialog = dialogFor(ddIn, device);
        EXPECT_EQ(list(*dialog)->currentIndex(), -1);
        EXPECT_EQ(list(*dialog)->currentText(), device == -2 ? "Text substitute" : "");
        EXPECT_EQ(dialog->DeviceName(), "");
        EXPECT_EQ(runModal(*dialog, pressOk), -2);
    }
}

// Answers for every capture device number from 0 on but `refused`.
class GappedLibrary : public RecordingAudioLibrary {
  public:
    explicit GappedLibrary(int refused) : refused_(refused) {}
    bool RecordGetDeviceInfo(int device, AudioDeviceInfo &info) override
    {
        info.name = "Card " + std::to_string(device);
        return device >= 0 && device != refused_;
    }

  private:
    int refused_;
};

TEST(DeviceDialogList, EndsWhereTheLibraryFirstSaysNoAndIsBoundedWhenItNeverDoes)
{
    GappedLibrary gapped(2);
    TForm2 dialog(gapped);
    dialog.SetDevice(3);
    dialog.SetList();
    EXPECT_EQ(entries(dialog), QStringList({"Default", "Card 0", "Card 1"}));
    EXPECT_EQ(list(dialog)->currentIndex(), -1);
    EXPECT_EQ(dialog.DeviceName(), "Card 3");

    GappedLibrary endless(-1);
    TForm2 unbounded(endless);
    unbounded.SetDevice(-1);
    unbounded.SetList();
    EXPECT_EQ(list(unbounded)->count(), TForm2::kMaxDevices + 1);
}

TEST(DeviceDialogReference, FollowsTheNewestDialogOnly)
{
    RecordingAudioLibrary library;
    auto older = std::make_unique<TForm2>(library);
    EXPECT_EQ(Form2, older.get());
    auto newer = std::make_unique<TForm2>(library);
    EXPECT_EQ(Form2, newer.get());
    older.reset();
    EXPECT_EQ(Form2, newer.get()) << "an older dialog's end must not empty the reference";
    newer.reset();
    EXPECT_EQ(Form2, nullptr);
}

} // namespace
