#pragma once

#include "RemoteRoute.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Reads N1MM Logger+'s RadioInfo datagrams (XML, root element <RadioInfo>),
// with no socket of its own. IsStereo True implies Rig1+2; otherwise
// FocusRadioNr 1 implies Rig1 and 2 Rig2. A datagram asks for its route only
// when that differs from the route the datagram before it implied, so the
// operator's own clicks stand until the logger changes something. Datagrams
// that are not RadioInfo, malformed or longer than kMaxDatagramSize are
// ignored and change nothing.
class RadioInfoReader {
  public:
    static constexpr qsizetype kMaxDatagramSize = 16 * 1024;

    struct Outcome {
        bool radioInfo = false;           // a well-formed RadioInfo datagram
        std::optional<RemoteRoute> route; // the route it asks for
        QString problem;                  // why a datagram was ignored
    };

    Outcome read(QByteArrayView datagram);

    int activeRadio() const { return activeRadio_; }    // ActiveRadioNr, 0 before any
    bool transmitting() const { return transmitting_; } // IsTransmitting

  private:
    std::optional<RemoteRoute> lastImplied_;
    int activeRadio_ = 0;
    bool transmitting_ = false;
};
