#include "NetworkService.h"

#include "LinkLog.h"
#include "protocol/MessageCheck.h"
#include "pictures/QrCodeImage.h"
#include "TerminalAccess.h"
#include "state/AppEnv.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QWebSocket>

#include <cmath>
#include <limits>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// Truncates toward zero into the int range; the terminal's doubles may be
// anything, and an out-of-range conversion would be undefined.
int truncatedInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double t = std::trunc(value);
    if (t >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(t);
}

quint16 g_portForServices = NetworkService::defaultPort;
NetworkService::Timing g_timingForServices;

constexpr qint64 warnAgainAfterMs = 60 * 1000;

QString seconds(std::chrono::milliseconds interval)
{
    return QString::number(double(interval.count()) / 1000.0);
}

// Every socket we hold is an open file: make the most of what we may hold.
void raiseOpenFileLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
}

// The kernel's own check, for a link that goes quiet while something waits to be sent.
void enableKeepAlive(QTcpSocket *tcp)
{
    tcp->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(tcp->socketDescriptor());
    const int idle = 15, interval = 5, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

bool isAnyAddress(const QHostAddress &address)
{
    return address.isNull() || address == QHostAddress(QHostAddress::Any) ||
           address == QHostAddress(QHostAddress::AnyIPv4) || address == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace

void NetworkService::setPortForTesting(quint16 port)
{
    g_portForServices = port;
}

void NetworkService::setTimingForTesting(const Timing &timing)
{
    g_timingForServices = timing;
}

NetworkService::NetworkService(AppEnv *env, QObject *parent)
    : IService(parent), m_env(env), m_port(g_portForServices), m_timing(g_timingForServices),
      m_addressSource(&QNetworkInterface::allAddresses),
      m_server(QStringLiteral("QUORVEX ORDER SCREN"), QWebSocketServer::NonSecureMode)
{
    m_clock.start();
    // We accept TCP ourselves, so a peer can be turned away before its
    // handshake; the server only upgrades what we hand it.
    m_tcpServer.setMaxPendingConnections(maxConnections);
    connect(&m_tcpServer, &QTcpServer::newConnection, this, &NetworkService::acceptConnections);
    connect(&m_tcpServer, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        // Out of file descriptors, most likely: the server stops accepting
        // until told to go on, and a terminal must be able to come back.
        qCWarning(lcLink).noquote() << "cannot accept a connection:" << m_tcpServer.errorString();
        QTimer::singleShot(1000, this, [this] { m_tcpServer.resumeAccepting(); });
    });
    connect(&m_server, &QWebSocketServer::newConnection, this, &NetworkService::newConnection);

    const auto tick = std::min(m_timing.pingInterval, m_timing.silenceLimit) / 5;
    m_linkTimer.setInterval(std::clamp(tick, std::chrono::milliseconds(10), std::chrono::milliseconds(1000)));
    connect(&m_linkTimer, &QTimer::timeout, this, &NetworkService::checkLinks);
    m_listenTimer.setInterval(listenRetryInterval);
    m_listenTimer.setSingleShot(true);
    connect(&m_listenTimer, &QTimer::timeout, this, &NetworkService::tryListen);
    m_addressTimer.setInterval(m_timing.addressPollInterval);
    connect(&m_addressTimer, &QTimer::timeout, this, &NetworkService::refreshAddresses);

    m_paths = {
        {QStringLiteral("order"), OrderKind},      {QStringLiteral("promo_image"), PromoImageKind},
        {QStringLiteral("app_logo"), AppLogoKind}, {QStringLiteral("payment"), PaymentKind},
        {QStringLiteral("bonus"), BonusKind},
    };
}

NetworkService::~NetworkService()
{
    // The servers do not own the sockets they hand out; their last signals
    // must not reach a half-destroyed service.
    m_tcpServer.disconnect(this);
    m_server.disconnect(this);
    QList<QWebSocket *> sockets;
    for (const Link &link : std::as_const(m_links)) {
        if (link.tcp)
            link.tcp->disconnect(this);
        if (link.socket) {
            link.socket->disconnect(this);
            sockets.append(link.socket);
        }
    }
    m_links.clear();
    qDeleteAll(sockets);
}

void NetworkService::setAddressSource(AddressSource source)
{
    m_addressSource = std::move(source);
}

void NetworkService::run()
{
    m_running = true;
    raiseOpenFileLimit();
    if (m_allowedTerminals.isEmpty()) {
        qCWarning(lcLink).noquote()
            << "any host on the network can drive the display; name the terminals with --allow-terminal";
    }
    refreshAddresses();
    if (!m_tcpServer.isListening())
        tryListen();
    updateTimers();
}

void NetworkService::stop()
{
    m_running = false;
    m_listenTimer.stop();
    m_addressTimer.stop();
    if (m_tcpServer.isListening()) {
        m_tcpServer.close();
        emit listeningChanged();
    }
}

void NetworkService::tryListen()
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
        emit listeningChanged();
        return;
    }
    // A previous instance may still be shutting down: try again until it has.
    const QString failure = m_tcpServer.errorString();
    if (failure != m_listenFailure) {
        qCCritical(lcLink).noquote() << QStringLiteral("cannot listen on %1: %2; trying again every %3 s")
                                            .arg(where, failure, seconds(listenRetryInterval));
    }
    m_listenFailure = failure;
    const bool busy = m_tcpServer.serverError() == QAbstractSocket::AddressInUseError;
    if (busy != m_portBusy) {
        m_portBusy = busy;
        emit listeningChanged();
    }
    m_listenTimer.start();
}

