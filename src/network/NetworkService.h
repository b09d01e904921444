#pragma once

#include "MessageIntake.h"
#include "TerminalLinks.h"
#include "core/IService.h"
#include "protocol/MessageTable.h"
#include "state/ReceiptItem.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QQueue>
#include <QTimer>
#include <QWebSocketServer>

#include <chrono>

class AppEnv;
class QTcpSocket;
class QWebSocket;

// The display's one network endpoint: terminals connect over WebSocket and
// push the current order. Nothing is ever sent back.
class NetworkService : public IService
{
    Q_OBJECT
    // Name kept as written. Declared a QVariant (holding the array), since
    // Qt 6.4's QML tools know no QJsonArray; documents get an array either way.
    Q_PROPERTY(QVariant avaliableIps READ avaliableIps NOTIFY avaliableIpsChanged FINAL)
    Q_PROPERTY(bool listening READ isListening NOTIFY listeningChanged FINAL)
    // Why not: the port is held by another program (else some other reason).
    Q_PROPERTY(bool portBusy READ isPortBusy NOTIFY listeningChanged FINAL)
    // Or: the --listen address is not one of this machine's (yet).
    Q_PROPERTY(bool addressMissing READ isAddressMissing NOTIFY listeningChanged FINAL)
    Q_PROPERTY(int port READ port CONSTANT FINAL)
public:
    using Subnet = TerminalLinks::Subnet;
    using Timing = TerminalLinks::Timing;

    static constexpr quint16 defaultPort = 30058;
    // The link's limits live with the link.
    static constexpr quint64 maxIncomingSize = TerminalLinks::maxIncomingSize;
    static constexpr std::chrono::milliseconds handshakeTimeout = TerminalLinks::handshakeTimeout;
    static constexpr int maxConnections = TerminalLinks::maxConnections;
    static constexpr int maxPerAddress = TerminalLinks::maxPerAddress;
    static constexpr qint64 unfinishedBudget = TerminalLinks::unfinishedBudget;
    static constexpr int comingsLoggedPerMinute = TerminalLinks::comingsLoggedPerMinute;
    static constexpr qint64 maxUnsentBytes = TerminalLinks::maxUnsentBytes;
    static constexpr std::chrono::milliseconds listenRetryInterval = TerminalLinks::listenRetryInterval;

    explicit NetworkService(AppEnv *env, QObject *parent = nullptr);
    ~NetworkService() override;

    QJsonArray avaliableIps() const { return m_avaliableIps; }

    void processPayment(const QJsonObject &content);
    void calculateReceiptDiscount(const QList<ReceiptItem> &items);
    void resetPaymentParams();

    // Receipt discount in hundredths: per-line and running truncation.
    static int receiptDiscount(const QList<ReceiptItem> &items);

    // The port actually listened on (differs from the configured one only in tests).
    quint16 serverPort() const { return m_links.serverPort(); }
    bool isListening() const { return m_links.isListening(); }
    bool isPortBusy() const { return m_links.isPortBusy(); }
    bool isAddressMissing() const { return m_links.isAddressMissing(); }
    int port() const { return m_port; }
    // Terminals past their handshake, and every connection including handshakes.
    int openSocketCount() const { return m_links.openSocketCount(); }
    int connectionCount() const { return m_links.connectionCount(); }
    int pendingMessageCount() const { return int(m_pending.size()) + (m_busy ? 1 : 0); }
    int pendingCheckBytes() const { return m_intake.pendingCheckBytes(); }

    // Set before run(): the one local address to listen on (null: every
    // interface) and the terminals allowed to connect (empty: any host).
    void setListenAddress(const QHostAddress &address) { m_links.setListenAddress(address); }
    void setAllowedTerminals(const QList<Subnet> &allowed) { m_links.setAllowedTerminals(allowed); }

    // Test seam: the port that services constructed from now on listen on
    // (0 picks a free one). Not reachable from the command line.
    static void setPortForTesting(quint16 port);
    // Test seam: the heartbeat and polling intervals of services constructed from now on.
    static void setTimingForTesting(const Timing &timing);
    // Test seam: where the machine's addresses come from (by default every interface's).
    using AddressSource = TerminalLinks::AddressSource;
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
    void binaryMessageRecived(QByteArray message); // name kept as written
    void textMessageIgnored();
    void onTerminalDisconnected();

private:
    void onLinkClosed(QWebSocket *socket, quint64 id, bool lastLeft);

    // The message kinds as the path table gives them.
    enum Kind {
        OrderKind = int(MessageTable::Kind::Order),
        PromoImageKind = int(MessageTable::Kind::PromoImage),
        AppLogoKind = int(MessageTable::Kind::AppLogo),
        PaymentKind = int(MessageTable::Kind::Payment),
        BonusKind = int(MessageTable::Kind::Bonus),
    };

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
    void loadFailed();
    void applyBonus(const QJsonObject &content);
    void resetScreen();
    void showPaymentOutcome(const QString &result);
    void endPaymentOutcome();

    QJsonArray m_avaliableIps;
    AppEnv *m_env;
    quint16 m_port;
    TerminalLinks m_links; // before the server that upgrades its sockets, so it outlives it
    QWebSocketServer m_server;
    QPointer<QWebSocket> m_currentTerminal;
    QHash<QString, int> m_paths;
    quint64 m_orderFrom = 0; // the connection whose order is on screen
    QQueue<Step> m_pending;
    bool m_busy = false;
    bool m_resumeScheduled = false;
    QTimer m_outcomeShown;  // how long the end of a payment stays
    MessageIntake m_intake; // last: its threads end before the rest goes
};
