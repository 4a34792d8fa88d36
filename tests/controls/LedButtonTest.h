#pragma once

#include "LedBtn.h"
#include "RecordingSoundPlayer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '{' << texts.join(QStringLiteral(", ")).toStdString() << '}';
}

// The colours every LED button test paints with, distinct from one another.
struct TestColours {
    static constexpr QRgb face = 0xffc0c0c0;
    static constexpr QRgb highlight = 0xffffffff;
    static constexpr QRgb shadow = 0xff646464;
    static constexpr QRgb frame = 0xff000000;
    static constexpr QRgb text = 0xff102030;
    static constexpr QRgb disabledText = 0xff808080;
};

// A shown, active window holding the LED button under test (85 x 25 at 10, 10),
// a plain push button and a line edit; the button sounds through `sounds`.
class LedButtonTest : public testing::Test {
  protected:
    void SetUp() override;

    // The button as painted now.
    QImage Render() const;
    // The look of the lamp in the painted button: "OFF", "ON", "DOWN", or "?"
    // when its place shows none of the three pictures.
    QString Look() const;
    // Paint events the button received since the last call (Render() adds some).
    int TakePaints();

    void Enter();
    void Leave();

    RecordingSoundPlayer sounds;
    std::unique_ptr<QWidget> window;
    TLedButton *button = nullptr;
    QPushButton *other = nullptr;
    QLineEdit *edit = nullptr;
    std::unique_ptr<QSignalSpy> clicks;

  private:
    int paints_ = 0;
};

// A lamp picture as the button shows it: the yellow background in the face colour.
QImage LampPicture(const QString &name);
// The place of `picture` in `image` at `topLeft` shows the picture pixel for pixel.
bool ShowsPicture(const QImage &image, QPoint topLeft, const QImage &picture);
