#include "TerminalLinks.h"

#include "LinkLog.h"
#include "SocketOptions.h"
#include "TerminalAccess.h"

#include <QJsonObject>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <utility>

namespace {

constexpr qint64 warnAgainAfterMs = 60 * 1000;

QString seconds(std::chrono::milliseconds interval)
{
    return QString::number(double(interval.count()) / 1000.0);
}

bool isAnyAddress(const QHostAddress &address)
{
    return address.isNull() || address == QHostAddress(QHostAddress::Any) ||
           address == QHostAddress(QHostAddress::AnyIPv4) || address == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace

TerminalLinks::TerminalLinks(QWebSocketServer *upgrader, quint16 port, const Timing &timing, QObject *parent)
    : QObject(parent), m_upgrader(upgrader), m_port(port), m_timing(timing),
      m_addressSource(&QNetworkInterface::allAddresses)
{
    m_clock.start();
    // We accept TCP ourselves, so a peer can be turned away before its
    // handshake; the upgrader only sees what we hand it.
    m_tcpServer.setMaxPendingConnections(maxConnections);
    connect(&m_tcpServer, &QTcpServer::newConnection, this, &TerminalLinks::acceptConnections);
    connect(&m_tcpServer, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        // Out of file descriptors, most likely: the server stops accepting
        // until told to go on, and a terminal must be able to come back.
        qCWarning(lcLink).noquote() << "cannot accept a connection:" << m_tcpServer.errorString();
        QTimer::singleShot(1000, this, [this] { m_tcpServer.resumeAccepting(); });
    });

    const auto tick = std::min(m_timing.pingInterval, m_timing.silenceLimit) / 5;
    m_linkTimer.setInterval(std::clamp(tick, std::chrono::milliseconds(10), std::chrono::milliseconds(1000)));
    connect(&m_linkTimer, &QTimer::timeout, this, &TerminalLinks::checkLinks);
    m_listenTimer.setInterval(listenRetryInterval);
    m_listenTimer.setSingleShot(true);
    connect(&m_listenTimer, &QTimer::timeout, this, &TerminalLinks::tryListen);
    m_addressTimer.setInterval(m_timing.addressPollInterval);
    connect(&m_addressTimer, &QTimer::timeout, this, &TerminalLinks::refreshAddresses);
}

TerminalLinks::~TerminalLinks()
{
    release(this);
}

void TerminalLinks::release(QObject *receiver)
{
    // The servers do not own the sockets they hand out; their last signals
    // must not reach a half-destroyed owner.
    m_tcpServer.disconnect(this);
    QList<QWebSocket *> sockets;
    for (const Link &link : std::as_const(m_links)) {
        if (link.tcp) {
            link.tcp->disconnect(this);
            link.tcp->disconnect(receiver);
        }
        if (link.socket) {
            link.socket->disconnect(this);
            link.socket->disconnect(receiver);
            sockets.append(link.socket);
        }
    }
    m_links.clear();
    qDeleteAll(sockets);
}

void TerminalLinks::start()
{
    m_running = true;
    SocketOptions::raiseOpenFileLimit();
    if (m_allowedTerminals.isEmpty()) {
        qCWarning(lcLink).noquote()
            << "any host on the network can drive the display; name the terminals with --allow-terminal";
    }
    refreshAddresses();
    if (!m_tcpServer.isListening())
        tryListen();
    updateTimers();
}

void TerminalLinks::stopListening()
{
    m_running = false;
    m_listenTimer.stop();
    m_addressTimer.stop();
    if (m_tcpServer.isListening()) {
        m_tcpServer.close();
        emit listeningChanged();
    }
}

void TerminalLinks::tryListen()
{
    const QHostAddress address =
        isAnyAddress(m_listenAddress) ? QHostAddress(QHostAddress::Any) : m_listenAddress;
    const QString where = isAnyAddress(m_listenAddress)
                              ? QStringLiteral("port %1").arg(m_port)
                              : QStringLiteral("port %1 of %2").arg(m_port).arg(address.toString());
    if (m_tcpServer.listen(address, m_port)) {
        if (!m_listenFailure.isEmpty())
            qCWarning(lcLink).noquote() << QStringLiteral("listening on %1 now").arg(where);
        m_listenFailure.clear();
        m_portBusy = false;
        m_addressMissing = false;
        emit listeningChanged();
        return;
    }
    // A previous instance may still be shutting down, or the --listen address
    // not be configured yet (DHCP, a cable plugged in later): try again until then.
    const bool busy = m_tcpServer.serverError() == QAbstractSocket::AddressInUseError;
    const bool missing = m_tcpServer.serverError() == QAbstractSocket::SocketAddressNotAvailableError;
    const QString failure =
        missing ? QStringLiteral("this machine does not have that address (yet)") : m_tcpServer.errorString();
    if (failure != m_listenFailure) {
        qCCritical(lcLink).noquote() << QStringLiteral("cannot listen on %1: %2; trying again every %3 s")
                                            .arg(where, failure, seconds(listenRetryInterval));
    }
    m_listenFailure = failure;
    if (busy != m_portBusy || missing != m_addressMissing) {
        m_portBusy = busy;
        m_addressMissing = missing;
        emit listeningChanged();
    }
    m_listenTimer.start();
}

void TerminalLinks::refreshAddresses()
{
    QJsonArray ips;
    if (!isAnyAddress(m_listenAddress)) {
        ips.append(QJsonObject{{QStringLiteral("address"), m_listenAddress.toString()}});
    } else {
        QStringList seen;
        const QList<QHostAddress> addresses = m_addressSource();
        for (const QHostAddress &address : addresses) {
            if (address.protocol() != QAbstractSocket::IPv4Protocol || seen.contains(address.toString()))
                continue;
            seen.append(address.toString());
            ips.append(QJsonObject{{QStringLiteral("address"), seen.constLast()}});
        }
    }
    if (ips == m_addresses)
        return;
    m_addresses = ips;
    emit addressesChanged();
}

void TerminalLinks::updateTimers()
{
    if (m_links.isEmpty())
        m_linkTimer.stop();
    else if (!m_linkTimer.isActive())
        m_linkTimer.start();
    // The addresses matter while the waiting dialog lists them.
    if (m_running && m_openSockets == 0 && isAnyAddress(m_listenAddress)) {
        if (!m_addressTimer.isActive())
            m_addressTimer.start();
    } else {
        m_addressTimer.stop();
    }
}

qint64 TerminalLinks::linkClock()
{
    const qint64 elapsed = m_clock.elapsed();
    const qint64 gap = elapsed - m_lastLinkClock;
    m_lastLinkClock = elapsed;
    // While there are links the heartbeat runs every interval; a gap of two
    // intervals, and of a second at least (a short interval is late by
    // scheduling alone), means this thread was held up (a busy machine,
    // swapping), and what the peers sent meanwhile waits unread: that time
    // counts against none of them.
    const qint64 interval = m_linkTimer.interval();
    if (m_linkTimer.isActive() && gap > std::max<qint64>(2 * interval, 1000))
        m_heldUp += gap - interval;
    return elapsed - m_heldUp;
}

bool TerminalLinks::warnOnce(const QString &key)
{
    const qint64 now = m_clock.elapsed();
    const auto found = m_warned.constFind(key);
    if (found != m_warned.constEnd() && now - *found < warnAgainAfterMs)
        return false;
    // Many addresses (an IPv6 subnet has plenty) must not grow this for ever.
    if (m_warned.size() >= 1024)
        m_warned.removeIf([now](auto it) { return now - it.value() >= warnAgainAfterMs; });
    if (m_warned.size() >= 4096)
        m_warned.clear();
    m_warned.insert(key, now);
    return true;
}

void TerminalLinks::acceptConnections()
{
    while (QTcpSocket *tcp = m_tcpServer.nextPendingConnection())
        admit(tcp);
}

// Admission: the allow-list first, then the connection limits, where the
// link silent longest makes room.
void TerminalLinks::admit(QTcpSocket *tcp)
{
    const QString peer = LinkLog::peerName(tcp->peerAddress(), tcp->peerPort());
    // Before anything of it is read: a host that may not drive the display
    // gets no handshake, no message, no log line.
    if (!TerminalAccess::allows(m_allowedTerminals, tcp->peerAddress())) {
        if (warnOnce(QStringLiteral("refused ") + LinkLog::peerName(tcp->peerAddress(), 0)))
            qCWarning(lcLink).noquote()
                << peer + QLatin1String(": refused, not an allowed terminal (--allow-terminal)");
        tcp->abort();
        tcp->deleteLater();
        return;
    }
    // A handshake is always begun: handshakes give way only to handshakes,
    // so a host holding its share, or all of them together filling the
    // display, cannot lock the terminal out, nor push a terminal out.
    LinkPolicy::Peer newcomer;
    newcomer.address = tcp->peerAddress();
    const quint64 room = LinkPolicy::makeRoom(policyPeers(), newcomer, maxConnections, maxPerAddress);
    if (room != 0 && room != LinkPolicy::refuse)
        drop(room, makingRoom(peer));

    SocketOptions::enableKeepAlive(tcp);
    Link link;
    link.id = m_nextLinkId++;
    link.tcp = tcp;
    link.peer = peer;
    link.address = tcp->peerAddress();
    link.acceptedAt = link.lastMessage = linkClock();
    m_links.append(link);
    // Until the handshake is done; afterwards the socket reports it.
    connect(tcp, &QAbstractSocket::disconnected, this, [this, tcp] { onHandshakeAbandoned(tcp); });
    m_upgrader->handleConnection(tcp);
    updateTimers();
}

int TerminalLinks::linkIndex(const QObject *tcpOrSocket) const
{
    for (int i = 0; i < m_links.size(); ++i) {
        if (m_links[i].socket == tcpOrSocket || m_links[i].tcp == tcpOrSocket)
            return i;
    }
    return -1;
}

int TerminalLinks::linkIndex(quint64 id) const
{
    for (int i = 0; i < m_links.size(); ++i) {
        if (m_links[i].id == id)
            return i;
    }
    return -1;
}

void TerminalLinks::onHandshakeAbandoned(QTcpSocket *tcp)
{
    const int index = linkIndex(tcp);
    if (index < 0 || m_links[index].socket)
        return;
    // The server releases the socket; we only forget it.
    tcp->disconnect(this);
    m_links.removeAt(index);
    updateTimers();
}

void TerminalLinks::drop(quint64 id, const QString &because)
{
    const int index = linkIndex(id);
    if (index < 0)
        return;
    Link &link = m_links[index];
    link.droppedBecause = because;
    if (QWebSocket *socket = link.socket) {
        // Reported like any disconnect.
        socket->abort();
        if (linkIndex(id) >= 0)
            forget(socket);
    } else {
        logComing(link.peer, link.address, QLatin1String("dropped before its handshake, ") + because);
        if (QTcpSocket *tcp = link.tcp) {
            tcp->disconnect(this);
            m_links.removeAt(index);
            tcp->abort();
        } else {
            m_links.removeAt(index);
        }
        updateTimers();
    }
}

// The heartbeat: unfinished messages, handshake deadline, silence, backlog,
// then a ping if one is due.
void TerminalLinks::checkLinks()
{
    checkUnfinished();
    const qint64 now = linkClock();
    // Decided first, done after: dropping a link changes the list.
    QList<QPair<quint64, QString>> drops;
    QList<QPointer<QWebSocket>> pings;
    for (Link &link : m_links) {
        if (!link.socket) {
            if (!link.tcp || now - link.acceptedAt >= handshakeTimeout.count())
                drops.append(
                    {link.id, QStringLiteral("no handshake within %1 s").arg(seconds(handshakeTimeout))});
        } else if (now - link.lastSign >= m_timing.silenceLimit.count()) {
            drops.append(
                {link.id, QStringLiteral("no sign of life for %1 s").arg(seconds(m_timing.silenceLimit))});
        } else if (link.socket->bytesToWrite() > maxUnsentBytes) {
            drops.append(
                {link.id, QStringLiteral("more than %1 bytes waiting to be sent").arg(maxUnsentBytes)});
        } else if (now - link.lastPing >= m_timing.pingInterval.count()) {
            pings.append(link.socket);
            link.lastPing = now;
        }
    }
    for (const auto &[id, because] : std::as_const(drops))
        drop(id, because);
    // A control frame: no application data ever goes to the terminal.
    for (const QPointer<QWebSocket> &socket : std::as_const(pings)) {
        if (socket)
            socket->ping();
    }
}

void TerminalLinks::checkBacklog(quint64 id)
{
    const int index = linkIndex(id);
    if (index >= 0 && m_links[index].socket && m_links[index].socket->bytesToWrite() > maxUnsentBytes)
        drop(id, QStringLiteral("more than %1 bytes waiting to be sent").arg(maxUnsentBytes));
}

void TerminalLinks::bytesCame(quint64 id)
{
    const int index = linkIndex(id);
    if (index < 0 || !m_links[index].socket || !m_links[index].tcp)
        return;
    Link &link = m_links[index];
    // Bytes are a sign of life, in the middle of a long frame too; what they
    // may hold back is bounded by the budget and the time limit.
    const qint64 now = linkClock();
    link.lastSign = now;
    link.partialFrame = link.tcp->bytesAvailable();
    if (link.partialFrame + link.unfinishedFrames == 0)
        link.unfinishedSince = 0;
    else if (link.unfinishedSince == 0)
        link.unfinishedSince = now;
    checkBacklog(id);
    checkUnfinished();
}

void TerminalLinks::frameCame(quint64 id, qsizetype size, bool last)
{
    const int index = linkIndex(id);
    if (index < 0)
        return;
    Link &link = m_links[index];
    const qint64 now = linkClock();
    link.lastSign = now;
    if (last) {
        link.unfinishedFrames = link.partialFrame = link.unfinishedSince = 0;
    } else {
        link.unfinishedFrames += size;
        // The frame left the socket's buffer: counted once, as a frame.
        link.partialFrame = link.tcp ? link.tcp->bytesAvailable() : 0;
        if (link.unfinishedSince == 0)
            link.unfinishedSince = now;
    }
}

QList<LinkPolicy::Peer> TerminalLinks::policyPeers()
{
    const qint64 now = linkClock();
    QList<LinkPolicy::Peer> peers;
    peers.reserve(m_links.size());
    for (const Link &link : m_links) {
        const bool terminal = link.socket != nullptr;
        peers.append({link.id, link.address, link.lastMessage, link.unfinishedFrames + link.partialFrame,
                      link.unfinishedSince, terminal, link.id == m_driving,
                      terminal && now - link.lastSign >= m_timing.silenceLimit.count()});
    }
    return peers;
}

QString TerminalLinks::makingRoom(const QString &peer)
{
    return QStringLiteral("closed to make room for %1 (at most %2 connections, %3 from one host)")
        .arg(peer)
        .arg(maxConnections)
        .arg(maxPerAddress);
}

void TerminalLinks::checkUnfinished()
{
    const auto slow = LinkPolicy::tooSlow(policyPeers(), linkClock(), m_timing.unfinishedLimit.count());
    for (const quint64 id : slow) {
        close(id, QWebSocketProtocol::CloseCodePolicyViolated,
              QStringLiteral("a message not whole within %1 s").arg(seconds(m_timing.unfinishedLimit)));
    }
    while (const quint64 id = LinkPolicy::overBudget(policyPeers(), unfinishedBudget)) {
        close(id, QWebSocketProtocol::CloseCodeTooMuchData,
              QStringLiteral("unfinished messages over %1 bytes in all, this one holding the most")
                  .arg(unfinishedBudget));
    }
}

void TerminalLinks::close(quint64 id, QWebSocketProtocol::CloseCode code, const QString &because)
{
    const int index = linkIndex(id);
    if (index < 0)
        return;
    const QString why = QStringLiteral("closed with code %1: %2").arg(int(code)).arg(because);
    // The close frame goes out at once; then the connection is cut, so that
    // what it holds is freed now, whether or not the peer answers.
    m_links[index].droppedBecause = why;
    if (QPointer<QWebSocket> socket = m_links[index].socket) {
        QPointer<QTcpSocket> tcp = m_links[index].tcp;
        socket->close(code, because);
        if (tcp)
            tcp->flush();
    }
    drop(id, why);
}

void TerminalLinks::logComing(const QString &peer, const QHostAddress &address, const QString &what)
{
    const qint64 now = m_clock.elapsed();
    constexpr qint64 minute = 60 * 1000;
    // Many addresses (an IPv6 subnet has plenty) must not grow this for ever.
    if (m_comings.size() >= 1024)
        m_comings.removeIf(
            [now](auto it) { return now - it.value().since >= minute && it.value().left == 0; });
    if (m_comings.size() >= 4096)
        m_comings.clear();
    Comings &host = m_comings[LinkLog::peerName(address, 0)];
    if (host.logged > 0 && now - host.since >= minute)
        host.logged = 0;
    if (host.logged == 0)
        host.since = now;
    if (host.logged >= comingsLoggedPerMinute) {
        ++host.left;
        return;
    }
    ++host.logged;
    QString line = peer + QLatin1String(": ") + what;
    if (host.left > 0)
        line +=
            QStringLiteral(" (%1 such lines of this host left out before)").arg(std::exchange(host.left, 0));
    qCWarning(lcLink).noquote() << line;
}

quint64 TerminalLinks::attach(QWebSocket *socket)
{
    // Qt leaves accepted sockets without a parent; they are ours until they
    // disconnect.
    socket->setParent(this);
    int index = -1;
    for (int i = 0; i < m_links.size() && index < 0; ++i) {
        const Link &link = m_links[i];
        if (!link.socket && link.tcp && link.tcp->peerPort() == socket->peerPort() &&
            link.tcp->peerAddress() == socket->peerAddress())
            index = i;
    }
    if (index < 0) {
        // Dropped while its handshake was being answered.
        socket->abort();
        socket->deleteLater();
        return 0;
    }
    // A terminal makes room among terminals, never by pushing out the one
    // whose order or payment is on screen while it is alive.
    LinkPolicy::Peer newcomer;
    newcomer.id = m_links[index].id;
    newcomer.address = m_links[index].address;
    newcomer.terminal = true;
    const quint64 room = LinkPolicy::makeRoom(policyPeers(), newcomer, maxConnections, maxPerAddress);
    if (room == LinkPolicy::refuse) {
        drop(newcomer.id, QStringLiteral("refused: no place, and the terminal on screen keeps its own"));
        socket->abort();
        socket->deleteLater();
        return 0;
    }
    if (room != 0) {
        drop(room, makingRoom(m_links[index].peer));
        index = linkIndex(newcomer.id);
        if (index < 0) {
            socket->abort();
            socket->deleteLater();
            return 0;
        }
    }
    Link &link = m_links[index];
    link.socket = socket;
    link.lastSign = link.lastPing = linkClock();
    const quint64 id = link.id;
    socket->setMaxAllowedIncomingFrameSize(maxIncomingSize);
    socket->setMaxAllowedIncomingMessageSize(maxIncomingSize);
    ++m_openSockets;
    const auto alive = [this, id] {
        const int i = linkIndex(id);
        if (i >= 0)
            m_links[i].lastSign = linkClock();
    };
    connect(socket, &QWebSocket::pong, this, alive);
    connect(socket, &QWebSocket::binaryFrameReceived, this,
            [this, id](const QByteArray &frame, bool last) { frameCame(id, frame.size(), last); });
    connect(socket, &QWebSocket::textFrameReceived, this, [this, id](const QString &frame, bool last) {
        frameCame(id, frame.size() * qsizetype(sizeof(QChar)), last);
    });
    connect(socket, &QWebSocket::aboutToClose, this, [this, id] {
        const int i = linkIndex(id);
        if (i >= 0)
            m_links[i].peerClosed = true;
    });
    // Pongs to a flood of pings pile up if the peer does not read them,
    // and a frame arriving slowly stays in the socket's buffer.
    // Queued: checked once the socket has handled what it read.
    if (link.tcp) {
        connect(
            link.tcp, &QIODevice::readyRead, this, [this, id] { bytesCame(id); }, Qt::QueuedConnection);
    }
    logComing(link.peer, link.address, QStringLiteral("connected"));
    updateTimers();
    return id;
}

quint64 TerminalLinks::noteMessage(const QObject *socket)
{
    const int index = socket ? linkIndex(socket) : -1;
    if (index < 0)
        return 0;
    m_links[index].lastMessage = linkClock();
    return m_links[index].id;
}

void TerminalLinks::forget(QWebSocket *socket)
{
    const int index = linkIndex(socket);
    if (index < 0)
        return;
    const Link link = m_links.takeAt(index);
    if (link.tcp)
        link.tcp->disconnect(this);
    socket->disconnect(this);
    socket->deleteLater();
    --m_openSockets;

    QString why = link.droppedBecause;
    if (why.isEmpty() && link.peerClosed)
        why =
            QStringLiteral("code %1, reason \"%2\"").arg(int(socket->closeCode())).arg(socket->closeReason());
    else if (why.isEmpty())
        why = QStringLiteral("connection lost without a close frame");
    logComing(link.peer, link.address, QLatin1String("disconnected, ") + why);

    emit closed(socket, link.id, m_openSockets == 0);
    updateTimers();
    if (m_openSockets == 0)
        refreshAddresses();
}
