#include "ErrorBoxWatch.h"

#include <QApplication>
#include <QMessageBox>

#include <stdexcept>

ErrorBoxWatch::ErrorBoxWatch()
{
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown_.append(box->text());
            box->done(QMessageBox::Ok);
        }
    });
    poll_.start(100);
}

void ErrorBoxWatch::throwIfShown() const
{
    if (!shown_.isEmpty())
        throw std::runtime_error("the program showed an error: " + shown_.first().toStdString());
}
