#pragma once

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

// The notification-area icon: the window's icon with the tool tip "KALDRA".
// A right click brings the window to the front, restores it if minimised and
// opens `menu` at the cursor; every other click does nothing. Where no tray
// host runs there is no icon and no error.
//
// The menu is opened by us rather than handed to the icon, so that both kinds
// of tray host behave alike: an X11 (XEmbed) tray reports a right press as a
// context activation, and a StatusNotifierItem host asks for a context menu
// the same way when the item exports none. A host over D-Bus is not held back
// by a modal window, so while one is open a right click only raises it:
// the menu's commands never run inside a dialog that one of them opened.
class TrayIcon : public QObject {
    Q_OBJECT

  public:
    // `menu` and `window` must outlive this object.
    TrayIcon(QMenu &menu, QWidget &window);

    // Puts the window's icon in the notification area, or has it appear
    // there as soon as a tray host starts.
    void add();
    // Takes the icon away; done by Exit alone.
    void remove();
    const QSystemTrayIcon &icon() const { return icon_; }

    // The icon's activation, public so that a test can click it.
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

  private:
    QMenu &menu_;
    QWidget &window_;
    QSystemTrayIcon icon_;
};
