#pragma once

#include <QTimer>
#include <QWidget>

class LoggerControl;
class QLabel;
class QPlainTextEdit;
class QSlider;

// What an operator opens when the logger "does nothing": the port name to
// give the logger, the TCP and UDP settings, whether a logger is connected,
// the transmit focus, the rigs read for transmit and who transmits, the blend slider, and the last
// lines received and sent with their time and source. A window of its own, never modal.
//
// It follows `control` at most ten times a second, whatever the rate of
// lines, so a flood from a logger never holds up the user-interface thread.
class LoggerControlWindow : public QWidget {
    Q_OBJECT

  public:
    // `control` must outlive the window.
    explicit LoggerControlWindow(const LoggerControl &control, QWidget *parent = nullptr);

    // Shows what `control` holds now; run by the window's own timer.
    void refresh();

  signals:
    void blendChosen(int percent); // the operator moved the blend slider

  private:
    void scheduleRefresh();

    const LoggerControl &control_;
    QLabel *portName_;
    QLabel *tcp_;
    QLabel *udp_;
    QLabel *connected_;
    QLabel *transmitFocus_;
    QLabel *rig1_;
    QLabel *rig2_;
    QLabel *transmitting_;
    QSlider *blend_;
    QLabel *blendValue_;
    QPlainTextEdit *lines_;
    QTimer refreshTimer_;
    // Connected now and then: "lately" ends with no line to announce it.
    QTimer statusTimer_;
};
