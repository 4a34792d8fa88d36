#include "AboutDlg.h"

#include "AboutForm.h"

#include <QScopeGuard>
#include <QTimer>

TAboutDlg::TAboutDlg(QObject *owner, std::chrono::milliseconds closeDelay)
    : QObject(owner), FCloseDelay(closeDelay)
{
}

TAboutDlg::~TAboutDlg() = default;

void TAboutDlg::Execute()
{
    // Owned by the owner's window: no taskbar entry of its own.
    const auto box = std::make_unique<TAboutBox>(qobject_cast<QWidget *>(parent()));
    FBox = box.get();
    // Runs before the box is released: a close timer left from this display
    // must not fire into the next one.
    const auto endOfDisplay = qScopeGuard([this] {
        FCloseTimer.reset();
        FBox = nullptr;
    });

    box->Fill(FTitle, FProductName, FCopyRight, FProgrammer, FWebSite, FIcon);
    box->CentreOnScreen();
    if (FTimer) {
        FCloseTimer = std::make_unique<QTimer>();
        FCloseTimer->setSingleShot(true);
        FCloseTimer->setInterval(FCloseDelay);
        connect(FCloseTimer.get(), &QTimer::timeout, this, &TAboutDlg::TimerExpired);
        FCloseTimer->start();
    }
    box->exec();
}

void TAboutDlg::TimerExpired()
{
    // The timer itself is released by Execute once the display has ended, not
    // here, inside its own signal.
    if (FCloseTimer)
        FCloseTimer->stop();
    if (FBox)
        FBox->close();
}
