// Throughput: an external client process (bench/flood_client.py) sends 10,000
// "order" messages of 50 lines as fast as it can over 127.0.0.1.
// Figure: messages per second from the accepted connection until the last
// message is applied (its totals and client in AppEnv, its lines in the
// model). Floor: a bare QWebSocketServer in the same harness that only parses
// each message with QJsonDocument.
#include "BenchMessages.h"
#include "BenchStats.h"

#include "core/AllocatorTuning.h"
#include "network/NetworkService.h"
#include "state/AppEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>
#include <functional>

namespace {

constexpr int token = 987654321;

void discardingHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    static FILE *sink = std::fopen("/dev/null", "w");
    const QByteArray line = qFormatLogMessage(type, context, text).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), sink);
    std::fputc('\n', sink);
}

struct Run
{
    double seconds = 0;
    bool ok = false;
};

// Starts the client against `port` and spins until `finished` holds.
bool drive(const QString &script, const QString &templatePath, quint16 port, int count,
           const std::function<bool()> &finished)
{
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QStringLiteral("/usr/bin/python3"),
                 {script, QString::number(port), templatePath, QString::number(count)});
    if (!client.waitForStarted())
        return false;
    QElapsedTimer limit;
    limit.start();
    while (!finished() && limit.elapsed() < 300000 && client.state() == QProcess::Running)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const bool ok = finished();
    client.closeWriteChannel();
    if (!client.waitForFinished(10000))
        client.kill();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    AllocatorTuning::apply(); // as the display's main() does
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(discardingHandler);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_throughput flood_client.py [count]\n");
        return 2;
    }
    const QString script = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? qMax(10, QByteArray(argv[2]).toInt()) : 10000;

    QJsonArray items = BenchMessages::lines(50, 1);
    QJsonObject first = items.at(0).toObject();
    first.insert(QStringLiteral("uuid"), QStringLiteral("line-%1").arg(token));
    items.replace(0, first);
    const QByteArray message = BenchMessages::order(items, token);
    QTemporaryFile templateFile;
    templateFile.open();
    templateFile.write(message);
    templateFile.flush();

    // Floor: parse only.
    Run floor;
    {
        QWebSocketServer server(QStringLiteral("floor"), QWebSocketServer::NonSecureMode);
        server.listen(QHostAddress::LocalHost, 0);
        int parsed = 0;
        int lastMarker = 0;
        QElapsedTimer timer;
        QObject::connect(&server, &QWebSocketServer::newConnection, [&] {
            QWebSocket *socket = server.nextPendingConnection();
            socket->setParent(&server);
            timer.start();
            QObject::connect(socket, &QWebSocket::binaryMessageReceived, [&](const QByteArray &bytes) {
                const QJsonObject object = QJsonDocument::fromJson(bytes).object();
                lastMarker = object.value(QLatin1String("content"))
                                 .toObject()
                                 .value(QLatin1String("order"))
                                 .toObject()
                                 .value(QLatin1String("to_payment"))
                                 .toInt();
                if (++parsed == count)
                    floor.seconds = timer.nsecsElapsed() / 1e9;
            });
        });
        floor.ok = drive(script, templateFile.fileName(), server.serverPort(), count,
                         [&] { return parsed == count; }) &&
                   lastMarker == count;
    }

    Run real;
    int heldMarker = 0;
    QString heldFirstLine;
    int heldRows = 0;
    {
        NetworkService::setPortForTesting(0);
        AppEnv env;
        NetworkService service(&env);
        service.run();
        QElapsedTimer timer;
        bool done = false;
        QObject::connect(&service, &NetworkService::terminalConnected, [&] { timer.start(); });
        QObject::connect(&env, &AppEnv::clientChanged, [&] {
            if (int(env.client()->bonusCount) == count && !done) {
                done = true;
                real.seconds = timer.nsecsElapsed() / 1e9;
                heldMarker = int(env.order()->totalAmount);
                heldRows = env.receiptItemModel()->rowCount();
                heldFirstLine = env.receiptItemModel()
                                    ->data(env.receiptItemModel()->index(0), ReceiptItemModel::UuidRole)
                                    .toString();
            }
        });
        real.ok = drive(script, templateFile.fileName(), service.serverPort(), count, [&] { return done; });
    }

    std::printf("# throughput, %d messages of 50 lines (%lld B each) from flood_client.py\n", count,
                qlonglong(message.size()));
    if (!floor.ok || !real.ok) {
        std::printf("ERROR: a run did not complete (floor %d, display %d)\n", floor.ok, real.ok);
        return 1;
    }
    const bool holdsLast =
        heldMarker == count && heldRows == 50 && heldFirstLine == QStringLiteral("line-%1").arg(count);
    std::printf("%-44s totals %d, client %d, %d lines, first line %s: %s\n", "state after the last message",
                heldMarker, count, heldRows, qPrintable(heldFirstLine),
                holdsLast ? "the last message" : "WRONG");
    const double rate = count / real.seconds;
    const double floorRate = count / floor.seconds;
    BenchStats::report("throughput (messages/s)", rate, floorRate, "msg/s", "target >= 0.50");
    return holdsLast ? 0 : 1;
}
