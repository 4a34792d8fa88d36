#pragma once

#include <QList>

class QAction;
class QMenu;

// Automatic access keys (the underlined letters reached with Alt) for menus
// whose captions are stored without "&" markers.
//
// The rule, applied to the items of one menu: every visible item whose caption
// holds no marker is served, from the top, and takes the first letter or digit
// of its caption (compared without case, the shortcut text after a tab left
// out) that no other visible item of the menu already holds; "&" is inserted
// in front of it, so the item keeps that key from then on. An item with no free
// character keeps its caption. When some item went without, the pass is
// repeated, up to as many passes as there are items to serve, each new pass
// serving first the items that went without in the one before; the earliest
// pass that gave keys to the most items is applied. Separators take part in
// nothing, and "&&" is a literal ampersand, not a marker.
//
// User-interface thread only.

// Gives access keys to the visible actions of one menu (see the rule).
void AssignAccessKeys(const QList<QAction *> &actions);

// Assigns keys to `menu`'s items each time it is about to show, after whatever
// handlers were connected to its aboutToShow before this call.
void AssignAccessKeysOnShow(QMenu &menu);
