#include "DisplayHarness.h"
#include "PoolGate.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QWebSocket>

#include <memory>

namespace {

// Message n carries n + 1 lines, totals and a client that all name n.
QByteArray numberedOrder(int n, int lines)
{
    QJsonArray items;
    for (int i = 0; i < lines; ++i) {
        items.append(QJsonObject{{"uuid", QStringLiteral("m%1-l%2").arg(n).arg(i)},
                                 {"menu_name", QStringLiteral("Позиция %1").arg(i)},
                                 {"quantity", 1},
                                 {"discount_amount", n},
                                 {"receipt_uuid", QStringLiteral("r%1").arg(n)}});
    }
    return DisplayHarness::message(
        "order", QJsonObject{{"receipt_items", items},
                             {"order", QJsonObject{{"to_payment", 100000 + n}, {"discount", n}}},
                             {"guest", QJsonObject{{"uuid", QStringLiteral("g%1").arg(n)}}}});
}

// The message the receipt lines on screen came from, or -1 when they are
// not all from one message.
int linesFrom(ReceiptItemModel *model)
{
    if (model->rowCount() == 0)
        return -1;
    const QString receipt = model->index(0).data(ReceiptItemModel::ReceiptUuidRole).toString();
    for (int row = 1; row < model->rowCount(); ++row) {
        if (model->index(row).data(ReceiptItemModel::ReceiptUuidRole).toString() != receipt)
            return -1;
    }
    return receipt.mid(1).toInt();
}

bool rawHandshake(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(DisplayHarness::timeout))
        return false;
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    QByteArray response;
    const bool done = QTest::qWaitFor(
        [&]() {
            response += socket.readAll();
            return response.contains("\r\n\r\n");
        },
        DisplayHarness::timeout);
    return done && response.startsWith("HTTP/1.1 101");
}

} // namespace

class TestOrdering : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_display = std::make_unique<DisplayHarness>(); }
    void cleanup() { m_display.reset(); }

    void manyOrdersBackToBack();
    void linesAppearOnlyAfterTheirLogLine();
    void paymentWaitsForTheOrderBeforeIt();
    void disconnectWhileAnOrderLoads();
    void queueGoesOnAfterACancelledLoad();
    void oversizeMessageClosesThatTerminalOnly_data();
    void oversizeMessageClosesThatTerminalOnly();
    void messageAtTheCapIsAccepted();
    void socketsReleasedAfterDisconnect();

private:
    std::unique_ptr<DisplayHarness> m_display;
};

void TestOrdering::manyOrdersBackToBack()
{
    constexpr int count = 200;
    ReceiptItemModel *model = m_display->receipt();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    AppEnv *env = m_display->env();

    QList<int> atOrderChanged;
    QList<int> atClientChanged;
    QStringList mismatches;
    QObject context;
    connect(env, &AppEnv::orderChanged, &context, [&]() {
        const int lines = linesFrom(model);
        const int totals = int(m_display->order()->totalAmount) - 100000;
        if (lines != totals || model->rowCount() != lines + 1 || int(m_display->order()->discount) != lines)
            mismatches << QStringLiteral("order: lines %1 (%2 rows), totals %3")
                              .arg(lines)
                              .arg(model->rowCount())
                              .arg(totals);
        atOrderChanged << lines;
    });
    connect(env, &AppEnv::clientChanged, &context, [&]() {
        const int lines = linesFrom(model);
        const int totals = int(m_display->order()->totalAmount) - 100000;
        const QString client = m_display->client()->uuid;
        if (lines != totals || client != QStringLiteral("g%1").arg(lines))
            mismatches << QStringLiteral("client: lines %1, totals %2, client %3")
                              .arg(lines)
                              .arg(totals)
                              .arg(client);
        atClientChanged << lines;
    });

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QList<QByteArray> messages;
    for (int n = 0; n < count; ++n)
        messages << numberedOrder(n, n + 1);
    QVERIFY(m_display->send(terminal, messages));

    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join("; ")));
    QVERIFY(!atOrderChanged.isEmpty());
    // Never an older message's state after a newer one's.
    for (int i = 1; i < atOrderChanged.size(); ++i)
        QVERIFY2(atOrderChanged.at(i) > atOrderChanged.at(i - 1), qPrintable(QString::number(i)));
    QCOMPARE(atClientChanged, atOrderChanged);
    QCOMPARE(atOrderChanged.last(), count - 1);

    QCOMPARE(model->rowCount(), count);
    QCOMPARE(linesFrom(model), count - 1);
    QCOMPARE(m_display->order()->totalAmount, 100000.0 + count - 1);
    QCOMPARE(m_display->client()->uuid, QStringLiteral("g%1").arg(count - 1));
}

