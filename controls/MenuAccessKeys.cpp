#include "MenuAccessKeys.h"

#include <QAction>
#include <QMenu>
#include <QString>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// The caption without its shortcut column.
qsizetype CaptionEnd(const QString &text)
{
    const qsizetype tab = text.indexOf(u'\t');
    return tab < 0 ? text.size() : tab;
}

// The character after the caption's "&" marker, if it has one.
std::optional<QChar> MarkedKey(const QString &text)
{
    const qsizetype end = CaptionEnd(text);
    for (qsizetype i = 0; i + 1 < end; ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toCaseFolded();
        ++i; // "&&" stands for one ampersand
    }
    return std::nullopt;
}

// Position of the first letter or digit of `text` that is not in `held`, or -1.
qsizetype FreeKeyPosition(const QString &text, const std::vector<QChar> &held)
{
    const qsizetype end = CaptionEnd(text);
    for (qsizetype i = 0; i < end; ++i) {
        if (text[i] == u'&') {
            ++i; // the second character of "&&"
            continue;
        }
        const QChar c = text[i];
        if ((c.isLetter() || c.isDigit()) &&
            std::find(held.begin(), held.end(), c.toCaseFolded()) == held.end())
            return i;
    }
    return -1;
}

} // namespace

void AssignAccessKeys(const QList<QAction *> &actions)
{
    std::vector<QChar> heldBefore;
    std::vector<QAction *> served;
    for (QAction *action : actions) {
        if (!action->isVisible() || action->isSeparator())
            continue;
        if (const auto key = MarkedKey(action->text()))
            heldBefore.push_back(*key);
        else
            served.push_back(action);
    }

    // One pass serves the items in `order` (indices into `served`) and gives
    // each the position of its key in its caption, or -1.
    const auto runPass = [&](const std::vector<std::size_t> &order) {
        std::vector<QChar> held = heldBefore;
        std::vector<qsizetype> positions(served.size(), -1);
        for (const std::size_t item : order) {
            const QString text = served[item]->text();
            const qsizetype position = FreeKeyPosition(text, held);
            positions[item] = position;
            if (position >= 0)
                held.push_back(text[position].toCaseFolded());
        }
        return positions;
    };
    const auto keysGiven = [](const std::vector<qsizetype> &positions) {
        return std::count_if(positions.begin(), positions.end(),
                             [](qsizetype position) { return position >= 0; });
    };

    std::vector<std::size_t> order(served.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::vector<qsizetype> best = runPass(order);
    std::vector<qsizetype> positions = best;
    for (std::size_t pass = 1;
         pass < served.size() && keysGiven(best) < static_cast<std::ptrdiff_t>(served.size());
         ++pass) {
        std::stable_partition(order.begin(), order.end(),
                              [&](std::size_t item) { return positions[item] < 0; });
        positions = runPass(order);
        if (keysGiven(positions) > keysGiven(best))
            best = positions;
    }

    for (std::size_t item = 0; item < served.size(); ++item) {
        if (best[item] < 0)
            continue;
        QString text = served[item]->text();
        text.insert(best[item], u'&');
        served[item]->setText(text);
    }
}

void AssignAccessKeysOnShow(QMenu &menu)
{
    QObject::connect(&menu, &QMenu::aboutToShow, &menu,
                     [&menu] { AssignAccessKeys(menu.actions()); });
}
