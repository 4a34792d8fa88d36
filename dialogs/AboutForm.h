#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <memory>

class QKeyEvent;

namespace Ui {
class TAboutBox;
}

// The About box's window: a picture and four lines of text in a panel, and
// OK. Filled by TAboutDlg::Execute for one display and released after it.
class TAboutBox : public QDialog {
    Q_OBJECT

  public:
    explicit TAboutBox(QWidget *parent = nullptr);
    ~TAboutBox() override;

    // Sets the caption, the four labels and the picture. The first two labels
    // take the width of their text; the last two keep their width, wrap at
    // blanks and grow downwards (wider only for a word that does not fit).
    // The icon is shown at its own size, at most 48 x 48, centred.
    // An empty web site leaves its line out, and the box is that much lower.
    void Fill(const QString &title, const QString &productName, const QString &copyRight,
              const QString &programmer, const QString &webSite, const QIcon &icon);
    // Places the box, as filled, in the middle of its screen rather than over
    // its parent window.
    void CentreOnScreen();

  public slots:
    // Ends the display with the OK result.
    void OKButtonClick();

  protected:
    // Esc does nothing: OK, Enter, the close button and the window menu close the box.
    void keyPressEvent(QKeyEvent *event) override;

  private:
    // Where the font is wider than the one the layout was made for (it falls
    // back where that one is not installed), the panel and the window grow so
    // that no text is cut off; without the web-site line they lose its room.
    void FitToTexts();

    std::unique_ptr<Ui::TAboutBox> FUi;
};
