#include "LinkLog.h"

#include <QHostAddress>
#include <QWebSocket>

Q_LOGGING_CATEGORY(lcLink, "qv4.link", QtWarningMsg)

namespace LinkLog {

QString peerName(const QHostAddress &address, quint16 port)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QString host = mapped ? QHostAddress(v4).toString() : address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !mapped)
        return QStringLiteral("[%1]:%2").arg(host).arg(port);
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

QString peerName(const QWebSocket *socket)
{
    return socket ? peerName(socket->peerAddress(), socket->peerPort()) : QStringLiteral("?");
}

} // namespace LinkLog
