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

quint64 silentLongest(const QList<Peer> &peers, const QHostAddress *only)
{
    const Peer *found = nullptr;
    for (const Peer &peer : peers) {
        if (only && host(peer.address) != *only)
            continue;
        if (!found || peer.lastMessage < found->lastMessage)
            found = &peer;
    }
    return found ? found->id : 0;
}

} // namespace

quint64 makeRoom(const QList<Peer> &peers, const QHostAddress &address, int maxConnections, int maxPerAddress)
{
    const QHostAddress newcomer = host(address);
    int fromThere = 0;
    for (const Peer &peer : peers)
        fromThere += host(peer.address) == newcomer ? 1 : 0;
    if (fromThere >= maxPerAddress)
        return silentLongest(peers, &newcomer);
    if (peers.size() >= maxConnections)
        return silentLongest(peers, nullptr);
    return 0;
}

quint64 overBudget(const QList<Peer> &peers, qint64 budget)
{
    qint64 total = 0;
    const Peer *most = nullptr;
    for (const Peer &peer : peers) {
        total += peer.unfinished;
        if (peer.unfinished > 0 && (!most || peer.unfinished > most->unfinished))
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
