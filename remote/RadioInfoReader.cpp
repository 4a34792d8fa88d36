#include "RadioInfoReader.h"

#include <QXmlStreamReader>

namespace {

bool isTrue(const QString &text)
{
    return text.trimmed().compare(u"true", Qt::CaseInsensitive) == 0;
}

struct Fields {
    std::optional<bool> stereo;
    std::optional<int> focusRadio;
    int activeRadio = 0;
    bool transmitting = false;
};

std::optional<RemoteRoute> impliedRoute(const Fields &fields)
{
    if (fields.stereo.value_or(false))
        return RemoteRoute::Stereo;
    if (fields.focusRadio == 1)
        return RemoteRoute::Rig1;
    if (fields.focusRadio == 2)
        return RemoteRoute::Rig2;
    return std::nullopt;
}

} // namespace

RadioInfoReader::Outcome RadioInfoReader::read(QByteArrayView datagram)
{
    Outcome outcome;
    if (datagram.size() > kMaxDatagramSize) {
        outcome.problem = QStringLiteral("ignored: %1 bytes, more than a RadioInfo datagram holds")
                              .arg(datagram.size());
        return outcome;
    }
    QXmlStreamReader xml(datagram.toByteArray());
    if (!xml.readNextStartElement()) {
        outcome.problem = QStringLiteral("ignored: not XML");
        return outcome;
    }
    if (xml.name().compare(u"RadioInfo", Qt::CaseInsensitive) != 0)
        return outcome; // another of N1MM's datagrams on the same port

    Fields fields;
    while (!xml.hasError() && xml.readNextStartElement()) {
        const auto name = xml.name();
        const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements);
        bool number = false;
        if (name.compare(u"IsStereo", Qt::CaseInsensitive) == 0) {
            fields.stereo = isTrue(text);
        } else if (name.compare(u"FocusRadioNr", Qt::CaseInsensitive) == 0) {
            const int radio = text.trimmed().toInt(&number);
            if (number)
                fields.focusRadio = radio;
        } else if (name.compare(u"ActiveRadioNr", Qt::CaseInsensitive) == 0) {
            const int radio = text.trimmed().toInt(&number);
            fields.activeRadio = number ? radio : 0;
        } else if (name.compare(u"IsTransmitting", Qt::CaseInsensitive) == 0) {
            fields.transmitting = isTrue(text);
        }
    }
    if (!xml.hasError()) {
        // Past the root's end: anything but white space and comments is an error.
        while (!xml.atEnd())
            xml.readNext();
    }
    if (xml.hasError()) {
        outcome.problem = QStringLiteral("ignored: malformed XML (%1)").arg(xml.errorString());
        return outcome;
    }

    outcome.radioInfo = true;
    activeRadio_ = fields.activeRadio;
    transmitting_ = fields.transmitting;
    const auto implied = impliedRoute(fields);
    if (implied != lastImplied_ && implied)
        outcome.route = implied;
    lastImplied_ = implied;
    return outcome;
}
