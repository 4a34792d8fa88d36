#include "TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class TrayIconTest : public ::testing::Test {
  protected:
    TrayIconTest()
    {
        QPixmap picture(16, 16);
        picture.fill(Qt::red);
        window.setWindowIcon(QIcon(picture));
        window.setGeometry(100, 100, 300, 200);
        window.show();
        menu.addAction("About");
        menu.addAction("Exit");
        QCursor::setPos(200, 150);
    }

    ~TrayIconTest() override { menu.close(); }

    QWidget window;
    QMenu menu{&window};
    TrayIcon tray{menu, window};
};

} // namespace

TEST_F(TrayIconTest, OnlyARightClickOpensTheMenuAndRestoresTheWindow)
{
    window.setWindowState(Qt::WindowMinimized);
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
                        QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
        tray.iconActivated(reason);
        EXPECT_FALSE(menu.isVisible()) << reason;
        EXPECT_TRUE(window.isMinimized()) << reason;
    }

    tray.iconActivated(QSystemTrayIcon::Context);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(menu.pos(), QPoint(200, 150));
}

TEST_F(TrayIconTest, ARightClickWhileAModalWindowIsOpenDoesNotOpenTheMenu)
{
    QDialog dialog(&window);
    bool menuOpened = true;
    QTimer::singleShot(0, &dialog, [&] {
        tray.iconActivated(QSystemTrayIcon::Context);
        menuOpened = menu.isVisible();
        dialog.reject();
    });
    dialog.exec();
    EXPECT_FALSE(menuOpened);
}

TEST_F(TrayIconTest, TheWindowsIconStaysUntilRemoved)
{
    EXPECT_FALSE(tray.icon().isVisible());
    tray.add();
    EXPECT_TRUE(tray.icon().isVisible());
    EXPECT_EQ(tray.icon().icon().cacheKey(), window.windowIcon().cacheKey());
    EXPECT_EQ(tray.icon().toolTip(), "KALDRA");
    window.close();
    EXPECT_TRUE(tray.icon().isVisible());
    tray.remove();
    EXPECT_FALSE(tray.icon().isVisible());
}
