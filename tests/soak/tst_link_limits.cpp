// What a host on the shop's network can make the display hold through the
// terminal link itself: pongs it never reads, and connections taking every place.
#include "ProcessMemory.h"
#include "RawTerminal.h"
#include "SoakMessages.h"
#include "Spin.h"

#include "core/AllocatorTuning.h"
#include "core/AppCore.h"

#include <QElapsedTimer>
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
    void attacksEndAndMemoryComesBack_data();
    void attacksEndAndMemoryComesBack();

private:
    // Connects a terminal, sends an order: how many ms after the send it is
    // applied, or -1.
    qint64 nextOrderShows();
    // `connections` peers send orders just under the message cap for `ms`.
    void floodLargeOrders(int connections, int ms);

    NetworkService *service() const { return m_core->networkService(); }
    bool connectionsAre(int count) const
    {
        return spinUntil([&] { return service()->connectionCount() == count; });
    }

    std::unique_ptr<AppCore> m_core;
    int m_tag = 1000;
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

qint64 TestLinkLimits::nextOrderShows()
{
    RawTerminal terminal(service()->serverPort());
    if (!terminal.open())
        return -1;
    const int tag = ++m_tag;
    QElapsedTimer timer;
    timer.start();
    terminal.sendBinary(SoakMessages::order(3, tag));
    terminal.socket().flush();
    const bool shown = spinUntil([&] { return m_core->appEnv()->order()->totalAmount == tag; });
    const qint64 elapsed = timer.elapsed();
    terminal.socket().abort();
    return shown && connectionsAre(0) ? elapsed : -1;
}

void TestLinkLimits::floodLargeOrders(int connections, int ms)
{
    const qsizetype cap = qsizetype(NetworkService::maxIncomingSize) - 16;
    int lines = 50000;
    lines = int(qint64(lines) * cap / SoakMessages::order(lines, 0).size());
    QByteArray message = SoakMessages::order(lines, 0);
    while (message.size() > cap)
        message = SoakMessages::order(lines -= 10, 0);
    const QByteArray frame = RawTerminal::binaryFrame(message);
    QVERIFY(frame.size() < qsizetype(NetworkService::maxIncomingSize));
    std::vector<std::unique_ptr<RawTerminal>> peers;
    std::vector<qint64> offsets(connections, 0);
    for (int i = 0; i < connections; ++i) {
        peers.push_back(std::make_unique<RawTerminal>(service()->serverPort()));
        QVERIFY(peers.back()->open());
    }
    // Straight to the kernel: this process buffers none of it.
    QElapsedTimer timer;
    timer.start();
    int sent = 0;
    spinUntil(
        [&] {
            for (int i = 0; i < connections; ++i) {
                offsets[i] += peers[i]->pushRaw(frame.constData() + offsets[i], frame.size() - offsets[i]);
                if (offsets[i] == frame.size()) {
                    offsets[i] = 0;
                    ++sent;
                }
            }
            return timer.elapsed() >= ms;
        },
        ms + 1000);
    qInfo("%d messages of %lld bytes sent", sent, qint64(frame.size()));
    peers.clear();
    QVERIFY(connectionsAre(0));
}

void TestLinkLimits::attacksEndAndMemoryComesBack_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<int>("peakMb"); // what it may add while it goes on
    QTest::newRow("4 connections flooding 16 MiB orders") << "flood" << 1536;
}

void TestLinkLimits::attacksEndAndMemoryComesBack()
{
    QFETCH(QString, attack);
    QFETCH(int, peakMb);
    QVERIFY(nextOrderShows() >= 0);
    const qint64 before = ProcessMemory::residentKb();
    ProcessMemory::resetPeak();
    if (attack == "flood")
        floodLargeOrders(4, 3000);
    const qint64 peak = ProcessMemory::peakKb() - before;

    // What the display itself gives back: nothing here asks the allocator.
    QElapsedTimer timer;
    timer.start();
    qint64 after = 0;
    const bool back = spinUntil(
        [&] {
            after = ProcessMemory::residentAsIsKb();
            return after - before <= 32 * 1024;
        },
        60000);
    qInfo("%s: peak +%lld kB; %lld kB over the start %lld ms after it ended", QTest::currentDataTag(), peak,
          after - before, timer.elapsed());
    const qint64 elapsed = nextOrderShows();
    qInfo("%s: the next order showed %lld ms after it was sent", QTest::currentDataTag(), elapsed);
    QVERIFY(elapsed >= 0);
    if (ProcessMemory::meaningful) {
        QVERIFY2(peak <= peakMb * 1024, qPrintable(QStringLiteral("peak +%1 kB").arg(peak)));
        QVERIFY2(back, qPrintable(QStringLiteral("%1 kB held after 60 s").arg(after - before)));
    }
    QVERIFY2(elapsed <= (ProcessMemory::meaningful ? 1000 : 15000), qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TestLinkLimits)
#include "tst_link_limits.moc"
