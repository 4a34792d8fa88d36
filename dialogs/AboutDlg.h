#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>

class QTimer;
class TAboutBox;

// Holds the texts and the icon of an About box and shows them, on request, in
// a fresh modal TAboutBox. User-interface thread only.
class TAboutDlg : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Title READ Title WRITE SetTitle)
    Q_PROPERTY(QString ProductName READ ProductName WRITE SetProductName)
    Q_PROPERTY(QString CopyRight READ CopyRight WRITE SetCopyRight)
    Q_PROPERTY(QString Programmer READ Programmer WRITE SetProgrammer)
    Q_PROPERTY(QString WebSite READ WebSite WRITE SetWebSite)
    Q_PROPERTY(QIcon Icon READ Icon WRITE SetIcon)
    Q_PROPERTY(bool Timer READ Timer WRITE SetTimer)

  public:
    // How long a box with Timer set stays before it closes itself.
    static constexpr std::chrono::milliseconds kCloseDelay{15000};

    // `closeDelay` is for tests only; the program keeps kCloseDelay.
    explicit TAboutDlg(QObject *owner = nullptr,
                       std::chrono::milliseconds closeDelay = kCloseDelay);
    ~TAboutDlg() override;

    QString Title() const { return FTitle; }
    void SetTitle(const QString &title) { FTitle = title; }
    QString ProductName() const { return FProductName; }
    void SetProductName(const QString &name) { FProductName = name; }
    QString CopyRight() const { return FCopyRight; }
    void SetCopyRight(const QString &text) { FCopyRight = text; }
    QString Programmer() const { return FProgrammer; }
    void SetProgrammer(const QString &text) { FProgrammer = text; }
    QString WebSite() const { return FWebSite; }
    void SetWebSite(const QString &address) { FWebSite = address; }
    // The component keeps its own copy: later changes to the caller's icon do
    // not reach it.
    QIcon Icon() const { return FIcon; }
    void SetIcon(const QIcon &icon) { FIcon = icon; }
    // True: the box closes itself the close delay after it appeared.
    bool Timer() const { return FTimer; }
    void SetTimer(bool on) { FTimer = on; }

  public slots:
    // Shows a fresh box with the current settings and returns once it has
    // been closed and released. The box and its close timer never outlive the
    // call, also when filling or showing it throws.
    void Execute();
    // The close timer's handler: ends the display as a close would.
    void TimerExpired();

  private:
    QString FProductName;
    QString FCopyRight;
    QString FTitle;
    QString FProgrammer;
    QString FWebSite;
    bool FTimer = false;
    std::chrono::milliseconds FCloseDelay;
    std::unique_ptr<QTimer> FCloseTimer;
    QIcon FIcon;
    QPointer<TAboutBox> FBox;
};