void TestOrdering::linesAppearOnlyAfterTheirLogLine()
{
    // Orders large enough to be parsed and logged off this thread, each
    // followed by a bonus so that none is skipped. Their lines are written
    // slowly, as to a congested terminal, while the lines load at once.
    static QtMessageHandler next = nullptr;
    next = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (text.contains(QLatin1String("receipt_items")))
            QThread::msleep(20);
        next(type, context, text);
    });
    const auto restore = qScopeGuard([]() { qInstallMessageHandler(next); });
    constexpr int count = 20;
    ReceiptItemModel *model = m_display->receipt();
    QStringList missing;
    int resets = 0;
    QObject context;
    connect(model, &QAbstractItemModel::modelReset, &context, [&]() {
        const int n = linesFrom(model);
        ++resets;
        const QString uuid = QStringLiteral("\"uuid\":\"g%1\"").arg(n);
        bool logged = false;
        for (const QString &line : m_display->log().lines(DisplayHarness::logPrefix))
            logged = logged || line.contains(uuid);
        if (!logged)
            missing << QString::number(n);
    });

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QList<QByteArray> messages;
    for (int n = 0; n < count; ++n) {
        messages << numberedOrder(n, 150);
        messages << DisplayHarness::message("bonus", QJsonObject{{"count", n}});
    }
    QVERIFY(messages.first().size() > 8 * 1024);
    QVERIFY(m_display->send(terminal, messages));

    QCOMPARE(resets, count);
    QVERIFY2(missing.isEmpty(), qPrintable("lines before their log line: " + missing.join(", ")));
    QCOMPARE(linesFrom(model), count - 1);
}

void TestOrdering::paymentWaitsForTheOrderBeforeIt()
{
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    // The same receipt was on screen before with another discount.
    QVERIFY(m_display->send(terminal, numberedOrder(1, 4)));

    PoolGate gate;
    const int logged = m_display->log().count(DisplayHarness::logPrefix);
    terminal.sendBinaryMessage(DisplayHarness::message(
        "order", QJsonObject{{"receipt_items", QJsonArray{QJsonObject{{"quantity", 3},
                                                                      {"discount_amount", 7},
                                                                      {"discount_receipt", 1.5},
                                                                      {"receipt_uuid", "r1"}}}}}));
    terminal.sendBinaryMessage(
        DisplayHarness::message("payment", QJsonObject{{"amount", 4200}, {"receipt_uuid", "r1"}}));
    QTRY_COMPARE(m_display->log().count(DisplayHarness::logPrefix), logged + 2);
    // Both messages are in; the payment waits behind the loading order.
    QCOMPARE(m_display->order()->receiptPaymentAmount, 0);
    QCOMPARE(m_display->service()->pendingMessageCount(), 2);

    gate.open();
    QTRY_COMPARE(m_display->service()->pendingMessageCount(), 0);
    QCOMPARE(m_display->order()->receiptPaymentAmount, 4200);
    // 3 x 7 + 1.5 from the new lines, not 4 x 1 from the old ones.
    QCOMPARE(m_display->order()->receiptPaymentDiscount, 22);
}

void TestOrdering::disconnectWhileAnOrderLoads()
{
    NetworkService *service = m_display->service();
    ReceiptItemModel *model = m_display->receipt();
    QSignalSpy disconnected(service, &NetworkService::terminalDisconnected);
    QList<int> rowsAtReset;
    QObject context;
    connect(model, &QAbstractItemModel::modelReset, &context, [&]() { rowsAtReset << model->rowCount(); });

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    PoolGate gate;
    terminal.sendBinaryMessage(numberedOrder(5, 30));
    QTRY_COMPARE(m_display->log().count(DisplayHarness::logPrefix), 1);
    terminal.close();
    // The display has seen the disconnect while the lines still load.
    QTRY_COMPARE(service->openSocketCount(), 0);
    QCOMPARE(disconnected.count(), 0);

    gate.open();
    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(service->pendingMessageCount(), 0);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();

    QCOMPARE(rowsAtReset, QList<int>({30, 0}));
    QCOMPARE(model->rowCount(), 0);
    // The message came before the disconnect: its totals and client stay.
    QCOMPARE(m_display->order()->totalAmount, 100005.0);
    QCOMPARE(m_display->client()->uuid, QString("g5"));
}

void TestOrdering::queueGoesOnAfterACancelledLoad()
{
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal, numberedOrder(1, 4)));

    // Its parse runs out of memory, and the load ends cancelled.
    ReceiptItemModel::failLoadsForTesting(1);
    QVERIFY(m_display->send(
        terminal,
        {numberedOrder(2, 3),
         DisplayHarness::message("payment", QJsonObject{{"amount", 4200}, {"receipt_uuid", "r1"}})}));
    // The order before stays whole: its lines with its totals.
    QCOMPARE(linesFrom(m_display->receipt()), 1);
    QCOMPARE(m_display->order()->totalAmount, 100001.0);
    QCOMPARE(m_display->order()->receiptPaymentAmount, 4200);
    QCOMPARE(m_display->order()->receiptPaymentDiscount, 4);

    QVERIFY(m_display->send(terminal, numberedOrder(3, 5)));
    QCOMPARE(linesFrom(m_display->receipt()), 3);
    QCOMPARE(m_display->order()->totalAmount, 100003.0);
}