void NetworkService::refreshAddresses()
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
    if (ips == m_avaliableIps)
        return;
    m_avaliableIps = ips;
    emit avaliableIpsChanged();
}

void NetworkService::updateTimers()
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

bool NetworkService::warnOnce(const QString &key)
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

void NetworkService::acceptConnections()
{
    while (QTcpSocket *tcp = m_tcpServer.nextPendingConnection())
        admit(tcp);
}

void NetworkService::admit(QTcpSocket *tcp)
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
    if (m_links.size() >= maxConnections) {
        const auto idle =
            std::find_if(m_links.cbegin(), m_links.cend(), [](const Link &link) { return !link.sentBinary; });
        if (idle == m_links.cend()) {
            if (warnOnce(QStringLiteral("full ") + LinkLog::peerName(tcp->peerAddress(), 0)))
                qCWarning(lcLink).noquote()
                    << QStringLiteral("%1: refused, %2 connections open and each has sent messages")
                           .arg(peer)
                           .arg(maxConnections);
            tcp->abort();
            tcp->deleteLater();
            return;
        }
        drop(idle->id,
             QStringLiteral("replaced by %1 at the limit of %2 connections").arg(peer).arg(maxConnections));
    }

    enableKeepAlive(tcp);
    Link link;
    link.id = m_nextLinkId++;
    link.tcp = tcp;
    link.peer = peer;
    link.acceptedAt = m_clock.elapsed();
    m_links.append(link);
    // Until the handshake is done; afterwards the socket reports it.
    connect(tcp, &QAbstractSocket::disconnected, this, [this, tcp] { onHandshakeAbandoned(tcp); });
    m_server.handleConnection(tcp);
    updateTimers();
}

int NetworkService::linkIndex(const QObject *tcpOrSocket) const
{
    for (int i = 0; i < m_links.size(); ++i) {
        if (m_links[i].socket == tcpOrSocket || m_links[i].tcp == tcpOrSocket)
            return i;
    }
    return -1;
}

int NetworkService::linkIndex(quint64 id) const
{
    for (int i = 0; i < m_links.size(); ++i) {
        if (m_links[i].id == id)
            return i;
    }
    return -1;
}

void NetworkService::onHandshakeAbandoned(QTcpSocket *tcp)
{
    const int index = linkIndex(tcp);
    if (index < 0 || m_links[index].socket)
        return;
    // The server releases the socket; we only forget it.
    tcp->disconnect(this);
    m_links.removeAt(index);
    updateTimers();
}

void NetworkService::drop(quint64 id, const QString &because)
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
        qCWarning(lcLink).noquote() << link.peer + QLatin1String(": dropped before its handshake, ") +
                                           because;
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

void NetworkService::checkLinks()
{
    const qint64 now = m_clock.elapsed();
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

void NetworkService::checkBacklog(quint64 id)
{
    const int index = linkIndex(id);
    if (index >= 0 && m_links[index].socket && m_links[index].socket->bytesToWrite() > maxUnsentBytes)
        drop(id, QStringLiteral("more than %1 bytes waiting to be sent").arg(maxUnsentBytes));
}

void NetworkService::newConnection()
{
    while (QWebSocket *socket = m_server.nextPendingConnection()) {
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
            continue;
        }
        Link &link = m_links[index];
        link.socket = socket;
        link.lastSign = link.lastPing = m_clock.elapsed();
        const quint64 id = link.id;
        socket->setMaxAllowedIncomingFrameSize(maxIncomingSize);
        socket->setMaxAllowedIncomingMessageSize(maxIncomingSize);
        ++m_openSockets;
        m_currentTerminal = socket;
        connect(socket, &QWebSocket::binaryMessageReceived, this, &NetworkService::binaryMessageRecived);
        connect(socket, &QWebSocket::textMessageReceived, this, &NetworkService::textMessageIgnored);
        connect(socket, &QWebSocket::disconnected, this, &NetworkService::onTerminalDisconnected);
        const auto alive = [this, id] {
            const int i = linkIndex(id);
            if (i >= 0)
                m_links[i].lastSign = m_clock.elapsed();
        };
        connect(socket, &QWebSocket::pong, this, alive);
        connect(socket, &QWebSocket::binaryFrameReceived, this, alive);
        connect(socket, &QWebSocket::textFrameReceived, this, alive);
        connect(socket, &QWebSocket::aboutToClose, this, [this, id] {
            const int i = linkIndex(id);
            if (i >= 0)
                m_links[i].peerClosed = true;
        });
        // Pongs to a flood of pings pile up if the peer does not read them.
        // Queued: checked once the socket has handled what it read.
        if (link.tcp) {
            connect(
                link.tcp, &QIODevice::readyRead, this, [this, id] { checkBacklog(id); },
                Qt::QueuedConnection);
        }
        qCWarning(lcLink).noquote() << link.peer + QLatin1String(": connected");
        // Queued like a message: a reconnect must not be announced before the
        // reset of an earlier disconnect that is still waiting for a load.
        Step step;
        step.kind = ConnectStep;
        step.link = id;
        step.logged = m_intake.logged();
        enqueue(std::move(step));
    }
    updateTimers();
}

