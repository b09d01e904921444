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
//
// One scanner reads the bytes, either writing exactly what Qt would or only
// counting it; the tests compare every form with Qt's own text.
namespace JsonDebugText {

// `json` must be a message that QJsonDocument parsed into a non-empty object:
// any bytes are read safely, but what Qt's parser refuses (broken UTF-8, bad
// escape digits) is not checked again, and the text for it means nothing.
// Gives a null string for anything this writer does not reproduce exactly
// (the caller then lets Qt format the object). `before`, when given, is put
// in front, so that a whole log line takes one buffer.
//
// A text past `limit` bytes of UTF-8 (beyond `before`; -1: a few times the
// cap) is not written: the result is then null too.
QString fromMessage(QByteArrayView json, QLatin1StringView before = {}, qsizetype limit = -1);

// A log line's text stops at this many bytes of UTF-8, followed by moreText().
constexpr qsizetype maxTextBytes = 64 * 1024;

// Qt's debug text of `object`, after `before`, exact up to `maxBytes` bytes of
// UTF-8 (never splitting a character), then moreText() of the rest; the walk
// stops there, so the cost stays that of the kept text whatever the object holds.
// `totalBytes`, when known (textBytes() of the message), is the length of
// the whole; otherwise Qt's writer tells it.
QString fromObject(const QJsonObject &object, QLatin1StringView before, qsizetype maxBytes = maxTextBytes,
                   qint64 totalBytes = -1);

// The UTF-8 bytes of the text fromMessage() writes for `json` (a message
// that parsed into an object), without holding any of it; duplicate keys
// are counted as often as they came.
qint64 textBytes(QByteArrayView json);

// " … (N more bytes)": what ends a line that was cut.
QString moreText(qint64 bytes);

} // namespace JsonDebugText
