// 10,000 connect/disconnect cycles against the real display core, 1,000 of
// them ending in a TCP reset without a close frame.
#include "ProcessMemory.h"
#include "RawTerminal.h"
#include "SoakMessages.h"
#include "Spin.h"

#include "core/AllocatorTuning.h"
#include "core/AppCore.h"

#include <QTest>

#include <memory>

class TestSoakConnections : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cycles();

private:
    // One connection: open, maybe send an order, then close or reset.
    bool cycle(int index);
    static void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text);

    std::unique_ptr<AppCore> m_core;
    int m_connected = 0;
    int m_disconnected = 0;
    bool m_waiting = true;
    static inline QtMessageHandler s_previous = nullptr;
};

void TestSoakConnections::quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Every peer coming and going is a link warning: not printed here.
    if (type != QtDebugMsg && qstrcmp(context.category, "qv4.link") != 0)
        s_previous(type, context, text);
}

void TestSoakConnections::initTestCase()
{
    // Memory as the display keeps it: the bounds below hold for its allocator settings.
    AllocatorTuning::apply();
    s_previous = qInstallMessageHandler(quiet);
    NetworkService::setPortForTesting(0);
    m_core = std::make_unique<AppCore>();
    QVERIFY(m_core->networkService()->isListening());
    connect(m_core->networkService(), &NetworkService::terminalConnected, this, [this] {
        ++m_connected;
        m_waiting = false;
    });
    connect(m_core->networkService(), &NetworkService::terminalDisconnected, this, [this] {
        ++m_disconnected;
        m_waiting = true;
    });
}

bool TestSoakConnections::cycle(int index)
{
    NetworkService *service = m_core->networkService();
    ReceiptItemModel *receipt = m_core->appEnv()->receiptItemModel();
    const int connected = m_connected;
    const int disconnected = m_disconnected;

    RawTerminal terminal(service->serverPort());
    if (!terminal.connectTcp())
        return false;
    terminal.socket().write(terminal.handshakeRequest());
    if (!spinUntil([&] { return m_connected == connected + 1; }))
        return false;
    if (index % 4 == 0) {
        terminal.sendBinary(SoakMessages::order(3, index));
        if (!spinUntil([&] { return receipt->rowCount() == 3 && service->pendingMessageCount() == 0; }))
            return false;
    }
    if (index % 10 == 9) {
        terminal.reset();
    } else {
        terminal.sendClose();
        // As a client library does: wait for the display's close frame, then hang up.
        if (!spinUntil([&] {
                return terminal.socket().bytesAvailable() > 0 ||
                       terminal.socket().state() != QAbstractSocket::ConnectedState;
            }))
            return false;
        terminal.socket().disconnectFromHost();
    }
    return spinUntil([&] {
        return m_disconnected == disconnected + 1 && service->openSocketCount() == 0 &&
               service->pendingMessageCount() == 0;
    });
}

void TestSoakConnections::cycles()
{
    const int warmup = 500;
    const int total = qEnvironmentVariableIntValue("QV4_SOAK_CYCLES") > 0
                          ? qEnvironmentVariableIntValue("QV4_SOAK_CYCLES")
                          : 10000;
    for (int i = 0; i < warmup; ++i)
        QVERIFY2(cycle(i), qPrintable(QStringLiteral("warm-up cycle %1").arg(i)));
    const qint64 before = ProcessMemory::residentKb();

    int resets = 0;
    for (int i = 0; i < total; ++i) {
        QVERIFY2(cycle(i), qPrintable(QStringLiteral("cycle %1").arg(i)));
        if (i % 10 == 9)
            ++resets;
    }
    const qint64 after = ProcessMemory::residentKb();
    qInfo("%d cycles (%d ended by a TCP reset): resident %lld kB before, %lld kB after, growth %lld kB",
          total, resets, before, after, after - before);

    QCOMPARE(resets, 1000);
    QVERIFY(m_waiting);
    QCOMPARE(m_connected, warmup + total);
    QCOMPARE(m_disconnected, warmup + total);
    QCOMPARE(m_core->appEnv()->receiptItemModel()->rowCount(), 0);
    QCOMPARE(m_core->networkService()->openSocketCount(), 0);
    if (ProcessMemory::meaningful)
        QVERIFY2(after - before <= 1024, qPrintable(QStringLiteral("grew by %1 kB").arg(after - before)));
}

QTEST_GUILESS_MAIN(TestSoakConnections)
#include "tst_soak_connections.moc"
