// Message latency and GUI-thread cost of "order" messages.
//
// A client on its own thread sends one "order" message at a time over
// 127.0.0.1 to a real NetworkService writing into a real AppEnv, and sends the
// next one only when the previous one was applied.
//
// Latency: from the start of the GUI-thread socket event that read the last
// bytes of the message (the last QEvent::SockAct delivered on the GUI thread
// before the message was applied; nothing else talks to this process then) to
// the moment AppEnv::clientChanged carries the message's marker, which is the
// last thing the dispatch does: lines, totals, client applied.
// GUI-thread cost: the summed CPU time of every event the GUI thread handled
// from the request to send until that message was applied (socket reads and
// frame decoding included, as they are inherent to a socket on that thread).
// Floor: QJsonDocument::fromJson of the same bytes plus the same
// QList<ReceiptItem> built with ReceiptItem::fromJson, on one thread.
#include "BenchMessages.h"
#include "BenchStats.h"

#include "core/AllocatorTuning.h"
#include "network/NetworkService.h"
#include "state/AppEnv.h"
#include "state/ReceiptItem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

QElapsedTimer g_clock;
inline qint64 nowNs()
{
    return g_clock.nsecsElapsed();
}

// CPU time of the calling thread: what it spent, not how long it waited for
// a core while other processes ran.
inline qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Times every event the GUI thread handles.
class TimingApp : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (QThread::currentThread() != thread()) // the sender's own events
            return QCoreApplication::notify(receiver, event);
        if (m_depth > 0) {
            ++m_depth;
            const bool r = QCoreApplication::notify(receiver, event);
            --m_depth;
            return r;
        }
        const qint64 start = nowNs();
        const qint64 cpuStart = threadCpuNs();
        if (event->type() == QEvent::SockAct)
            lastSocketEventStart = start;
        ++m_depth;
        const bool r = QCoreApplication::notify(receiver, event);
        --m_depth;
        const qint64 spent = threadCpuNs() - cpuStart;
        busyNs += spent;
        if (event->type() == QEvent::SockAct)
            socketBusyNs += spent;
        if (breakdown) {
            const QString key = QStringLiteral("%1 / event %2")
                                    .arg(QLatin1String(receiver->metaObject()->className()))
                                    .arg(int(event->type()));
            breakdownNs[key] += spent;
        }
        if (afterEvent)
            afterEvent();
        return r;
    }

    qint64 lastSocketEventStart = 0;
    qint64 busyNs = 0;
    qint64 socketBusyNs = 0; // of which socket events: reads, frame decoding, in-place parses
    bool breakdown = qEnvironmentVariableIsSet("BENCH_BREAKDOWN");
    QHash<QString, qint64> breakdownNs;
    std::function<void()> afterEvent;

private:
    int m_depth = 0; // GUI thread only
};

// Lives on its own thread; builds and sends one message on request.
class Sender : public QObject
{
    Q_OBJECT
public:
    QWebSocket socket;
    std::atomic<bool> open{false};

public slots:
    void connectTo(quint16 port)
    {
        connect(&socket, &QWebSocket::connected, this, [this] { open = true; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    void send(QByteArray message) { socket.sendBinaryMessage(message); }
};

FILE *g_sink = nullptr;
void discardingHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Format and write as the default handler does, to nowhere.
    const QByteArray line = qFormatLogMessage(type, context, text).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), g_sink);
    std::fputc('\n', g_sink);
}

struct Floor
{
    QList<double> total;
    QList<double> parse;
};

Floor measureFloor(const QList<QByteArray> &messages, int rounds)
{
    Floor floor;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        const QByteArray &bytes = messages.at(i % messages.size());
        timer.start();
        const QJsonObject object = QJsonDocument::fromJson(bytes).object();
        const qint64 parsed = timer.nsecsElapsed();
        const QJsonArray array =
            object.value(QLatin1String("content")).toObject().value(QLatin1String("receipt_items")).toArray();
        const QList<ReceiptItem> items = ReceiptItem::listFromJson(array);
        const qint64 built = timer.nsecsElapsed();
        floor.parse.append(parsed / 1000.0);
        floor.total.append(built / 1000.0);
    }
    return floor;
}

} // namespace

