#pragma once

#include "LinkPolicy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocketProtocol>

#include <chrono>
#include <functional>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// The health of the terminal link and who may hold one: listening (and
// trying again while the port is busy), the allow-list, admission and
// eviction at the connection limit, the handshake deadline, the heartbeat,
// the send backlog, and the machine's address list while no terminal is
// connected. What a terminal says is NetworkService's business; this class
// only tells it when a terminal comes and goes.
class TerminalLinks : public QObject
{
    Q_OBJECT
public:
    // A subnet as QHostAddress::parseSubnet gives it (a single host: full prefix length).
    using Subnet = QPair<QHostAddress, int>;

    // What one peer may make us buffer: a frame and a whole message.
    static constexpr quint64 maxIncomingSize = 16 * 1024 * 1024;
    // A peer that opens a connection but never finishes its handshake is dropped.
    static constexpr std::chrono::milliseconds handshakeTimeout{10000};
    // Terminals open at once, and from one host; handshakes under way are
    // counted apart against the same figures. A newcomer is always admitted
    // to its handshake: at either limit the handshake silent longest (of that
    // host, or of all) makes room; once through, the terminal silent longest
    // does, but never the one driving the screen while it is alive.
    static constexpr int maxConnections = 64;
    static constexpr int maxPerAddress = 8;
    // Bytes of messages not yet whole, all connections together: past it the
    // connection holding the most is closed (1009).
    static constexpr qint64 unfinishedBudget = 64 * 1024 * 1024;
    // Connect and disconnect lines of one host, at most this many a minute.
    static constexpr int comingsLoggedPerMinute = 10;
    // What may wait to be sent to one peer (pongs, pings) before it is dropped.
    static constexpr qint64 maxUnsentBytes = 1024 * 1024;
    static constexpr std::chrono::milliseconds listenRetryInterval{2000};

    struct Timing
    {
        // Each peer is pinged this often, and dropped after this long without
        // a pong or a byte: a link whose cable was pulled sends no FIN.
        std::chrono::milliseconds pingInterval{5000};
        std::chrono::milliseconds silenceLimit{15000};
        // The machine's addresses are read again this often while no terminal is connected.
        std::chrono::milliseconds addressPollInterval{3000};
        // A message not whole this long after its first byte closes its
        // connection (1008), however many fragments keep it alive.
        std::chrono::milliseconds unfinishedLimit{60000};
    };
    using AddressSource = std::function<QList<QHostAddress>()>;

    // Accepted TCP connections are handed to `upgrader` for their handshake.
    TerminalLinks(QWebSocketServer *upgrader, quint16 port, const Timing &timing, QObject *parent = nullptr);
    ~TerminalLinks() override;

    void setListenAddress(const QHostAddress &address) { m_listenAddress = address; }
    void setAllowedTerminals(const QList<Subnet> &allowed) { m_allowedTerminals = allowed; }
    void setAddressSource(AddressSource source) { m_addressSource = std::move(source); }

    void start();
    void stopListening();

    quint16 serverPort() const { return m_tcpServer.serverPort(); }
    bool isListening() const { return m_tcpServer.isListening(); }
    bool isPortBusy() const { return m_portBusy; }
    bool isAddressMissing() const { return m_addressMissing; }
    QJsonArray addresses() const { return m_addresses; }
    // Terminals past their handshake, and every connection including handshakes.
    int openSocketCount() const { return m_openSockets; }
    int connectionCount() const { return int(m_links.size()); }

    // A socket the upgrader finished: its link's id, or 0 if that link was
    // dropped meanwhile (the socket is then aborted and released).
    quint64 attach(QWebSocket *socket);
    // A message came on this socket: its silence starts again. Returns its
    // link's id, 0 if unknown.
    quint64 noteMessage(const QObject *socket);
    // The socket disconnected: forgotten, and reported by closed().
    void forget(QWebSocket *socket);
    // The link whose order or payment the screen shows (0: none): never
    // closed to make room, nor for the budget of unfinished messages.
    void setDriving(quint64 id) { m_driving = id; }
    // Lets go of every socket without a signal to `receiver` or to this.
    void release(QObject *receiver);

signals:
    void addressesChanged();
    void listeningChanged();
    // After its line is logged. `lastLeft`: no terminal is connected any more.
    void closed(QWebSocket *socket, quint64 id, bool lastLeft);

private:
    // One accepted TCP connection, from before its handshake until it goes.
    struct Link
    {
        quint64 id = 0;
        QPointer<QTcpSocket> tcp;
        QWebSocket *socket = nullptr; // once the handshake is done
        QString peer;
        QHostAddress address;
        qint64 acceptedAt = 0; // on linkClock(), ms
        qint64 lastSign = 0;   // of life: a pong or a byte
        qint64 lastPing = 0;
        qint64 lastMessage = 0;      // or when it was accepted
        qint64 unfinishedFrames = 0; // bytes of the frames of a message not yet whole
        qint64 partialFrame = 0;     // bytes of a frame not yet whole
        qint64 unfinishedSince = 0;  // when the first of them came; 0: none
        bool peerClosed = false;     // a close frame came, so its code and reason mean something
        QString droppedBecause;      // when we dropped or closed it
    };
    void acceptConnections();
    void admit(QTcpSocket *tcp);
    int linkIndex(const QObject *tcpOrSocket) const;
    int linkIndex(quint64 id) const;
    void drop(quint64 id, const QString &because);
    void onHandshakeAbandoned(QTcpSocket *tcp);
    void checkLinks();
    void checkBacklog(quint64 id);
    void bytesCame(quint64 id);
    void frameCame(quint64 id, qsizetype size, bool last);
    void checkUnfinished();
    void close(quint64 id, QWebSocketProtocol::CloseCode code, const QString &because);
    QList<LinkPolicy::Peer> policyPeers();
    static QString makingRoom(const QString &peer);
    void logComing(const QString &peer, const QHostAddress &address, const QString &what);
    qint64 linkClock();
    bool warnOnce(const QString &key);
    void tryListen();
    void refreshAddresses();
    void updateTimers();

    QWebSocketServer *m_upgrader;
    QHostAddress m_listenAddress;
    QList<Subnet> m_allowedTerminals;
    quint16 m_port;
    Timing m_timing;
    AddressSource m_addressSource;
    QJsonArray m_addresses;
    QTcpServer m_tcpServer;
    QList<Link> m_links; // oldest first
    quint64 m_nextLinkId = 1;
    quint64 m_driving = 0;
    int m_openSockets = 0;
    bool m_running = false;
    bool m_portBusy = false;
    bool m_addressMissing = false;
    QString m_listenFailure; // the last reason logged, so a retry does not repeat it
    QElapsedTimer m_clock;
    // The links' times are on linkClock(): m_clock less the spells this
    // thread was held up.
    qint64 m_lastLinkClock = 0;
    qint64 m_heldUp = 0;
    QTimer m_linkTimer;
    QTimer m_listenTimer;
    QTimer m_addressTimer;
    QHash<QString, qint64> m_warned; // what was warned about, and when
    struct Comings
    {
        qint64 since = 0; // the minute being counted
        int logged = 0;
        int left = 0; // lines left out since the last one written
    };
    QHash<QString, Comings> m_comings; // by host
};