void TestOrdering::oversizeMessageClosesThatTerminalOnly_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("17 MiB in many frames") << "frames";
    QTest::newRow("17 MiB in one frame") << "frame";
    QTest::newRow("frame header announcing 17 MiB") << "header";
}

void TestOrdering::oversizeMessageClosesThatTerminalOnly()
{
    QFETCH(QString, how);
    constexpr qint64 size = 17 * 1024 * 1024;
    NetworkService *service = m_display->service();
    QSignalSpy disconnected(service, &NetworkService::terminalDisconnected);

    QWebSocket bystander;
    QVERIFY(m_display->open(bystander));
    QVERIFY(m_display->send(bystander, numberedOrder(3, 2)));

    if (how == "header") {
        QTcpSocket offender;
        QVERIFY(rawHandshake(offender, m_display->port()));
        QByteArray header;
        header.append(char(0x82)).append(char(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            header.append(char((size >> shift) & 0xff));
        header.append(4, '\0');
        offender.write(header);
        QByteArray reply;
        QVERIFY(QTest::qWaitFor(
            [&]() {
                reply += offender.readAll();
                return offender.state() == QAbstractSocket::UnconnectedState;
            },
            DisplayHarness::timeout));
        // A close frame with code 1009, sent before the payload ever came.
        QVERIFY2(reply.startsWith("\x88"), reply.toHex().constData());
        QCOMPARE(quint8(reply.at(2)) << 8 | quint8(reply.at(3)), 1009);
    } else {
        QWebSocket offender;
        if (how == "frame")
            offender.setOutgoingFrameSize(size);
        QVERIFY(m_display->open(offender));
        QSignalSpy closed(&offender, &QWebSocket::disconnected);
        offender.sendBinaryMessage(QByteArray(size, ' '));
        QVERIFY(closed.wait(DisplayHarness::timeout));
        QCOMPARE(offender.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
    }

    // That client goes without an order of its own on screen: the
    // bystander's sale is left as it was, and nobody else is affected.
    QTRY_COMPARE(service->connectionCount(), 1);
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(m_display->receipt()->rowCount(), 2);
    QCOMPARE(bystander.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(m_display->log().count(DisplayHarness::logPrefix), 1);
    QVERIFY(m_display->send(bystander, numberedOrder(4, 3)));
    QCOMPARE(m_display->receipt()->rowCount(), 3);

    QWebSocket newcomer;
    QVERIFY(m_display->open(newcomer));
    QVERIFY(m_display->send(newcomer, numberedOrder(6, 5)));
    QCOMPARE(m_display->receipt()->rowCount(), 5);
    QCOMPARE(m_display->client()->uuid, QString("g6"));
}

void TestOrdering::messageAtTheCapIsAccepted()
{
    // A logo of exactly the allowed message size, minus its envelope.
    const QByteArray head = R"({"path":"app_logo","content":{"logo":")";
    const QByteArray tail = R"("}})";
    const qint64 padding = qint64(NetworkService::maxIncomingSize) - head.size() - tail.size();
    const QByteArray message = head + QByteArray(padding, 'x') + tail;
    QCOMPARE(quint64(message.size()), NetworkService::maxIncomingSize);

    QWebSocket terminal;
    terminal.setOutgoingFrameSize(NetworkService::maxIncomingSize);
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal, message));
    QCOMPARE(m_display->env()->logo().size(), padding);
    QCOMPARE(terminal.state(), QAbstractSocket::ConnectedState);
}

void TestOrdering::socketsReleasedAfterDisconnect()
{
    NetworkService *service = m_display->service();
    QSignalSpy disconnected(service, &NetworkService::terminalDisconnected);
    for (int cycle = 0; cycle < 100; ++cycle) {
        QWebSocket terminal;
        QVERIFY(m_display->open(terminal));
        QPointer<QWebSocket> accepted(service->findChildren<QWebSocket *>().value(0));
        QVERIFY(accepted);
        if (cycle % 2)
            QVERIFY(m_display->send(terminal, numberedOrder(cycle, 1)));
        QVERIFY(m_display->close(terminal));
        QVERIFY(QTest::qWaitFor([&]() { return accepted.isNull(); }, DisplayHarness::timeout));
    }
    QCOMPARE(disconnected.count(), 100);
    QCOMPARE(service->openSocketCount(), 0);
    QCOMPARE(service->findChildren<QWebSocket *>().size(), 0);
}

QTEST_MAIN(TestOrdering)
#include "tst_ordering.moc"