void NetworkService::binaryMessageRecived(QByteArray message)
{
    const auto *socket = qobject_cast<QWebSocket *>(sender());
    // Which connection it came from: whose order is on screen, and who may
    // make room for a newcomer.
    quint64 from = 0;
    const int index = socket ? linkIndex(socket) : -1;
    if (index >= 0) {
        m_links[index].sentBinary = true;
        from = m_links[index].id;
    }
    // Parsed and logged by the intake (off this thread unless small); the step keeps its place in
    // the queue meanwhile. The peer's address is only named if the message has a fault.
    const MessageIntake::Ticket ticket =
        socket ? m_intake.take(message, socket->peerAddress(), socket->peerPort()) : m_intake.take(message);
    Step step;
    step.kind = MessageStep;
    step.link = from;
    step.parsed = ticket.parsed;
    step.logged = ticket.logged;
    enqueue(std::move(step));
}

void NetworkService::textMessageIgnored()
{
    // Once per connection: a client that only sends text would otherwise fill the log.
    auto *socket = qobject_cast<QWebSocket *>(sender());
    static const char warned[] = "qv4TextFrameWarned";
    if (!socket || socket->property(warned).toBool())
        return;
    socket->setProperty(warned, true);
    qCWarning(lcLink).noquote() << LinkLog::peerName(socket) + QLatin1String(": ") +
                                       MessageCheck::textFrameProblem() +
                                       QLatin1String(" (said once per connection)");
}

void NetworkService::onTerminalDisconnected()
{
    if (auto *socket = qobject_cast<QWebSocket *>(sender()))
        forget(socket);
}

void NetworkService::forget(QWebSocket *socket)
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
    qCWarning(lcLink).noquote() << link.peer + QLatin1String(": disconnected, ") + why;

    Step step;
    step.kind = DisconnectStep;
    step.link = link.id;
    step.lastLeft = m_openSockets == 0;
    step.logged = m_intake.logged();
    enqueue(std::move(step));
    updateTimers();
    if (m_openSockets == 0)
        refreshAddresses();
}

void NetworkService::enqueue(Step step)
{
    m_pending.enqueue(std::move(step));
    drain();
}

void NetworkService::drain()
{
    while (!m_busy && !m_resumeScheduled && !m_pending.isEmpty()) {
        Step &front = m_pending.head();
        if (!resolve(front)) {
            resumeWhenFinished(front.parsed);
            return;
        }
        // Nothing takes effect before its message's line, or, for a terminal
        // coming or going, the lines of every message before, are written.
        // An order starts reading its lines meanwhile and puts them in place
        // only once its line is out.
        if (front.kind != OrderKind && front.logged.isValid() && !front.logged.isFinished()) {
            resumeWhenFinished(front.logged);
            return;
        }
        // An order followed at once by another order would never be seen: the
        // next one replaces its lines, totals and client whole. Under a flood
        // this skips loads that only the last one survives.
        if (front.kind == OrderKind && m_pending.size() > 1 && resolve(m_pending[1]) &&
            m_pending[1].kind == OrderKind) {
            m_pending.dequeue();
            continue;
        }
        applyStep(m_pending.dequeue());
    }
}

bool NetworkService::resolve(Step &step)
{
    if (step.kind != MessageStep)
        return true;
    if (!step.parsed.isFinished())
        return false;
    const QJsonObject object = step.parsed.result();
    step.parsed = {};
    // An unknown kind is only logged.
    step.kind = m_paths.value(object.value(QLatin1String("path")).toString(), IgnoredStep);
    step.content = object.value(QLatin1String("content")).toObject();
    return true;
}

