#include "LinkPolicy.h"

namespace LinkPolicy {

namespace {

// An IPv4-mapped address is its IPv4 host.
QHostAddress host(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

// Of `peers` (of one host if `only`), the one to go first: a dead one, else
// the one silent longest; the live driver never.
quint64 firstToGo(const QList<Peer> &peers, const QHostAddress *only)
{
    const Peer *found = nullptr;
    for (const Peer &peer : peers) {
        if ((only && host(peer.address) != *only) || (peer.driving && !peer.dead))
            continue;
        if (!found || (peer.dead && !found->dead) ||
            (peer.dead == found->dead && peer.lastMessage < found->lastMessage))
            found = &peer;
    }
    return found ? found->id : refuse;
}

} // namespace

quint64 makeRoom(const QList<Peer> &peers, const Peer &newcomer, int maxConnections, int maxPerAddress)
{
    const QHostAddress from = host(newcomer.address);
    QList<Peer> rivals;
    int fromThere = 0;
    for (const Peer &peer : peers) {
        if (peer.id == newcomer.id || peer.terminal != newcomer.terminal)
            continue;
        rivals.append(peer);
        fromThere += host(peer.address) == from ? 1 : 0;
    }
    if (fromThere >= maxPerAddress)
        return firstToGo(rivals, &from);
    if (rivals.size() >= maxConnections)
        return firstToGo(rivals, nullptr);
    return 0;
}

quint64 overBudget(const QList<Peer> &peers, qint64 budget)
{
    qint64 total = 0;
    const Peer *most = nullptr;
    for (const Peer &peer : peers) {
        total += peer.unfinished;
        if (peer.unfinished > 0 && !peer.driving && (!most || peer.unfinished > most->unfinished))
            most = &peer;
    }
    return total > budget && most ? most->id : 0;
}

QList<quint64> tooSlow(const QList<Peer> &peers, qint64 now, qint64 limit)
{
    QList<quint64> found;
    for (const Peer &peer : peers) {
        if (peer.unfinishedSince > 0 && now - peer.unfinishedSince >= limit)
            found.append(peer.id);
    }
    return found;
}

} // namespace LinkPolicy
