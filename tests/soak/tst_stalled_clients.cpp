// A peer that opens TCP and never finishes its handshake, and one that stops
// in the middle of a frame: neither may hold up other terminals or the
// display's event loop.
#include "RawTerminal.h"
#include "SoakMessages.h"
#include "Spin.h"

#include "core/AppCore.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <memory>

class TestStalledClients : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void stalledPeersDoNotBlock_data();
    void stalledPeersDoNotBlock();

private:
    static void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text);
    std::unique_ptr<AppCore> m_core;
    static inline QtMessageHandler s_previous = nullptr;
};

void TestStalledClients::quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Every peer coming and going is a link warning: not printed here.
    if (type != QtDebugMsg && qstrcmp(context.category, "qv4.link") != 0)
        s_previous(type, context, text);
}

void TestStalledClients::initTestCase()
{
    s_previous = qInstallMessageHandler(quiet);
    NetworkService::setPortForTesting(0);
    m_core = std::make_unique<AppCore>();
}

void TestStalledClients::stalledPeersDoNotBlock_data()
{
    QTest::addColumn<QByteArray>("stall");
    QTest::addColumn<bool>("handshaken");

    const QByteArray frame = RawTerminal::binaryFrame(SoakMessages::order(3, 5));
    QTest::newRow("nothing after connecting") << QByteArray() << false;
    QTest::newRow("half a handshake")
        << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: webs") << false;
    QTest::newRow("frame header only") << RawTerminal::frameHeader(1000) << true;
    QTest::newRow("half a frame") << frame.left(frame.size() / 2) << true;
    QTest::newRow("first fragment of a message")
        << RawTerminal::frameHeader(5, 0x2, false) + RawTerminal::masked("{\"pat") << true;
}

void TestStalledClients::stalledPeersDoNotBlock()
{
    QFETCH(QByteArray, stall);
    QFETCH(bool, handshaken);
    AppEnv *env = m_core->appEnv();
    const quint16 port = m_core->networkService()->serverPort();

    // The event loop's pulse: the longest gap between two 10 ms ticks.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer pulse;
    connect(&pulse, &QTimer::timeout, this, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    sinceTick.start();
    pulse.start(10);

    RawTerminal stalled(port);
    QVERIFY(handshaken ? stalled.open() : stalled.connectTcp());
    stalled.socket().write(stall);
    stalled.socket().flush();

    // Two terminals are served, one after the other, while the stalled peer
    // keeps its connection.
    for (int tag = 101; tag <= 102; ++tag) {
        RawTerminal terminal(port);
        QVERIFY(terminal.open());
        terminal.sendBinary(SoakMessages::order(2, tag));
        QVERIFY(spinUntil([&] {
            return env->order()->totalAmount == tag && env->client()->bonusCount == tag &&
                   env->receiptItemModel()->rowCount() == 2;
        }));
        terminal.sendClose();
        QVERIFY(terminal.waitForDisconnected());
    }
    QCOMPARE(stalled.socket().state(), QAbstractSocket::ConnectedState);
    pulse.stop();
    qInfo("longest event-loop gap while a peer stalled: %lld ms", longestGap);
    // A blocking wait for the stalled peer would show as a gap of seconds.
    QVERIFY2(longestGap < 2000, qPrintable(QStringLiteral("%1 ms").arg(longestGap)));
}

QTEST_GUILESS_MAIN(TestStalledClients)
#include "tst_stalled_clients.moc"
