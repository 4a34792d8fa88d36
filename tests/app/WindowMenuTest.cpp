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

TEST(WindowMenu, EntriesCarryTheirCommandsAndQuitClosesTheWindow)
{
    QMainWindow window;
    window.show();
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
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].text, expected[i].text) << i;
        EXPECT_EQ(entries[i].command, expected[i].command) << i;
    }

    QSignalSpy chosen(&windowMenu, &WindowMenu::commandChosen);
    for (QAction *action : windowMenu.menu().actions()) {
        if (!action->isSeparator() && action->data().toInt() != WindowMenu::kQuit)
            action->trigger();
    }
    ASSERT_EQ(chosen.count(), 5);
    const int order[] = {445, 444, 443, 442, 666};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(chosen.at(i).at(0).toInt(), order[i]);
    EXPECT_TRUE(window.isVisible());

    windowMenu.menu().actions().first()->trigger();
    EXPECT_FALSE(window.isVisible());
    ASSERT_EQ(chosen.count(), 6);
    EXPECT_EQ(chosen.last().at(0).toInt(), WindowMenu::kQuit);
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
