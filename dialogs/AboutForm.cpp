#include "AboutForm.h"

#include "ui_AboutForm.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>

namespace {

void setOneLine(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
}

// Keeps the label's width from the layout, unless a single word is wider,
// and makes it as high as the wrapped text needs.
void setWrapped(QLabel *label, const QString &text)
{
    label->setText(text);
    const QFontMetrics metrics(label->font());
    int width = label->width();
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const QString &word : text.split(blanks, Qt::SkipEmptyParts))
        width = std::max(width, metrics.horizontalAdvance(word));
    label->resize(width, label->heightForWidth(width));
}

} // namespace

TAboutBox::TAboutBox(QWidget *parent) : QDialog(parent), FUi(std::make_unique<Ui::TAboutBox>())
{
    FUi->setupUi(this);
    setFixedSize(size());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    connect(FUi->OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::Fill(const QString &title, const QString &productName, const QString &copyRight,
                     const QString &programmer, const QString &webSite, const QIcon &icon)
{
    setWindowTitle(title);
    setOneLine(FUi->ProductName, productName);
    setOneLine(FUi->Copyright, copyRight);
    setWrapped(FUi->Programmer, programmer);
    setWrapped(FUi->Website, webSite);
    FUi->Website->setVisible(!webSite.isEmpty());

    const QSize frame = FUi->Image1->size();
    FUi->Image1->setPixmap(icon.pixmap(icon.actualSize(frame), devicePixelRatio()));
    FitToTexts();
}

void TAboutBox::FitToTexts()
{
    QFrame *panel = FUi->Panel1;
    const int margin = FUi->Panel2->x();
    const int lineLeftOut = FUi->Website->isHidden() ? FUi->Website->y() - FUi->Programmer->y() : 0;
    const QRect used = panel->childrenRect(); // of the labels shown
    const QSize needed(std::max(panel->width(), used.right() + 1 + margin),
                       std::max(panel->height() - lineLeftOut, used.bottom() + 1 + margin));
    const QSize growth = needed - panel->size();
    if (growth.isNull())
        return;
    panel->resize(needed);
    FUi->OKButton->move(FUi->OKButton->pos() + QPoint(growth.width() / 2, growth.height()));
    setFixedSize(size() + growth);
}

void TAboutBox::CentreOnScreen()
{
    QRect placed = rect();
    placed.moveCenter(screen()->geometry().center());
    setGeometry(placed); // the client area: a frame's size is not known before it is shown
}

void TAboutBox::OKButtonClick()
{
    accept();
}

void TAboutBox::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel))
        return;
    QDialog::keyPressEvent(event);
}
