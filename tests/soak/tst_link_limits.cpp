// What a host on the shop's network can make the display hold through the
// terminal link itself: pongs it never reads, and connections taking every place.
#include "ProcessMemory.h"
#include "RawTerminal.h"
#include "SoakMessages.h"
#include "Spin.h"

#include "core/AllocatorTuning.h"
#include "core/AppCore.h"

#include <QTest>

#include <memory>
#include <vector>

#include <sys/resource.h>

class TestLinkLimits : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pongsNeverReadCloseTheSocket();
    void connectionsCannotLockOutTheTerminal_data();
    void connectionsCannotLockOutTheTerminal();

private:
    NetworkService *service() const { return m_core->networkService(); }
    bool connectionsAre(int count) const
    {
        return spinUntil([&] { return service()->connectionCount() == count; });
    }

    std::unique_ptr<AppCore> m_core;
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_linkWarnings; // hundreds of peers coming and going: kept, not printed
};

void TestLinkLimits::initTestCase()
{
    AllocatorTuning::apply();
    s_previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (qstrcmp(context.category, "qv4.link") == 0)
                s_linkWarnings.append(text);
            else if (type != QtDebugMsg)
                s_previous(type, context, text);
        });
    // As a desktop session starts it: a soft limit well below the hard one.
    rlimit before{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = std::min<rlim_t>(256, low.rlim_max);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
    NetworkService::setPortForTesting(0);
    m_core = std::make_unique<AppCore>();
    QVERIFY(service()->isListening());
    // The display raises it to the hard one to hold its connections.
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &low), 0);
    QCOMPARE(low.rlim_cur, before.rlim_max);
}

void TestLinkLimits::pongsNeverReadCloseTheSocket()
{
    RawTerminal peer(service()->serverPort());
    QVERIFY(peer.open());
    QVERIFY(connectionsAre(1));
    const qint64 before = ProcessMemory::residentKb();
    s_linkWarnings.clear();

    // Pings with the largest payload a control frame may carry, as fast as the kernel takes them.
    const QByteArray pings =
        (RawTerminal::frameHeader(125, 0x9) + RawTerminal::masked(QByteArray(125, 'p'))).repeated(512);
    qint64 sent = 0;
    QVERIFY(spinUntil(
        [&] {
            sent += peer.pushRaw(pings);
            return service()->openSocketCount() == 0;
        },
        60000));
    const qint64 after = ProcessMemory::residentKb();
    qInfo("closed after %lld bytes of pings; resident %lld kB before, %lld kB after", sent, before, after);

    QVERIFY2(s_linkWarnings.size() == 1 && s_linkWarnings.first().endsWith(
                                               ": disconnected, more than 1048576 bytes waiting to be sent"),
             qPrintable(s_linkWarnings.join('\n')));
    if (ProcessMemory::meaningful)
        QVERIFY2(after - before < 64 * 1024, qPrintable(QStringLiteral("grew by %1 kB").arg(after - before)));
}

void TestLinkLimits::connectionsCannotLockOutTheTerminal_data()
{
    QTest::addColumn<QString>("crowd"); // what takes the places first
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("admitted"); // whether the terminal gets in afterwards
    QTest::newRow("idle WebSocket clients") << "idle" << 80 << true;
    QTest::newRow("TCP connections without a handshake") << "silent" << 80 << true;
    QTest::newRow("clients that each sent a message") << "busy" << NetworkService::maxConnections << false;
}

void TestLinkLimits::connectionsCannotLockOutTheTerminal()
{
    QFETCH(QString, crowd);
    QFETCH(int, count);
    QFETCH(bool, admitted);
    std::vector<std::unique_ptr<RawTerminal>> peers;
    for (int i = 0; i < count; ++i) {
        RawTerminal &peer = *peers.emplace_back(std::make_unique<RawTerminal>(service()->serverPort()));
        QVERIFY(crowd == "silent" ? peer.connectTcp() : peer.open());
        QVERIFY(connectionsAre(std::min(i + 1, NetworkService::maxConnections)));
        if (crowd == "busy") {
            peer.sendBinary(SoakMessages::envelope("bonus", {{"count", i}}));
            QVERIFY(spinUntil([&] { return m_core->appEnv()->order()->expenseBonusCount == i; }));
        }
    }
    RawTerminal terminal(service()->serverPort());
    QCOMPARE(terminal.open(), admitted);
    QVERIFY(connectionsAre(NetworkService::maxConnections));
    if (admitted) {
        terminal.sendBinary(SoakMessages::order(3, 42));
        QVERIFY(spinUntil([&] { return m_core->appEnv()->receiptItemModel()->rowCount() == 3; }));
        QCOMPARE(m_core->appEnv()->order()->totalAmount, 42.0);
    }
    terminal.socket().abort();
    peers.clear();
    QVERIFY(spinUntil(
        [&] { return service()->connectionCount() == 0 && service()->pendingMessageCount() == 0; }));
}

QTEST_GUILESS_MAIN(TestLinkLimits)
#include "tst_link_limits.moc"
