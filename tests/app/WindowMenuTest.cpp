#include "WindowMenu.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

struct Entry {
    QString text;
    int command; // 0 for a separator
};

std::vector<Entry> entriesOf(QMenu &menu)
{
    std::vector<Entry> entries;
    for (QAction *action : menu.actions())
        entries.push_back({action->text(), action->isSeparator() ? 0 : action->data().toInt()});
    return entries;
}

} // namespace

TEST(WindowMenu, EachEntryReportsItsCommandNumber)
{
    QWidget window;
    WindowMenu windowMenu(window);
    const std::vector<Entry> expected = {{"&Quit\tAlt+F4", 61536},
                                         {"", 0},
                                         {"Mute", 445},
                                         {"[1]<>[1]", 444},
                                         {"[1]<>[2/3]", 443},
                                         {"[2/3]<>[2/3]", 442},
                                         {"", 0},
                                         {"&About...", 666}};
    const std::vector<Entry> entries = entriesOf(windowMenu.menu());
    ASSERT_EQ(entries.size(), expected.size());
    QSignalSpy chosen(&windowMenu, &WindowMenu::commandChosen);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].text, expected[i].text) << i;
        EXPECT_EQ(entries[i].command, expected[i].command) << i;
        if (expected[i].command == 0)
            continue;
        windowMenu.menu().actions().at(static_cast<int>(i))->trigger();
        ASSERT_EQ(chosen.count(), 1) << i;
        EXPECT_EQ(chosen.takeFirst().at(0).toInt(), expected[i].command) << i;
    }
}

TEST(WindowMenu, ARightClickThatNoControlTakesOpensItThere)
{
    QMainWindow window;
    auto *background = new QLabel("background");
    window.setCentralWidget(background);
    window.setGeometry(100, 100, 300, 200);
    window.show();
    WindowMenu windowMenu(window);

    const QPoint inside(20, 30);
    QContextMenuEvent click(QContextMenuEvent::Mouse, inside, background->mapToGlobal(inside));
    QApplication::sendEvent(background, &click);

    EXPECT_TRUE(windowMenu.menu().isVisible());
    EXPECT_EQ(windowMenu.menu().pos(), background->mapToGlobal(inside));
    windowMenu.menu().close();
}
