#pragma once

#include "MessageLog.h"
#include "core/AppCore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

#include <memory>

// The real display core on a free port of 127.0.0.1, with its log captured,
// and the little a test needs to play the cash terminal.
class DisplayHarness
{
public:
    static constexpr int timeout = 10000;
    static inline const QString logPrefix =
        QStringLiteral("void NetworkService::binaryMessageRecived(const QByteArray&)");

    DisplayHarness()
    {
        NetworkService::setPortForTesting(0);
        m_core = std::make_unique<AppCore>();
    }

    AppCore *core() const { return m_core.get(); }
    AppEnv *env() const { return m_core->appEnv(); }
    Order *order() const { return m_core->appEnv()->order(); }
    Client *client() const { return m_core->appEnv()->client(); }
    ReceiptItemModel *receipt() const { return m_core->appEnv()->receiptItemModel(); }
    NetworkService *service() const { return m_core->networkService(); }
    MessageLog &log() { return m_log; }
    quint16 port() const { return service()->serverPort(); }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port())); }

    // Shuts the core down as the application does at exit.
    void destroyCore() { m_core.reset(); }

    // Connects a terminal and waits until the display has accepted it.
    bool open(QWebSocket &terminal)
    {
        const int before = service()->openSocketCount();
        QSignalSpy connected(&terminal, &QWebSocket::connected);
        terminal.open(url());
        if (!connected.wait(timeout))
            return false;
        return QTest::qWaitFor(
            [&]() {
                return terminal.state() == QAbstractSocket::ConnectedState &&
                       service()->openSocketCount() == before + 1 && service()->pendingMessageCount() == 0;
            },
            timeout);
    }

    // Closes a terminal and waits until the display has run its reset.
    bool close(QWebSocket &terminal)
    {
        const int before = service()->openSocketCount();
        terminal.close();
        return QTest::qWaitFor(
            [&]() {
                return service()->openSocketCount() == before - 1 && service()->pendingMessageCount() == 0;
            },
            timeout);
    }

    // Sends binary messages and waits until the display has logged and
    // applied every one of them (order loads included).
    bool send(QWebSocket &terminal, const QList<QByteArray> &messages)
    {
        const int before = m_log.count(logPrefix);
        for (const QByteArray &message : messages)
            terminal.sendBinaryMessage(message);
        return waitForMessages(before + int(messages.size()));
    }
    bool send(QWebSocket &terminal, const QByteArray &message)
    {
        return send(terminal, QList<QByteArray>{message});
    }

    bool waitForMessages(int logged)
    {
        return QTest::qWaitFor(
            [&]() { return m_log.count(logPrefix) >= logged && service()->pendingMessageCount() == 0; },
            timeout);
    }

    static QByteArray message(const QString &path, const QJsonValue &content)
    {
        return QJsonDocument(
                   QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("content"), content}})
            .toJson(QJsonDocument::Compact);
    }

private:
    MessageLog m_log; // outlives the core, which may log while it goes
    std::unique_ptr<AppCore> m_core;
};
