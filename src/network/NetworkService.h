#pragma once

#include "MessageIntake.h"
#include "core/IService.h"
#include "state/ReceiptItem.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocketServer>

#include <chrono>
#include <functional>

class AppEnv;
class QTcpSocket;
class QWebSocket;

// The display's one network endpoint: terminals connect over WebSocket and
// push the current order. Nothing is ever sent back.
class NetworkService : public IService
{
    Q_OBJECT
    Q_PROPERTY(QJsonArray avaliableIps READ avaliableIps NOTIFY avaliableIpsChanged FINAL)
    Q_PROPERTY(bool listening READ isListening NOTIFY listeningChanged FINAL)
    // Why not: the port is held by another program (else some other reason).
    Q_PROPERTY(bool portBusy READ isPortBusy NOTIFY listeningChanged FINAL)
    Q_PROPERTY(int port READ port CONSTANT FINAL)
public:
    // A subnet as QHostAddress::parseSubnet gives it (a single host: full prefix length).
    using Subnet = QPair<QHostAddress, int>;

    static constexpr quint16 defaultPort = 30058;
    // What one peer may make us buffer: a frame and a whole message.
    static constexpr quint64 maxIncomingSize = 16 * 1024 * 1024;
    // A peer that opens a connection but never finishes its handshake is dropped.
    static constexpr std::chrono::milliseconds handshakeTimeout{10000};
    // Connections open at once, handshakes included. At the limit a newcomer
    // takes the place of the oldest that never sent a message.
    static constexpr int maxConnections = 64;
    // What may wait to be sent to one peer (pongs, pings) before it is dropped.
    static constexpr qint64 maxUnsentBytes = 1024 * 1024;
    static constexpr std::chrono::milliseconds listenRetryInterval{2000};

    struct Timing
    {
        // Each peer is pinged this often, and dropped after this long without
        // a pong or a frame: a link whose cable was pulled sends no FIN.
        std::chrono::milliseconds pingInterval{5000};
        std::chrono::milliseconds silenceLimit{15000};
        // The machine's addresses are read again this often while no terminal is connected.
        std::chrono::milliseconds addressPollInterval{3000};
    };

    explicit NetworkService(AppEnv *env, QObject *parent = nullptr);
    ~NetworkService() override;

    QJsonArray avaliableIps() const { return m_avaliableIps; }

    void processPayment(const QJsonObject &content);
    void calculateReceiptDiscount(const QList<ReceiptItem> &items);
    void resetPaymentParams();

    // Receipt discount in hundredths: per-line and running truncation.
    static int receiptDiscount(const QList<ReceiptItem> &items);

    // The port actually listened on (differs from the configured one only in tests).
    quint16 serverPort() const { return m_tcpServer.serverPort(); }
    bool isListening() const { return m_tcpServer.isListening(); }
    bool isPortBusy() const { return m_portBusy; }
    int port() const { return m_port; }
    // Terminals past their handshake, and every connection including handshakes.
    int openSocketCount() const { return m_openSockets; }
    int connectionCount() const { return int(m_links.size()); }
    int pendingMessageCount() const { return int(m_pending.size()) + (m_busy ? 1 : 0); }
    int pendingCheckBytes() const { return m_intake.pendingCheckBytes(); }

    // Set before run(): the one local address to listen on (null: every
    // interface) and the terminals allowed to connect (empty: any host).
    void setListenAddress(const QHostAddress &address) { m_listenAddress = address; }
    void setAllowedTerminals(const QList<Subnet> &allowed) { m_allowedTerminals = allowed; }

