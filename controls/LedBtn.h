#pragma once

#include <QImage>
#include <QPushButton>
#include <QString>

#include <array>
#include <cstdint>

class SoundPlayer;

// A push button with a small lamp picture (an LED) at its left edge and its
// caption to the right of the lamp.
//
// The lamp has three looks: dark, glowing (FHot) and lit (FHot and FDown).
// Pointing at the button makes it glow; any mouse button pressed on it lights
// it and flips IsActive; releasing leaves it lit only while IsActive holds.
// Only a left release over the button, or a keyboard activation (space bar or
// Enter on the focused button), clicks it: a right or middle press flips
// IsActive without a click, and a keyboard activation clicks without flipping
// IsActive.
//
// A click plays SoundFile when one is set, otherwise the system beep that goes
// with ModalResult, then emits clicked(). A disabled button ignores every event
// and SetIsActive, but keeps and shows its lamp as it was. A double click
// counts as a second press (Qt hands it to mousePressEvent).
//
// Everything runs on the user-interface thread. "Repaints at once" below means
// the button is painted before the call returns (when it is shown); "schedules
// a repaint" means at the next paint cycle.
class TLedButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString SoundFile READ GetSoundFile WRITE SetSoundFile)
    Q_PROPERTY(TLEDType LEDType READ LEDType WRITE SetLEDType)
    Q_PROPERTY(TButtonStyle Style READ Style WRITE SetStyle)
    Q_PROPERTY(bool Caption3D READ Caption3D WRITE SetCaption3D)
    Q_PROPERTY(bool IsActive READ IsActive WRITE SetIsActive)
    Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)

  public:
    enum TLEDType : std::uint8_t {
        RoundLED,   // round blue lamp
        TriLEDDown, // blue triangle, point down
        TriLEDUp,   // blue triangle, point up
        RedLed,     // round red lamp
    };
    Q_ENUM(TLEDType)

    // Stored and kept for layouts that set it; the drawing does not depend on it.
    enum TButtonStyle : std::uint8_t { bsAutoDetect, bsWin31, bsNew };
    Q_ENUM(TButtonStyle)

    // A new button is 85 x 25 pixels, dark, inactive, with a RoundLED lamp.
    explicit TLedButton(QWidget *parent = nullptr);

    QString GetSoundFile() const { return FSoundFile; }
    // Stops the sound file that is playing (any button's); plays nothing.
    void SetSoundFile(const QString &value);

    TLEDType LEDType() const { return FLEDType; }
    // A new lamp repaints at once, dark; the same lamp again does nothing.
    void SetLEDType(TLEDType value);

    TButtonStyle Style() const { return FStyle; }
    // Schedules a repaint when changed.
    void SetStyle(TButtonStyle value);

    bool Caption3D() const { return FCaption3D; }
    // An embossed, word-wrapped caption instead of one plain line; repaints at once when changed.
    void SetCaption3D(bool value);

    bool IsActive() const { return FIsActive; }
    // Lights the lamp, repaints at once and, when `value` is false, repaints at
    // once again with the lamp glowing. Ignored while the button is disabled.
    void SetIsActive(bool value);

    // The result a click gives a modal dialog holding the button (0: none); it
    // also chooses the beep of a click without a sound file.
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int value) { FModalResult = value; }

    // The sounds of this button; nullptr restores the shared system player.
    // The player must outlive the button.
    void SetSoundPlayer(SoundPlayer *player) { FSoundPlayer = player; }

    // The number n in the names of the pictures of `type`: "OFF"n (dark),
    // "ON"n (glowing) and "DOWN"n (lit), found as :/leds/<name>.bmp.
    static int LampNumber(TLEDType type);

    // Room for the lamp and a one-line caption, never less than a new button's 85 x 25.
    QSize sizeHint() const override;

  signals:
    // Any mouse button pressed or released on an enabled button, after the lamp changed.
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);

  protected:
    // The reaction to every click the button reports (a left release over it,
    // a keyboard activation, click()): the sound, then the modal result. It
    // runs before any other receiver of clicked().
    virtual void Click();
    // Plays `name` in the background, cutting off the file playing before;
    // an empty name only stops it.
    void PlaySoundFile(const QString &name);
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);
    // Paints the whole button on `painter`: frame, face, lamp, caption, focus rectangle.
    void DrawButton(QPainter &painter);
    // True while this is the window's active push button (see FocusChanged).
    void SetDefaultLook(bool value);

    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Enter without Shift, Ctrl or Alt clicks the focused button, also outside
    // a dialog, where a plain push button ignores it.
    void keyPressEvent(QKeyEvent *event) override;
    // A new palette brings a new face colour for the lamp's background.
    void changeEvent(QEvent *event) override;

  private:
    enum Look { Dark, Glowing, Lit, kLooks };
    enum Scale { Single, Double, kScales };

    void FocusChanged(QWidget *now);
    void StoreIsActive(bool value);
    SoundPlayer &Player() const;
    // Loads the current lamp's pictures, their yellow background in the face colour.
    void LoadLedImages();

    QString FSoundFile;
    bool FCaption3D = false;
    TButtonStyle FStyle = bsAutoDetect;
    // The current lamp in each look, at single and double scale, ready to draw.
    std::array<std::array<QImage, kScales>, kLooks> FLedImages;
    TLEDType FLEDType = RoundLED;
    bool FDefaultLook = false;
    bool FHot = false;      // the lamp shows light
    bool FDown = false;     // the lamp is fully lit
    bool FIsActive = false; // the button is "on"
    int FModalResult = 0;
    SoundPlayer *FSoundPlayer = nullptr;
};
