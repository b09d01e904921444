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
    bool terminal = false;      // its handshake is done
    bool driving = false;       // its order or payment is what the screen shows
    bool dead = false;          // silent past the heartbeat's limit
};

// makeRoom's answer when nobody may give way: the newcomer is turned away.
constexpr quint64 refuse = ~quint64(0);

// The connection to close so that `newcomer` finds room, 0 when there is
// room, or `refuse`. Handshakes and terminals are counted apart, each
// against both limits, and only give way to their own kind: a connection
// that has not finished its handshake never pushes out a terminal. At its
// host's share the host's own silent-longest connection of that kind goes,
// when the display is full the one silent longest of all; a dead one before
// any. The terminal driving the screen never goes while it is alive.
quint64 makeRoom(const QList<Peer> &peers, const Peer &newcomer, int maxConnections, int maxPerAddress);

// When all unfinished messages together hold more than `budget` bytes, the
// connection holding the most, never the one driving the screen; else 0.
quint64 overBudget(const QList<Peer> &peers, qint64 budget);

// Connections whose unfinished message began `limit` ms or more before `now`.
QList<quint64> tooSlow(const QList<Peer> &peers, qint64 now, qint64 limit);

} // namespace LinkPolicy
