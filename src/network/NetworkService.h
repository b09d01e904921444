#pragma once

#include "MessageIntake.h"
#include "core/IService.h"
#include "state/ReceiptItem.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QWebSocketServer>

#include <chrono>

class AppEnv;
class QWebSocket;

// The display's one network endpoint: terminals connect over WebSocket and
// push the current order. Nothing is ever sent back.
class NetworkService : public IService
{
    Q_OBJECT
    Q_PROPERTY(QJsonArray avaliableIps READ avaliableIps NOTIFY avaliableIpsChanged FINAL)
    Q_PROPERTY(bool listening READ isListening NOTIFY listeningChanged FINAL)
public:
    // A subnet as QHostAddress::parseSubnet gives it (a single host: full prefix length).
    using Subnet = QPair<QHostAddress, int>;

    static constexpr quint16 defaultPort = 30058;
    // What one peer may make us buffer: a frame and a whole message.
    static constexpr quint64 maxIncomingSize = 16 * 1024 * 1024;
    // A peer that opens a connection but never finishes its handshake is dropped.
    static constexpr std::chrono::milliseconds handshakeTimeout{10000};

    explicit NetworkService(AppEnv *env, QObject *parent = nullptr);
    ~NetworkService() override;

    QJsonArray avaliableIps() const { return m_avaliableIps; }

    void processPayment(const QJsonObject &content);
    void calculateReceiptDiscount(const QList<ReceiptItem> &items);
    void resetPaymentParams();

    // Receipt discount in hundredths: per-line and running truncation.
    static int receiptDiscount(const QList<ReceiptItem> &items);

    // The port actually listened on (differs from the configured one only in tests).
    quint16 serverPort() const { return m_server.serverPort(); }
    bool isListening() const { return m_server.isListening(); }
    int openSocketCount() const { return int(m_sockets.size()); }
    int pendingMessageCount() const { return int(m_pending.size()) + (m_busy ? 1 : 0); }

    // Set before run(): the one local address to listen on (null: every
    // interface) and the terminals allowed to connect (empty: any host).
    void setListenAddress(const QHostAddress &address) { m_listenAddress = address; }
    void setAllowedTerminals(const QList<Subnet> &allowed) { m_allowedTerminals = allowed; }

    // Test seam: the port that services constructed from now on listen on
    // (0 picks a free one). Not reachable from the command line.
    static void setPortForTesting(quint16 port);

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
    void resetAfterDisconnect();

    QJsonArray m_avaliableIps;
    AppEnv *m_env;
    QHostAddress m_listenAddress;
    QList<Subnet> m_allowedTerminals;
    quint16 m_port;
    QWebSocketServer m_server;
    QPointer<QWebSocket> m_currentTerminal;
    QHash<QString, int> m_paths;

    QList<QWebSocket *> m_sockets;
    QQueue<Step> m_pending;
    bool m_busy = false;
    bool m_resumeScheduled = false;
    MessageIntake m_intake; // last: its threads end before the rest goes
};
