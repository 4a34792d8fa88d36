#include "MenuAccessKeys.h"

#include <QAction>
#include <QMenu>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

// A menu with one item per caption; "-" makes a separator.
void Fill(QMenu &menu, const QStringList &captions)
{
    for (const QString &caption : captions)
        if (caption == "-")
            menu.addSeparator();
        else
            menu.addAction(caption);
}

QStringList Captions(const QMenu &menu)
{
    QStringList captions;
    for (const QAction *action : menu.actions())
        captions << (action->isSeparator() ? QString("-") : action->text());
    return captions;
}

QStringList Keyed(const QStringList &captions)
{
    QMenu menu;
    Fill(menu, captions);
    AssignAccessKeys(menu.actions());
    return Captions(menu);
}

} // namespace

TEST(MenuAccessKeys, GivesEachItemTheFirstCharacterNoOtherHolds)
{
    EXPECT_EQ(Keyed({"File", "Edit", "Mode", "Help"}),
              QStringList({"&File", "&Edit", "&Mode", "&Help"}));
    EXPECT_EQ(Keyed({"Soundcard OUT", "Soundcard IN(1)", "Soundcard IN(2)"}),
              QStringList({"&Soundcard OUT", "S&oundcard IN(1)", "So&undcard IN(2)"}));
    EXPECT_EQ(Keyed({"Rig1", "Rig1+Rig2", "Rig2", "Mute"}),
              QStringList({"&Rig1", "R&ig1+Rig2", "Ri&g2", "&Mute"}));
    EXPECT_EQ(
        Keyed({"*<>*", "[1]<>[1]", "[1]<>[2/3]", "[2/3]<>[2/3]", "About", "Exit"}),
        QStringList({"*<>*", "[&1]<>[1]", "[1]<>[&2/3]", "[2/&3]<>[2/3]", "&About", "&Exit"}));
}

TEST(MenuAccessKeys, RewrittenCaptionsGetTheSamePositionsNextTime)
{
    QMenu menu;
    Fill(menu, {"Rig1", "Rig1+Rig2", "Rig2", "Mute"});
    AssignAccessKeysOnShow(menu);
    emit menu.aboutToShow();
    menu.actions()[1]->setText("Rig1+3");
    menu.actions()[2]->setText("Rig3");
    emit menu.aboutToShow();
    EXPECT_EQ(Captions(menu), QStringList({"&Rig1", "R&ig1+3", "Ri&g3", "&Mute"}));

    EXPECT_EQ(Keyed({"&Soundcard OUT", "S&oundcard IN(1)", "Soundcard IN(3)"}),
              QStringList({"&Soundcard OUT", "S&oundcard IN(1)", "So&undcard IN(3)"}));
}

TEST(MenuAccessKeys, KeysHeldByMarkersAndCaseAreRespected)
{
    // "e" is held by the marked item below it, "a" by "A" above, in any case;
    // "&&" is an ampersand; a hidden item neither holds its key nor gets one.
    QMenu menu;
    Fill(menu, {"A", "-", "a&&e", "&Zed", "x&E", "Hidden", "z"});
    menu.actions()[3]->setVisible(false);
    menu.actions()[5]->setVisible(false);
    AssignAccessKeys(menu.actions());
    EXPECT_EQ(Captions(menu), QStringList({"&A", "-", "a&&e", "&Zed", "x&E", "Hidden", "&z"}));

    EXPECT_EQ(Keyed({"Hidden", "h&&i"}), QStringList({"&Hidden", "h&&&i"}));
}

TEST(MenuAccessKeys, ItemWithoutFreeCharacterKeepsItsCaption)
{
    // Every pass gives one key; the first pass's result stands.
    EXPECT_EQ(Keyed({"Ab", "ab", "BA"}), QStringList({"&Ab", "a&b", "BA"}));
    EXPECT_EQ(Keyed({"A", "a"}), QStringList({"&A", "a"}));
}

TEST(MenuAccessKeys, LaterPassServesFirstTheItemsThatWentWithout)
{
    // Pass 1 gives "AB" its "A" and leaves "A" without; pass 2 serves "A" first.
    EXPECT_EQ(Keyed({"AB", "A"}), QStringList({"A&B", "&A"}));
    // Passes 2, 3 and 4 each give three keys, differently; pass 2 stands.
    EXPECT_EQ(Keyed({"XYZ", "XZ", "X", "Z"}), QStringList({"X&YZ", "XZ", "&X", "&Z"}));
}

TEST(MenuAccessKeys, KeysOnShowRunAfterEarlierHandlers)
{
    QMenu menu;
    QAction *item = menu.addAction("Rig2");
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [item] { item->setText("Rig3"); });
    AssignAccessKeysOnShow(menu);
    emit menu.aboutToShow();
    EXPECT_EQ(item->text(), "&Rig3");
}
