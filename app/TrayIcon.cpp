#include "TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QWidget>

TrayIcon::TrayIcon(QMenu &menu, QWidget &window) : menu_(menu), window_(window)
{
    icon_.setToolTip("KALDRA");
    connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::iconActivated);
}

void TrayIcon::add()
{
    icon_.setIcon(window_.windowIcon());
    icon_.show();
}

void TrayIcon::remove()
{
    icon_.hide();
}

void TrayIcon::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Context)
        return;
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
        return;
    }
    if (window_.isMinimized())
        window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.raise();
    window_.activateWindow();
    menu_.popup(QCursor::pos());
}
