#include "LedButtonShots.h"

#include "LedBtn.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QGridLayout>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include <functional>

namespace {

// The lamp types and the three looks, each made the way a user makes it.
const std::pair<TLedButton::TLEDType, const char *> kLamps[] = {
    {TLedButton::RoundLED, "RoundLED"},
    {TLedButton::TriLEDDown, "TriLEDDown"},
    {TLedButton::TriLEDUp, "TriLEDUp"},
    {TLedButton::RedLed, "RedLed"},
};

void PointAt(TLedButton &button)
{
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &event);
}

const std::pair<const char *, std::function<void(TLedButton &)>> kLooks[] = {
    {"dark", [](TLedButton &) {}},
    {"glowing", PointAt},
    {"lit", [](TLedButton &button) { button.SetIsActive(true); }},
};

QImage Grab(QWidget &widget, qreal scale)
{
    QImage image(widget.size() * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    return image;
}

// `image` enlarged `factor` times without smoothing, to look at single pixels.
QImage Enlarged(const QImage &image, int factor)
{
    return image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// A window of LED buttons, one per lamp (rows) and look (columns), of `size`;
// with captions naming the look when `captions`.
QImage LampSheet(QSize size, bool captions, qreal scale, const QPalette &palette)
{
    QWidget window;
    window.setPalette(palette);
    auto *grid = new QGridLayout(&window);
    grid->setSpacing(2);
    std::vector<TLedButton *> buttons;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) {
            auto *button = new TLedButton(&window);
            button->setFixedSize(size);
            button->SetLEDType(kLamps[row].first);
            if (captions)
                button->setText(QString::fromLatin1(kLooks[column].first));
            grid->addWidget(button, row, column);
            buttons.push_back(button);
        }
    }
    window.show();
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 3; ++column)
            kLooks[column].second(*buttons[static_cast<size_t>(row * 3 + column)]);
    return Grab(window, scale);
}

// The colours of the classic desktop the lamps were drawn for.
QPalette ClassicPalette()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::Button, QColor(192, 192, 192));
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Dark, QColor(128, 128, 128));
    palette.setColor(QPalette::Shadow, Qt::black);
    return palette;
}

// The states of one button the operator meets.
QImage StateSheet()
{
    QWidget window;
    auto *grid = new QGridLayout(&window);
    const QSize plain(85, 25);
    const struct {
        const char *caption;
        QSize size;
        std::function<void(TLedButton &)> make;
    } states[] = {
        {"New", plain, [](TLedButton &) {}},
        {"Active", plain, [](TLedButton &b) { b.SetIsActive(true); }},
        {"Pressed", plain,
         [](TLedButton &b) {
             // A right press lights the lamp without taking the focus from "Focused".
             QTest::mousePress(&b, Qt::RightButton, {}, {30, 12});
             b.setDown(true);
         }},
        {"Disabled", plain, [](TLedButton &b) { b.setEnabled(false); }},
        {"Focused", plain, [](TLedButton &b) { b.setFocus(); }},
        {"Embossed caption", {73, 49}, [](TLedButton &b) { b.SetCaption3D(true); }},
        {"Power",
         {73, 57},
         [](TLedButton &b) {
             b.SetLEDType(TLedButton::RedLed);
             b.SetIsActive(true);
         }},
    };
    std::vector<TLedButton *> buttons;
    for (const auto &state : states) {
        auto *button = new TLedButton(&window);
        button->setText(QString::fromLatin1(state.caption));
        button->setFixedSize(state.size);
        const int index = static_cast<int>(buttons.size());
        grid->addWidget(button, index / 4, index % 4);
        buttons.push_back(button);
    }
    grid->addWidget(new QLineEdit(&window), 2, 0);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        qWarning("the window did not become active: no focus shown");
    for (size_t i = 0; i < buttons.size(); ++i)
        states[i].make(*buttons[i]);
    QCoreApplication::processEvents();
    return Grab(window, 1.0);
}

} // namespace

bool renderLedButtonShots(const QString &folder)
{
    const QDir dir(folder);
    const QPalette palette = QApplication::palette();
    const QImage lamps = LampSheet({73, 49}, true, 1.0, palette);
    const QImage pictures = LampSheet({30, 20}, false, 1.0, ClassicPalette());
    const QImage states = StateSheet();
    return lamps.save(dir.filePath("led-lamps.png")) &&
           LampSheet({73, 49}, true, 2.0, palette).save(dir.filePath("led-lamps-hidpi.png")) &&
           Enlarged(pictures, 8).save(dir.filePath("led-lamps-classic-x8.png")) &&
           Enlarged(LampSheet({30, 20}, false, 2.0, ClassicPalette()), 4)
               .save(dir.filePath("led-lamps-classic-hidpi-x4.png")) &&
           states.save(dir.filePath("led-buttons.png")) &&
           Enlarged(states, 3).save(dir.filePath("led-buttons-x3.png"));
}
