#include "LoggerControlWindow.h"

#include "LoggerControl.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kRefreshMs = 100;
constexpr int kStatusMs = 1000;

QString PortText(quint16 port)
{
    return port == 0 ? QStringLiteral("off") : QStringLiteral("127.0.0.1:%1").arg(port);
}

QString TransmittingText(bool radio1, bool radio2)
{
    if (radio1 && radio2)
        return QStringLiteral("radio 1 and the second radio");
    if (radio1)
        return QStringLiteral("radio 1");
    return radio2 ? QStringLiteral("the second radio") : QStringLiteral("none");
}

QLabel *SelectableLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

LoggerControlWindow::LoggerControlWindow(const LoggerControl &control, QWidget *parent)
    : QWidget(parent, Qt::Window), control_(control), portName_(SelectableLabel(this)),
      tcp_(SelectableLabel(this)), udp_(SelectableLabel(this)), connected_(new QLabel(this)),
      transmitFocus_(new QLabel(this)), rig1_(SelectableLabel(this)), rig2_(SelectableLabel(this)),
      transmitting_(new QLabel(this)), blend_(new QSlider(Qt::Horizontal, this)),
      blendValue_(new QLabel(this)), lines_(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("LoggerControlWindow"));
    setWindowTitle(QStringLiteral("Logger control"));
    portName_->setObjectName(QStringLiteral("PortName"));
    connected_->setObjectName(QStringLiteral("Connected"));
    transmitFocus_->setObjectName(QStringLiteral("TransmitFocus"));
    lines_->setObjectName(QStringLiteral("Lines"));
    lines_->setReadOnly(true);
    lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
    lines_->setMaximumBlockCount(LoggerControl::kLogLines);
    lines_->setFont(QFont(QStringLiteral("Monospace")));
    lines_->setMinimumSize(520, 240);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("OTRSP port for the logger:"), portName_);
    form->addRow(QStringLiteral("OTRSP over TCP:"), tcp_);
    form->addRow(QStringLiteral("N1MM RadioInfo over UDP:"), udp_);
    form->addRow(QStringLiteral("Logger connected:"), connected_);
    form->addRow(QStringLiteral("Transmit focus:"), transmitFocus_);
    rig1_->setObjectName(QStringLiteral("Rig1"));
    rig2_->setObjectName(QStringLiteral("Rig2"));
    transmitting_->setObjectName(QStringLiteral("Transmitting"));
    form->addRow(QStringLiteral("Rig of radio 1:"), rig1_);
    form->addRow(QStringLiteral("Rig of the second radio:"), rig2_);
    form->addRow(QStringLiteral("Transmitting:"), transmitting_);
    blend_->setObjectName(QStringLiteral("Blend"));
    blend_->setRange(0, 100);
    blend_->setPageStep(10);
    blend_->setToolTip(QStringLiteral("How much of the other radio each ear hears in stereo"));
    blendValue_->setObjectName(QStringLiteral("BlendValue"));
    blendValue_->setMinimumWidth(
        blendValue_->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));
    connect(blend_, &QSlider::valueChanged, this, [this](int percent) {
        blendValue_->setText(QStringLiteral("%1 %").arg(percent));
        emit blendChosen(percent);
    });
    blend_->setValue(control.blendPercent());
    blendValue_->setText(QStringLiteral("%1 %").arg(control.blendPercent()));
    connect(&control, &LoggerControl::blendChanged, blend_, &QSlider::setValue);
    auto *blendRow = new QHBoxLayout;
    blendRow->addWidget(blend_, 1);
    blendRow->addWidget(blendValue_);
    form->addRow(QStringLiteral("Blend (other radio in each ear):"), blendRow);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("Lines received (<) and sent (>):"), this));
    layout->addWidget(lines_, 1);

    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &LoggerControlWindow::refresh);
    statusTimer_.setInterval(kStatusMs);
    connect(&statusTimer_, &QTimer::timeout, this, &LoggerControlWindow::scheduleRefresh);
    statusTimer_.start();
    connect(&control, &LoggerControl::logChanged, this, &LoggerControlWindow::scheduleRefresh);
    connect(&control, &LoggerControl::transmitFocusChanged, this,
            &LoggerControlWindow::scheduleRefresh);
    connect(&control, &LoggerControl::transmitChanged, this, &LoggerControlWindow::scheduleRefresh);
    refresh();
}

void LoggerControlWindow::scheduleRefresh()
{
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

void LoggerControlWindow::refresh()
{
    const QString port = control_.otrspPortName();
    const QString status = control_.otrspStatus();
    portName_->setText(port.isEmpty() ? status : port + QStringLiteral("  (") + status + u')');
    tcp_->setText(PortText(control_.tcpPort()));
    udp_->setText(PortText(control_.udpPort()));
    connected_->setText(control_.loggerConnected() ? QStringLiteral("yes") : QStringLiteral("no"));
    transmitFocus_->setText(QStringLiteral("radio %1").arg(control_.transmitFocus()));
    rig1_->setText(control_.rigStatus(1));
    rig2_->setText(control_.rigStatus(2));
    transmitting_->setText(
        TransmittingText(control_.radioTransmitting(1), control_.radioTransmitting(2)));

    QString text;
    for (const LoggerControl::LogEntry &entry : control_.log()) {
        if (!text.isEmpty())
            text += u'\n';
        text += entry.time.toString(QStringLiteral("HH:mm:ss.zzz")) + u' ' +
                (entry.received ? u'<' : u'>') + u' ' + entry.source + QStringLiteral(": ") +
                entry.text;
    }
    if (text == lines_->toPlainText())
        return;
    // At most kLogLines lines, kRefreshMs apart: cheap, and the view stays
    // where the operator scrolled it unless it was following the end.
    QScrollBar *bar = lines_->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    const int kept = bar->value();
    lines_->setPlainText(text);
    bar->setValue(following ? bar->maximum() : kept);
}