    // Test seam: the port that services constructed from now on listen on
    // (0 picks a free one). Not reachable from the command line.
    static void setPortForTesting(quint16 port);
    // Test seam: the heartbeat and polling intervals of services constructed from now on.
    static void setTimingForTesting(const Timing &timing);
    // Test seam: where the machine's addresses come from (by default every interface's).
    using AddressSource = std::function<QList<QHostAddress>()>;
    void setAddressSource(AddressSource source);

signals:
    void avaliableIpsChanged();
    void listeningChanged();
    void terminalConnected();
    void terminalDisconnected();

public slots:
    void run() override;
    void stop() override;
    void generateQrCode(QString qrTable);

private slots:
    void newConnection();
    void binaryMessageRecived(QByteArray message);
    void textMessageIgnored();
    void onTerminalDisconnected();

private:
    // One accepted TCP connection, from before its handshake until it goes.
    struct Link
    {
        quint64 id = 0;
        QPointer<QTcpSocket> tcp;
        QWebSocket *socket = nullptr; // once the handshake is done
        QString peer;
        qint64 acceptedAt = 0; // on m_clock, ms
        qint64 lastSign = 0;   // of life: a pong or a frame
        qint64 lastPing = 0;
        bool sentBinary = false;
        bool peerClosed = false; // a close frame came, so its code and reason mean something
        QString droppedBecause;  // when we dropped it
    };
    void acceptConnections();
    void admit(QTcpSocket *tcp);
    int linkIndex(const QObject *tcpOrSocket) const;
    int linkIndex(quint64 id) const;
    void drop(quint64 id, const QString &because);
    void forget(QWebSocket *socket);
    void onHandshakeAbandoned(QTcpSocket *tcp);
    void checkLinks();
    void checkBacklog(quint64 id);
    bool warnOnce(const QString &key);
    void tryListen();
    void refreshAddresses();
    void updateTimers();

    enum Kind { OrderKind = 1, PromoImageKind, AppLogoKind, PaymentKind, BonusKind };

    // Connections, messages and disconnect resets take effect strictly in
    // arrival order: a step that waits for a pool load holds back everything
    // behind it.
    // A message step waits for its parse and its log line (both off this
    // thread) before it takes effect.
    enum StepKind { DisconnectStep = 0, ConnectStep = -1, MessageStep = -2, IgnoredStep = -3 };
    struct Step
    {
        int kind = DisconnectStep; // a Kind, or a StepKind
        quint64 link = 0;          // the connection it came from
        bool lastLeft = false;     // a disconnect that left no terminal connected
        QJsonObject content;
        QFuture<QJsonObject> parsed;
        QFuture<void> logged; // its line; for connect and disconnect, the lines before
    };
    void enqueue(Step step);
    void drain();
    bool resolve(Step &step);
    template <typename T> void resumeWhenFinished(const QFuture<T> &future);
    void applyStep(const Step &step);
    void applyOrder(const QJsonObject &content, const QFuture<void> &logged);
    void applyBonus(const QJsonObject &content);
    void resetScreen();

    QJsonArray m_avaliableIps;
    AppEnv *m_env;
    QHostAddress m_listenAddress;
    QList<Subnet> m_allowedTerminals;
    quint16 m_port;
    Timing m_timing;
    AddressSource m_addressSource;
    QTcpServer m_tcpServer; // before the server that upgrades its sockets
    QWebSocketServer m_server;
    QPointer<QWebSocket> m_currentTerminal;
    QHash<QString, int> m_paths;

    QList<Link> m_links; // oldest first
    quint64 m_nextLinkId = 1;
    int m_openSockets = 0;
    quint64 m_orderFrom = 0; // the connection whose order is on screen
    bool m_running = false;
    bool m_portBusy = false;
    QString m_listenFailure; // the last reason logged, so a retry does not repeat it
    QElapsedTimer m_clock;
    QTimer m_linkTimer;
    QTimer m_listenTimer;
    QTimer m_addressTimer;
    QHash<QString, qint64> m_warned; // what was warned about, and when
    QQueue<Step> m_pending;
    bool m_busy = false;
    bool m_resumeScheduled = false;
    MessageIntake m_intake; // last: its threads end before the rest goes
};
