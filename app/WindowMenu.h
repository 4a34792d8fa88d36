#pragma once

#include <QMenu>
#include <QObject>

class QWidget;

// The window-menu entries, where the window manager owns the title-bar menu:
// they open as the window's context menu (a right click that no control takes,
// or the keyboard's menu key). Choosing an entry reports its command number,
// Quit's (61536) included, as a native window menu would, so that one
// dispatcher of numbers serves both; that dispatcher does the default handling
// too (Quit closes the window, as Alt+F4 does).
class WindowMenu : public QObject {
    Q_OBJECT

  public:
    static constexpr int kQuit = 61536;
    static constexpr int kMute = 445;
    static constexpr int kRig1 = 444;
    static constexpr int kRig12 = 443;
    static constexpr int kRig2 = 442;
    static constexpr int kAbout = 666;

    // Takes over the context menu of `window`, which must outlive this object.
    explicit WindowMenu(QWidget &window);

    QMenu &menu() { return menu_; }

  signals:
    void commandChosen(int command);

  private:
    void addCommand(const QString &caption, int command);

    QWidget &window_;
    QMenu menu_;
};
