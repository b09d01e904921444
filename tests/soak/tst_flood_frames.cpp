// 100 clients at once each announce a 2 GiB frame and start sending it: the
// display must drop every one of them without buffering their payload, and
// keep serving a well-behaved terminal.
#include "ProcessMemory.h"
#include "RawTerminal.h"
#include "SoakMessages.h"
#include "Spin.h"

#include "core/AllocatorTuning.h"
#include "core/AppCore.h"

#include <QTest>

#include <memory>
#include <vector>

class TestFloodFrames : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void hugeFrames();

private:
    bool serveOrder(int tag);
    static void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text);

    std::unique_ptr<AppCore> m_core;
    static inline QtMessageHandler s_previous = nullptr;
};

void TestFloodFrames::quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Every peer coming and going is a link warning: not printed here.
    if (type != QtDebugMsg && qstrcmp(context.category, "qv4.link") != 0)
        s_previous(type, context, text);
}

void TestFloodFrames::initTestCase()
{
    // Memory as the display keeps it: the bounds below hold for its allocator settings.
    AllocatorTuning::apply();
    s_previous = qInstallMessageHandler(quiet);
    NetworkService::setPortForTesting(0);
    m_core = std::make_unique<AppCore>();
    QVERIFY(m_core->networkService()->isListening());
}

// A terminal that behaves: its order is applied, whatever else is going on.
bool TestFloodFrames::serveOrder(int tag)
{
    AppEnv *env = m_core->appEnv();
    RawTerminal terminal(m_core->networkService()->serverPort());
    if (!terminal.open())
        return false;
    terminal.sendBinary(SoakMessages::order(4, tag));
    return spinUntil([&] {
        return env->order()->totalAmount == tag && env->client()->bonusCount == tag &&
               env->receiptItemModel()->rowCount() == 4;
    });
}

void TestFloodFrames::hugeFrames()
{
    QVERIFY(serveOrder(1));
    const qint64 idle = ProcessMemory::residentKb();

    const int clients = 100;
    const quint64 announced = quint64(2) << 30;
    const QByteArray chunk(256 * 1024, 'x');
    std::vector<std::unique_ptr<RawTerminal>> flood;
    for (int i = 0; i < clients; ++i) {
        flood.push_back(std::make_unique<RawTerminal>(m_core->networkService()->serverPort()));
        QVERIFY(flood.back()->open());
    }
    // Announce, then push payload: a server that buffered it would hold
    // 100 x 1 MiB here at least.
    for (auto &terminal : flood)
        terminal->socket().write(RawTerminal::frameHeader(announced));
    ProcessMemory::resetPeak();
    qint64 pushed = 0;
    for (int round = 0; round < 4; ++round) {
        for (auto &terminal : flood) {
            if (terminal->socket().state() == QAbstractSocket::ConnectedState)
                pushed += terminal->pushRaw(RawTerminal::masked(chunk));
        }
        spinUntil([] { return false; }, 50);
    }
    QVERIFY(serveOrder(2)); // served while the flood is going on

    QVERIFY(spinUntil(
        [&] {
            for (auto &terminal : flood) {
                if (terminal->socket().state() != QAbstractSocket::UnconnectedState)
                    return false;
            }
            return true;
        },
        30000));
    QVERIFY(spinUntil([&] { return m_core->networkService()->openSocketCount() == 0; }));
    flood.clear();
    QVERIFY(serveOrder(3));
    const qint64 peak = ProcessMemory::peakKb();
    const qint64 after = ProcessMemory::residentKb();

    qInfo("%d clients announcing %llu-byte frames, %lld payload bytes taken by the kernel: resident %lld kB "
          "idle, "
          "peak %lld kB (+%lld kB), %lld kB after",
          clients, announced, pushed, idle, peak, peak - idle, after);
    if (ProcessMemory::meaningful)
        QVERIFY2(peak - idle < 50 * 1024, qPrintable(QStringLiteral("peak grew by %1 kB").arg(peak - idle)));
}

QTEST_GUILESS_MAIN(TestFloodFrames)
#include "tst_flood_frames.moc"
