#include "WindowMenu.h"

#include <QAction>
#include <QWidget>

WindowMenu::WindowMenu(QWidget &window) : window_(window), menu_(&window)
{
    // The tab puts "Alt+F4" in the menu's shortcut column; the window manager
    // already closes the window on that key, so no shortcut is bound here.
    addCommand("&Quit\tAlt+F4", kQuit);
    menu_.addSeparator();
    addCommand("Mute", kMute);
    addCommand("[1]<>[1]", kRig1);
    addCommand("[1]<>[2/3]", kRig12);
    addCommand("[2/3]<>[2/3]", kRig2);
    menu_.addSeparator();
    addCommand("&About...", kAbout);

    window_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&window_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &position) { menu_.popup(window_.mapToGlobal(position)); });
}

void WindowMenu::addCommand(const QString &caption, int command)
{
    QAction *action = menu_.addAction(caption);
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { emit commandChosen(command); });
}
