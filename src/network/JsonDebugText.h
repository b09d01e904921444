#pragma once

#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>

// The text Qt's debug stream prints for the object a message parses to,
// "QJsonObject({...})", produced straight from the message's bytes.
// Qt's way (parse, then its JSON writer, then back from UTF-8) costs more
// than the parse itself and would double the time a message takes to reach
// the screen, since its log line comes first.
namespace JsonDebugText {

// `json` must be a message that QJsonDocument parsed into a non-empty object.
// Gives a null string for anything this writer does not reproduce exactly
// (the caller then lets Qt format the object). `before`, when given, is put
// in front, so that a whole log line takes one buffer.
QString fromMessage(QByteArrayView json, QLatin1StringView before = {});

} // namespace JsonDebugText
