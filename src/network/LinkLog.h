#pragma once

#include <QLoggingCategory>
#include <QString>

class QAbstractSocket;
class QHostAddress;
class QWebSocket;

// Warnings about the terminal link that an integrator can act on: peers coming
// and going, and messages the display cannot use as sent. Hidden with
// QT_LOGGING_RULES="qv4.link.warning=false".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

namespace LinkLog {
// "address:port" of a peer, an IPv4-mapped IPv6 address in its IPv4 form.
QString peerName(const QHostAddress &address, quint16 port);
QString peerName(const QWebSocket *socket);
} // namespace LinkLog
