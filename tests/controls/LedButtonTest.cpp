#include "LedButtonTest.h"

#include <QCursor>
#include <QEnterEvent>
#include <QTest>

namespace {

class PaintCounter : public QObject {
  public:
    explicit PaintCounter(int &count, QObject *parent) : QObject(parent), count_(count) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count_;
        return false;
    }

  private:
    int &count_;
};

} // namespace

void LedButtonTest::SetUp()
{
    window = std::make_unique<QWidget>();
    QPalette palette = window->palette();
    palette.setColor(QPalette::Button, QColor::fromRgb(TestColours::face));
    palette.setColor(QPalette::Light, QColor::fromRgb(TestColours::highlight));
    palette.setColor(QPalette::Dark, QColor::fromRgb(TestColours::shadow));
    palette.setColor(QPalette::Shadow, QColor::fromRgb(TestColours::frame));
    palette.setColor(QPalette::ButtonText, QColor::fromRgb(TestColours::text));
    window->setPalette(palette);
    window->setGeometry(100, 100, 300, 200);
    // Away from the window, so that no earlier test leaves the pointer over the button.
    QCursor::setPos(0, 0);
    button = new TLedButton(window.get());
    button->move(10, 10);
    button->setText(QStringLiteral("Rig1"));
    button->SetSoundPlayer(&sounds);
    other = new QPushButton(QStringLiteral("Other"), window.get());
    other->move(10, 60);
    edit = new QLineEdit(window.get());
    edit->move(10, 110);
    clicks = std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked);
    button->installEventFilter(new PaintCounter(paints_, button));
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    edit->setFocus();
    QCoreApplication::processEvents();
    TakePaints();
}

QImage LedButtonTest::Render() const
{
    QImage image(button->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    button->render(&image);
    return image;
}

QString LedButtonTest::Look() const
{
    const QImage image = Render();
    const int number = TLedButton::LampNumber(button->LEDType());
    for (const char *look : {"OFF", "ON", "DOWN"}) {
        const QImage picture = LampPicture(QStringLiteral("%1%2").arg(look).arg(number));
        // The top and bottom rows may carry the dots of the focus rectangle.
        const QImage body = picture.copy(0, 1, picture.width(), picture.height() - 2);
        const QPoint place(7, (button->height() - picture.height()) / 2 + 1);
        if (ShowsPicture(image, place, body))
            return QString::fromLatin1(look);
    }
    return QStringLiteral("?");
}

int LedButtonTest::TakePaints()
{
    return std::exchange(paints_, 0);
}

void LedButtonTest::Enter()
{
    const QPointF inside(5, 5);
    QEnterEvent event(inside, button->mapTo(window.get(), inside), button->mapToGlobal(inside));
    QCoreApplication::sendEvent(button, &event);
}

void LedButtonTest::Leave()
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(button, &event);
}

QImage LampPicture(const QString &name)
{
    QImage picture =
        QImage(QStringLiteral(":/leds/%1.bmp").arg(name)).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) == qRgb(255, 255, 0))
                picture.setPixel(x, y, TestColours::face);
    }
    return picture;
}

bool ShowsPicture(const QImage &image, QPoint topLeft, const QImage &picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QPoint at = topLeft + QPoint(x, y);
            if (image.rect().contains(at) && image.pixel(at) != picture.pixel(x, y))
                return false;
        }
    }
    return !picture.isNull();
}
