#pragma once

#include <QHostAddress>
#include <QList>

// Which connection gives way, decided apart from the sockets: for a newcomer
// when the display is full or its host holds its share, and when unfinished
// messages hold too much memory or take too long.
namespace LinkPolicy {

struct Peer
{
    quint64 id = 0;
    QHostAddress address;
    qint64 lastMessage = 0;     // its last whole message, or when it was accepted (ms)
    qint64 unfinished = 0;      // bytes of a message (or frame) not yet whole
    qint64 unfinishedSince = 0; // when the first of them came (ms); 0: none
};

// The connection to close so that a newcomer from `address` finds room, or
// 0 when there is room. A newcomer is always admitted: at its host's share
// the host's own silent-longest connection goes, when the display is full
// the one silent longest of all.
quint64 makeRoom(const QList<Peer> &peers, const QHostAddress &address, int maxConnections,
                 int maxPerAddress);

// When all unfinished messages together hold more than `budget` bytes, the
// connection holding the most; else 0.
quint64 overBudget(const QList<Peer> &peers, qint64 budget);

// Connections whose unfinished message began `limit` ms or more before `now`.
QList<quint64> tooSlow(const QList<Peer> &peers, qint64 now, qint64 limit);

} // namespace LinkPolicy
