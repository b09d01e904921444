#pragma once

#include <QByteArrayView>
#include <QString>

// The text Qt's debug stream prints for the object a message parses to,
// "QJsonObject({...})", produced straight from the message's bytes.
// Qt's way (parse, then its JSON writer, then back from UTF-8) costs more
// than the parse itself and would double the time a message takes to reach
// the screen, since its log line comes first.
namespace JsonDebugText {

// `json` must be a message that QJsonDocument parsed into a non-empty object.
// Gives a null string for anything this writer does not reproduce exactly
// (the caller then lets Qt format the object).
QString fromMessage(QByteArrayView json);

} // namespace JsonDebugText
