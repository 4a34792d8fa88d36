#pragma once

#include <QStringList>
#include <QTimer>

// Closes the program's error boxes as they show, keeping their text. They
// are modal: on the offscreen platform nobody would close one, and the
// bench, inside the click that showed it, would wait for ever.
class ErrorBoxWatch {
  public:
    ErrorBoxWatch();

    // Throws std::runtime_error with the text of the first box shown since
    // the watch began.
    void throwIfShown() const;

  private:
    QTimer poll_;
    QStringList shown_;
};