template <typename T> void NetworkService::resumeWhenFinished(const QFuture<T> &future)
{
    m_resumeScheduled = true;
    QFuture<T>(future).then(this, [this](auto &&...) {
        m_resumeScheduled = false;
        drain();
    });
}

void NetworkService::applyStep(const Step &step)
{
    switch (step.kind) {
    case OrderKind:
        m_orderFrom = step.link;
        applyOrder(step.content, step.logged);
        break;
    case PromoImageKind:
        m_env->promoImageModel()->update(step.content.value(QLatin1String("promo_images")).toArray());
        break;
    case AppLogoKind:
        m_env->setLogo(step.content.value(QLatin1String("logo")).toString());
        break;
    case PaymentKind:
        processPayment(step.content);
        break;
    case BonusKind:
        applyBonus(step.content);
        break;
    case ConnectStep:
        emit terminalConnected();
        break;
    case DisconnectStep:
        // Another client leaving must not wipe a sale that a terminal is
        // still running; the waiting dialog opens only once none is left.
        if (step.lastLeft || step.link == m_orderFrom) {
            m_orderFrom = 0;
            resetScreen();
        }
        if (step.lastLeft)
            emit terminalDisconnected();
        break;
    case IgnoredStep:
        break;
    }
}

void NetworkService::applyOrder(const QJsonObject &content, const QFuture<void> &logged)
{
    m_busy = true;
    // Only what the continuation needs: the parsed message itself is then
    // released by the pool task that reads its lines, not on this thread.
    const QJsonObject order = content.value(QLatin1String("order")).toObject();
    const QJsonObject guest = content.value(QLatin1String("guest")).toObject();
    m_env->receiptItemModel()
        ->updateAfter(content.value(QLatin1String("receipt_items")).toArray(), logged)
        // The load's future finishes on this thread, right after the model took
        // the lines: go on there and then, without another trip through the
        // event queue.
        .then(QtFuture::Launch::Sync, [self = QPointer<NetworkService>(this), this, order, guest]() {
            if (!self)
                return;
            m_env->order()->fromJson(order);
            emit m_env->orderChanged();
            m_env->client()->fromJson(guest);
            emit m_env->clientChanged();
            m_busy = false;
            drain();
        });
}

void NetworkService::applyBonus(const QJsonObject &content)
{
    const int count = content.value(QLatin1String("count")).toInt(0);
    if (content.value(QLatin1String("is_replenisment")).toBool(false))
        m_env->order()->replenishmentBonus = count;
    else
        m_env->order()->expenseBonusCount = count;
    emit m_env->orderChanged();
}

void NetworkService::resetScreen()
{
    m_env->setPromoImagesToShow(QJsonArray());
    m_env->receiptItemModel()->clear();
    m_env->promoImageModel()->clear();
    resetPaymentParams();
    emit m_env->closePaymentDialogs();
}

void NetworkService::processPayment(const QJsonObject &content)
{
    if (content.value(QLatin1String("is_finished")).toBool(false)) {
        emit m_env->closePaymentDialogs();
        resetPaymentParams();
        return;
    }

    m_env->order()->receiptPaymentAmount = content.value(QLatin1String("amount")).toInt(0);
    emit m_env->orderChanged();

    const QString receiptUuid = content.value(QLatin1String("receipt_uuid")).toString();
    calculateReceiptDiscount(m_env->receiptItemModel()->itemsByReceiptUuid(receiptUuid));

    const QString qrTable = content.value(QLatin1String("qrcode_table")).toString();
    if (!qrTable.isEmpty())
        generateQrCode(qrTable);
    else
        emit m_env->showPaymentDialog();
}

int NetworkService::receiptDiscount(const QList<ReceiptItem> &items)
{
    int sum = 0;
    for (const ReceiptItem &item : items) {
        const double lineDiscount = truncatedInt(item.discountAmount * item.quantity);
        sum = truncatedInt(lineDiscount + item.discountReceipt + sum);
    }
    return sum;
}

void NetworkService::calculateReceiptDiscount(const QList<ReceiptItem> &items)
{
    m_env->order()->receiptPaymentDiscount = receiptDiscount(items);
    emit m_env->orderChanged();
}

void NetworkService::generateQrCode(QString qrTable)
{
    m_env->order()->qrCodeTable = QrCodeImage::dataUrl(qrTable);
    emit m_env->orderChanged();
    emit m_env->showQRPaymentDialog();
}

void NetworkService::resetPaymentParams()
{
    m_env->order()->qrCodeTable = QString();
    m_env->order()->receiptPaymentAmount = 0;
    m_env->order()->receiptPaymentDiscount = 0;
    emit m_env->orderChanged();
}