int main(int argc, char *argv[])
{
    AllocatorTuning::apply(); // as the display's main() does
    g_clock.start();
    TimingApp app(argc, argv);
    g_sink = std::fopen("/dev/null", "w");
    qInstallMessageHandler(discardingHandler);

    // bench_latency [messages per size] [sizes, comma-separated]
    int rounds = 1000;
    if (argc > 1)
        rounds = qMax(10, QByteArray(argv[1]).toInt());
    QList<int> sizes{10, 200, 2000};
    if (argc > 2) {
        sizes.clear();
        for (const QByteArray &size : QByteArray(argv[2]).split(','))
            sizes << qMax(1, size.toInt());
    }

    NetworkService::setPortForTesting(0);
    AppEnv env;
    NetworkService service(&env);
    service.run();

    Sender sender;
    QThread senderThread; // declared after the sender: stops before it goes
    const auto stopSender = qScopeGuard([&] {
        std::fflush(stdout);
        senderThread.quit();
        senderThread.wait();
    });
    sender.moveToThread(&senderThread);
    sender.socket.moveToThread(&senderThread);
    senderThread.start();

    QTimer wake; // bounds each wait, so that the watchdog below can speak
    wake.start(1000);
    bool connected = false;
    QObject::connect(&service, &NetworkService::terminalConnected, [&] { connected = true; });
    QMetaObject::invokeMethod(&sender, "connectTo", Qt::QueuedConnection,
                              Q_ARG(quint16, service.serverPort()));
    while (!connected || !sender.open) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }

    std::printf("# message latency, %d messages per size; figures in microseconds\n", rounds);
    for (const int lineCount : std::as_const(sizes)) {
        QList<QByteArray> variants;
        for (int v = 0; v < 8; ++v)
            variants.append(BenchMessages::order(lineCount, 1000000 + v));
        const QJsonArray items = BenchMessages::lines(lineCount, 1);

        // Warm the caches and the pool first, then measure.
        const Floor floor = measureFloor(variants, qMax(rounds, 50));

        QList<double> latency;
        QList<double> busy;
        QList<double> socketBusy;
        qint64 socketAtRequest = 0;
        int marker = 0;
        qint64 busyAtRequest = 0;
        bool applied = false;
        qint64 appliedAt = 0;
        const QMetaObject::Connection watch = QObject::connect(&env, &AppEnv::clientChanged, [&] {
            if (int(env.client()->bonusCount) == marker && int(env.order()->totalAmount) == marker) {
                applied = true;
                appliedAt = nowNs();
            }
        });
        const int warmup = 20;
        int stalls = 0; // messages that took over 500 ms from request to applied
        for (int i = 0; i < rounds + warmup; ++i) {
            marker = i + 1 + lineCount * 10000;
            const QByteArray message = BenchMessages::order(items, marker);
            applied = false;
            app.afterEvent = nullptr;
            busyAtRequest = app.busyNs;
            socketAtRequest = app.socketBusyNs;
            QMetaObject::invokeMethod(&sender, "send", Qt::QueuedConnection, Q_ARG(QByteArray, message));
            bool done = false;
            app.afterEvent = [&] {
                if (applied)
                    done = true;
            };
            QElapsedTimer waited;
            waited.start();
            while (!done) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                if (waited.elapsed() > 20000) {
                    std::printf(
                        "ERROR: message %d not applied after 20 s: %d pending steps, %d rows, totals %d, "
                        "client %d, sender %d bytes to write\n",
                        marker, service.pendingMessageCount(), env.receiptItemModel()->rowCount(),
                        int(env.order()->totalAmount), int(env.client()->bonusCount),
                        int(sender.socket.bytesToWrite()));
                    return 1;
                }
            }
            app.afterEvent = nullptr;
            if (waited.elapsed() > 500)
                ++stalls;
            if (i < warmup)
                continue;
            latency.append((appliedAt - app.lastSocketEventStart) / 1000.0);
            busy.append((app.busyNs - busyAtRequest) / 1000.0);
            socketBusy.append((app.socketBusyNs - socketAtRequest) / 1000.0);
        }
        QObject::disconnect(watch);
        if (stalls > 0)
            std::printf("WARNING: %d messages of %d lines took over 500 ms\n", stalls, lineCount);
        if (env.receiptItemModel()->rowCount() != lineCount) {
            std::printf("ERROR: the model holds %d lines, expected %d\n", env.receiptItemModel()->rowCount(),
                        lineCount);
            return 1;
        }

        const double floorMedian = BenchStats::median(floor.total);
        char name[64];
        std::snprintf(name, sizeof name, "latency median, %d lines (%lld B)", lineCount,
                      qlonglong(variants.first().size()));
        BenchStats::report(name, BenchStats::median(latency), floorMedian, "us", "target <= 1.5");
        std::snprintf(name, sizeof name, "latency p99, %d lines", lineCount);
        BenchStats::report(name, BenchStats::percentile(latency, 0.99),
                           BenchStats::percentile(floor.total, 0.99), "us",
                           lineCount == 200 ? "target p99 <= 16000 us" : "");
        std::snprintf(name, sizeof name, "GUI-thread busy median, %d lines", lineCount);
        BenchStats::report(name, BenchStats::median(busy), floorMedian, "us",
                           lineCount == 2000 ? "target <= 0.10" : "");
        std::snprintf(name, sizeof name, "  of which socket events, %d lines", lineCount);
        BenchStats::line(name, BenchStats::median(socketBusy), "us",
                         "(reading and unmasking the frame; messages up to 64 KiB are parsed there too)");
        std::snprintf(name, sizeof name, "  floor: fromJson alone, %d lines", lineCount);
        BenchStats::line(name, BenchStats::median(floor.parse), "us");
    }

    if (app.breakdown) {
        for (auto it = app.breakdownNs.cbegin(); it != app.breakdownNs.cend(); ++it)
            std::printf("  %-60s %10.1f ms\n", qPrintable(it.key()), it.value() / 1e6);
    }
    return 0;
}

#include "bench_latency.moc"
