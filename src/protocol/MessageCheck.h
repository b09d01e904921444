#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <QStringList>

// What the display cannot use as a terminal sent it, said so that the sender
// can mend it: one line per problem, naming the key, what the display reads
// there and what came. A sound message gives nothing. The display logs these
// as warnings; qv4-terminal-sim --check prints the same lines before sending.
// The display still applies a message with problems as it always did: this
// only tells.
namespace MessageCheck {

// Lines for one message beyond this are summed up in one more line.
constexpr int maxProblems = 10;

// For a text frame, which the display never reads.
QString textFrameProblem();

// The whole check of a message's bytes.
QStringList check(const QByteArray &message);

// The check of a message that did not parse (`error` as Qt's parser gave it)
// or whose top level is not an object.
QString parseProblem(const QByteArray &message, const QJsonParseError &error);

// The check of a message that parsed into `object`.
QStringList checkObject(const QJsonObject &object);

} // namespace MessageCheck
