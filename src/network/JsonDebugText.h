#pragma once

#include <QByteArrayView>
#include <QJsonObject>
#include <QLatin1StringView>
#include <QString>

// The text Qt's debug stream prints for the object a message parses to,
// "QJsonObject({...})", produced straight from the message's bytes.
// Qt's way (parse, then its JSON writer, then back from UTF-8) costs more
// than the parse itself and would double the time a message takes to reach
// the screen, since its log line comes first.
namespace JsonDebugText {

// A log line's text stops at this many bytes of UTF-8, followed by moreText().
constexpr qsizetype maxTextBytes = 64 * 1024;

// Qt's debug text of the object `json` parses to, after `before`, kept to
// `maxBytes` bytes of UTF-8 (never splitting a character), then moreText()
// of the rest. `json` must be a message that QJsonDocument parsed into a
// non-empty object: any bytes are read safely, but what Qt's parser refuses
// (broken UTF-8, bad escape digits) is not checked again, and the text for
// it means nothing. Gives a null string for anything this writer does not
// reproduce exactly, and for texts of megabytes; fromObject() writes those.
QString fromMessage(QByteArrayView json, QLatin1StringView before = {}, qsizetype maxBytes = maxTextBytes);

// The same text of a parsed object, by Qt's own writer.
QString fromObject(const QJsonObject &object, QLatin1StringView before = {},
                   qsizetype maxBytes = maxTextBytes);

// " … (N more bytes)": what ends a line that was cut.
QString moreText(qint64 bytes);

} // namespace JsonDebugText
