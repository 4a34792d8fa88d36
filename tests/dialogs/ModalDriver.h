#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

// Runs `act` on the modal window of type Window as soon as the statement
// that follows opens it. Should the window still be open ten seconds later,
// the test fails and the window is closed, so that a broken dialog cannot
// hang the test program.
template <typename Window> void whenModal(std::function<void(Window &)> act)
{
    QTimer::singleShot(0, [act] {
        auto *window = qobject_cast<Window *>(QApplication::activeModalWidget());
        if (window == nullptr) {
            ADD_FAILURE() << "no modal window on display";
            return;
        }
        QTimer::singleShot(10000, window, [window] {
            ADD_FAILURE() << "modal window still open";
            window->close();
        });
        act(*window);
    });
}
