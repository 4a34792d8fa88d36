#include "LedBtn.h"

#include "SoundPlayer.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPointer>
#include <qdrawutil.h>

#include <algorithm>
#include <optional>

namespace {

constexpr int kLampLeft = 7;
// Between the face's edge and the taller of lamp and caption in a size hint.
constexpr int kFaceMargin = 4;
const QRgb kKeyColour = qRgb(255, 255, 0);
const QColor kDisabledCaption(128, 128, 128);

// The beep of a click without a sound file. Negative results compare as large
// unsigned numbers and so fall among the silent ones.
std::optional<SoundPlayer::Beep> BeepFor(int modalResult)
{
    using Beep = SoundPlayer::Beep;
    switch (static_cast<unsigned>(modalResult)) {
    case 1: // OK
    case 6: // Yes
    case 8:
    case 10:
        return Beep::Ok;
    case 2: // Cancel
    case 3: // Abort
        return Beep::Exclamation;
    case 4: // Retry
    case 5: // Ignore
        return Beep::Question;
    case 7: // No
    case 9:
        return Beep::Hand;
    default:
        return std::nullopt;
    }
}

// `picture` with its yellow background replaced by `face`.
QImage KeyedOut(const QImage &picture, QColor face)
{
    QImage keyed = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb faceRgb = face.rgb();
    for (int y = 0; y < keyed.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x)
            if ((line[x] & RGB_MASK) == (kKeyColour & RGB_MASK))
                line[x] = faceRgb;
    }
    return keyed;
}

// A dotted rectangle one pixel wide along the inside of `r`.
void DrawDottedRect(QPainter &painter, const QRect &r, QColor colour)
{
    const QBrush dots(colour, Qt::Dense4Pattern);
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), dots);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), dots);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), dots);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), dots);
}

} // namespace

TLedButton::TLedButton(QWidget *parent) : QPushButton(parent)
{
    resize(85, 25);
    // Mouse moves over the button are watched also while no mouse button is held.
    setMouseTracking(true);
    // Only a left press takes the focus (mousePressEvent); a right or middle one leaves it.
    setFocusPolicy(Qt::TabFocus);
    // A right press is the button's own toggle; it must not also reach the
    // window as a request for its context menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
    LoadLedImages();
    StoreIsActive(false);
    // Connected first, so the sound comes before every other receiver of clicked().
    connect(this, &QAbstractButton::clicked, this, &TLedButton::Click);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { FocusChanged(now); });
}

void TLedButton::SetSoundFile(const QString &value)
{
    FSoundFile = value;
    PlaySoundFile(QString());
}

void TLedButton::SetLEDType(TLEDType value)
{
    if (value == FLEDType)
        return;
    FLEDType = value;
    LoadLedImages();
    updateGeometry();
    repaint();
}

void TLedButton::SetStyle(TButtonStyle value)
{
    if (value == FStyle)
        return;
    FStyle = value;
    update();
}

void TLedButton::SetCaption3D(bool value)
{
    if (value == FCaption3D)
        return;
    FCaption3D = value;
    repaint();
}

void TLedButton::SetIsActive(bool value)
{
    if (!isEnabled())
        return;
    FHot = true;
    FDown = true;
    StoreIsActive(value);
    repaint();
    if (!value)
        FDown = false;
    repaint();
}

int TLedButton::LampNumber(TLEDType type)
{
    switch (type) {
    case TriLEDDown:
        return 1;
    case TriLEDUp:
        return 2;
    case RedLed:
        return 4;
    case RoundLED:
        break;
    }
    return 3;
}

void TLedButton::StoreIsActive(bool value)
{
    FIsActive = value;
    // Screen readers tell the state that the lamp shows.
    setAccessibleDescription(value ? tr("on") : tr("off"));
}

void TLedButton::Click()
{
    if (!isEnabled())
        return;
    if (!FSoundFile.isEmpty())
        PlaySoundFile(FSoundFile);
    else if (const auto beep = BeepFor(FModalResult))
        Player().PlayBeep(*beep);
    // A modal dialog ends with the button's result once the click has been handled.
    auto *dialog = qobject_cast<QDialog *>(window());
    if (FModalResult != 0 && dialog && dialog->isModal()) {
        QMetaObject::invokeMethod(
            dialog, [dialog, result = FModalResult] { dialog->done(result); },
            Qt::QueuedConnection);
    }
}

void TLedButton::PlaySoundFile(const QString &name)
{
    if (name.isEmpty())
        Player().StopFile();
    else
        Player().PlayFile(name);
}

void TLedButton::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position)
{
    FHot = true;
    FDown = true;
    StoreIsActive(!FIsActive);
    repaint();
    emit OnMouseDown(button, shift, position);
}

void TLedButton::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position)
{
    if (!FIsActive)
        FDown = false;
    repaint();
    emit OnMouseUp(button, shift, position);
}

void TLedButton::SetDefaultLook(bool value)
{
    if (value == FDefaultLook)
        return;
    FDefaultLook = value;
    repaint();
}

// The window's active push button is the push button holding the focus; while
// the focus is on another kind of control, it is the window's default button.
void TLedButton::FocusChanged(QWidget *now)
{
    if (!now || now->window() != window())
        return;
    SetDefaultLook(now == this || (!qobject_cast<QPushButton *>(now) && isDefault()));
}

// Qt delivers no mouse events to a disabled widget, so the handlers below only
// run on an enabled button; entering and leaving arrive either way.
void TLedButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    if (!isEnabled() || FIsActive)
        return;
    FHot = true;
    repaint();
}

void TLedButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    if (!isEnabled() || FIsActive)
        return;
    FHot = false;
    repaint();
}

void TLedButton::mouseMoveEvent(QMouseEvent *event)
{
    if (!FHot && rect().contains(event->position().toPoint())) {
        FHot = true;
        repaint();
    }
    QPushButton::mouseMoveEvent(event);
}

void TLedButton::mousePressEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton && window()->focusWidget() != this) {
        // A left press takes the focus first; a press that cannot take it is dropped.
        setFocus(Qt::MouseFocusReason);
        if (window()->focusWidget() != this)
            return;
    }
    FDown = false;
    if (button == Qt::LeftButton)
        QPushButton::mousePressEvent(event); // the pressed face, painted at once
    MouseDown(button, event->modifiers(), event->position().toPoint());
    event->accept();
}

void TLedButton::mouseReleaseEvent(QMouseEvent *event)
{
    const QPointer<TLedButton> alive(this);
    // A left release over the button clicks it, ahead of MouseUp.
    if (event->button() == Qt::LeftButton)
        QPushButton::mouseReleaseEvent(event);
    if (!alive)
        return;
    MouseUp(event->button(), event->modifiers(), event->position().toPoint());
    event->accept();
}

void TLedButton::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void TLedButton::changeEvent(QEvent *event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        LoadLedImages();
}

QSize TLedButton::sizeHint() const
{
    const QSize lamp = FLedImages[Dark][Single].size();
    const QFontMetrics metrics = fontMetrics();
    const int width = kLampLeft + lamp.width() + metrics.horizontalAdvance(text()) + kLampLeft;
    const int height = std::max(lamp.height(), metrics.height()) + 2 * kFaceMargin;
    return QSize(width, height).expandedTo(QSize(85, 25));
}

void TLedButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    DrawButton(painter);
}

void TLedButton::DrawButton(QPainter &painter)
{
    const QPalette &colours = palette();
    const QColor face = colours.color(QPalette::Active, QPalette::Button);
    const QColor shadow = colours.color(QPalette::Active, QPalette::Dark);
    const QColor highlight = colours.color(QPalette::Active, QPalette::Light);
    const QColor frame = colours.color(QPalette::Active, QPalette::Shadow);
    const bool focused = hasFocus();

    QRect r = rect();
    painter.setBrush(Qt::NoBrush);
    if (FDefaultLook || focused) {
        painter.setPen(frame);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    painter.setPen(shadow);
    painter.setBrush(face);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    if (!isDown()) {
        QPalette frameColours = colours;
        frameColours.setCurrentColorGroup(isEnabled() ? QPalette::Active : QPalette::Disabled);
        qDrawWinButton(&painter, r, frameColours, false);
    }

    painter.setFont(font());
    const Look look = !FHot ? Dark : FDown ? Lit : Glowing;
    // The device painted on, also when the button is rendered into an image of its own scale.
    const QPaintDevice *target =
        painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    // Screens scaled to twice the size or more get the finer drawing of the same lamp.
    const bool fine = (target ? target : painter.device())->devicePixelRatio() >= 1.5;
    const QImage &lamp = FLedImages[look][fine ? Double : Single];
    const QSize lampSize = lamp.deviceIndependentSize().toSize();
    painter.drawImage(QPoint(kLampLeft, (height() - lampSize.height()) / 2), lamp);

    const QString caption = text();
    const QFontMetrics metrics = fontMetrics();
    const int captionLeft = kLampLeft + lampSize.width();
    const int captionTop = (height() - metrics.height()) / 2;
    const QColor captionColour =
        isEnabled() ? colours.color(QPalette::Active, foregroundRole()) : kDisabledCaption;
    if (!FCaption3D) {
        painter.fillRect(
            QRect(captionLeft, captionTop, metrics.horizontalAdvance(caption), metrics.height()),
            face);
        painter.setPen(captionColour);
        painter.drawText(QPoint(captionLeft, captionTop + metrics.ascent()), caption);
    } else {
        const QRect area(captionLeft, captionTop, width(), height());
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
        painter.setPen(shadow);
        painter.drawText(area.translated(1, 1), flags, caption);
        painter.setPen(highlight);
        painter.drawText(area.translated(-1, -1), flags, caption);
        painter.setPen(captionColour);
        painter.drawText(area, flags, caption);
    }

    if (FDefaultLook && focused)
        DrawDottedRect(painter, rect().adjusted(4, 4, -4, -4), frame);
}

SoundPlayer &TLedButton::Player() const
{
    return FSoundPlayer ? *FSoundPlayer : SystemSoundPlayer();
}

void TLedButton::LoadLedImages()
{
    const QColor face = palette().color(QPalette::Active, QPalette::Button);
    const char *const names[kLooks] = {"OFF", "ON", "DOWN"};
    for (int look = 0; look < kLooks; ++look) {
        const QString name =
            QStringLiteral(":/leds/%1%2").arg(QLatin1String(names[look])).arg(LampNumber(FLEDType));
        const QImage single = KeyedOut(QImage(name + QStringLiteral(".bmp")), face);
        QImage fine = KeyedOut(QImage(name + QStringLiteral("@2x.bmp")), face);
        fine.setDevicePixelRatio(2.0);
        FLedImages[look][Single] = single;
        FLedImages[look][Double] = fine.isNull() ? single : fine;
    }
}
