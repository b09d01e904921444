#include "DisplayHarness.h"
#include "PoolGate.h"
#include "RawTerminal.h"
#include "network/LinkLog.h"
#include "network/TerminalAccess.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QNetworkInterface>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QWebSocket>

#include <climits>
#include <memory>

namespace {

QJsonObject line(const QString &uuid, const QString &receiptUuid)
{
    return {{"uuid", uuid},   {"menu_name", "Блюдо " + uuid}, {"quantity", 1}, {"menu_price", 10000},
            {"total", 10000}, {"receipt_uuid", receiptUuid}};
}

QByteArray orderMessage(int lines, double toPayment, const QString &guestUuid)
{
    QJsonArray items;
    for (int i = 0; i < lines; ++i)
        items.append(line(QStringLiteral("line-%1").arg(i), QStringLiteral("receipt-1")));
    return DisplayHarness::message("order", QJsonObject{{"receipt_items", items},
                                                        {"order", QJsonObject{{"to_payment", toPayment},
                                                                              {"discount", 150},
                                                                              {"discount_percent", 0.1}}},
                                                        {"guest", QJsonObject{{"uuid", guestUuid},
                                                                              {"client_name", "Анна"},
                                                                              {"client_lastname", "Петрова"},
                                                                              {"discount_name", "Gold"},
                                                                              {"discount_percent", 1000},
                                                                              {"bonus_count", 50000}}}});
}

QByteArray raw(const char *text)
{
    return QByteArray(text);
}

// A handshake that never ends, or a frame that never ends: what a hung or
// hostile peer leaves on the line.
QByteArray handshakeRequest()
{
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

} // namespace

class TestNetworkService : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_display = std::make_unique<DisplayHarness>(); }
    void cleanup()
    {
        m_display.reset();
        NetworkService::setTimingForTesting({});
    }

    void listensOnTheTestPort();
    void documentsFollowTheService();
    void avaliableIps();
    void connectAndDisconnect();
    void severalClients_data();
    void severalClients();
    void reconnectWhileALoadRunsEndsConnected();
    void textFramesAreIgnored();
    void ignoredMessagesLeaveStateAndAreLogged_data();
    void ignoredMessagesLeaveStateAndAreLogged();
    void logLineOfAHandledMessage();
    void orderContentDefaults_data();
    void orderContentDefaults();
    void appLogo_data();
    void appLogo();
    void bonus_data();
    void bonus();
    void bonusRightAfterOrderBothSurvive();
    void stopKeepsAcceptedTerminals();
    void shutdownReleasesOpenSockets();
    void stalledPeersDoNotHoldUpOthers();
    void terminalAccess_data();
    void terminalAccess();
    void heartbeat();
    void addressesFollowTheMachine();
    void allowList();
    void listenAddress();

private:
    void restartWith(const NetworkService::Timing &timing)
    {
        m_display.reset();
        NetworkService::setTimingForTesting(timing);
        m_display = std::make_unique<DisplayHarness>();
    }
    static constexpr NetworkService::Timing fast{
        std::chrono::milliseconds(100), std::chrono::milliseconds(400), std::chrono::milliseconds(50)};
    std::unique_ptr<DisplayHarness> m_display;
};

void TestNetworkService::listensOnTheTestPort()
{
    QVERIFY(m_display->service()->isListening());
    QVERIFY(m_display->port() != 0);
    QVERIFY(m_display->port() != NetworkService::defaultPort);
}

// What Main.qml relies on: bindings to the service's properties and the
// terminal's coming and going handled by name (the names kept as written).
void TestNetworkService::documentsFollowTheService()
{
    NetworkService *service = m_display->service();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        QtObject {
            required property QtObject service
            readonly property int ips: service.avaliableIps.length
            readonly property bool listening: service.listening
            readonly property int port: service.port
            property string terminals
            property Connections handler: Connections {
                target: service
                function onTerminalConnected() { terminals += "connected " }
                function onTerminalDisconnected() { terminals += "disconnected" }
            }
        }
    )",
                      QUrl(QStringLiteral("qrc:/Service.qml")));
    std::unique_ptr<QObject> document(
        component.createWithInitialProperties({{QStringLiteral("service"), QVariant::fromValue(service)}}));
    QVERIFY2(document, qPrintable(component.errorString()));
    QCOMPARE(document->property("ips").toInt(), service->avaliableIps().size());
    QVERIFY(document->property("listening").toBool());
    QCOMPARE(document->property("port").toInt(), int(service->port()));

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->close(terminal));
    QCOMPARE(document->property("terminals").toString(), QStringLiteral("connected disconnected"));
}

void TestNetworkService::avaliableIps()
{
    NetworkService *service = m_display->service();
    const QJsonArray ips = service->avaliableIps();

    QStringList expected;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            expected.append(address.toString());
    }
    QStringList listed;
    for (const QJsonValue &value : ips) {
        const QJsonObject entry = value.toObject();
        QCOMPARE(entry.keys(), QStringList{"address"});
        const QHostAddress address(entry.value("address").toString());
        QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
        listed.append(entry.value("address").toString());
    }
    QCOMPARE(listed, expected);
    QVERIFY2(listed.contains("127.0.0.1"), qPrintable(listed.join(", ")));
    QCOMPARE(service->property("avaliableIps").toJsonArray(), ips);

    // A second run lists each address once still, and announces nothing.
    QSignalSpy changed(service, &NetworkService::avaliableIpsChanged);
    service->run();
    QCOMPARE(service->avaliableIps(), ips);
    QCOMPARE(changed.count(), 0);
    QVERIFY(service->isListening());
}

void TestNetworkService::connectAndDisconnect()
{
    NetworkService *service = m_display->service();
    QSignalSpy connected(service, &NetworkService::terminalConnected);
    QSignalSpy disconnected(service, &NetworkService::terminalDisconnected);

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(service->findChildren<QWebSocket *>().size(), 1);

    QVERIFY(m_display->close(terminal));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(disconnected.count(), 1);
    // Released, not kept until shutdown.
    QTRY_COMPARE(service->findChildren<QWebSocket *>().size(), 0);
}

void TestNetworkService::severalClients_data()
{
    // "A+" connects client A, "A-" closes it, "A3" sends an order of 3 lines, "Ab" a bonus, "?" notes
    // the lines on screen. After "=": c(onnected), d(isconnected) and the notes, in order.
    QTest::addColumn<QString>("script");
    QTest::newRow("a client without an order leaves") << "A+ A2 B+ B- ? A- ? = c c 2 d 0";
    QTest::newRow("the terminal whose order shows leaves") << "A+ A2 B+ B3 B- ? A- ? = c c 0 d 0";
    QTest::newRow("another's bonus does not take the screen") << "A+ B+ A2 Bb A- ? B- ? = c c 0 d 0";
}

void TestNetworkService::severalClients()
{
    QFETCH(QString, script);
    const QStringList steps = script.section(" = ", 0, 0).split(' ');
    NetworkService *service = m_display->service();
    QStringList events;
    QObject context;
    connect(service, &NetworkService::terminalConnected, &context, [&]() { events << "c"; });
    connect(service, &NetworkService::terminalDisconnected, &context, [&]() { events << "d"; });
    QWebSocket clients[2];
    for (const QString &step : steps) {
        QWebSocket &client = clients[step.at(0) == 'B'];
        const QString action = step.mid(1);
        if (step == "?")
            events << QString::number(m_display->receipt()->rowCount());
        else if (action == "+")
            QVERIFY(m_display->open(client));
        else if (action == "-")
            QVERIFY(m_display->close(client));
        else if (action == "b")
            QVERIFY(m_display->send(client, DisplayHarness::message("bonus", QJsonObject{{"count", 7}})));
        else
            QVERIFY(m_display->send(client, orderMessage(action.toInt(), 1000, step.left(1))));
    }
    QCOMPARE(events.join(' '), script.section(" = ", 1));
}

void TestNetworkService::reconnectWhileALoadRunsEndsConnected()
{
    NetworkService *service = m_display->service();
    QStringList events;
    QObject context;
    connect(service, &NetworkService::terminalConnected, &context, [&]() { events << "connected"; });
    connect(service, &NetworkService::terminalDisconnected, &context, [&]() { events << "disconnected"; });

    QWebSocket first;
    QVERIFY(m_display->open(first));

    PoolGate gate; // the order's lines cannot load until the gate opens
    first.sendBinaryMessage(orderMessage(5, 1000, "guest-1"));
    QTRY_COMPARE(m_display->log().count(DisplayHarness::logPrefix), 1);
    first.close();
    QTRY_COMPARE(service->openSocketCount(), 0);

    // The terminal comes straight back while the load still runs.
    QWebSocket second;
    second.open(m_display->url());
    QTRY_COMPARE(second.state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE(service->openSocketCount(), 1);
    QCOMPARE(events, QStringList({"connected"}));

    gate.open();
    QTRY_COMPARE(service->pendingMessageCount(), 0);
    // The waiting dialog must not be left open over a connected terminal.
    QCOMPARE(events, QStringList({"connected", "disconnected", "connected"}));
    QCOMPARE(m_display->receipt()->rowCount(), 0);
    QCOMPARE(m_display->client()->uuid, QString("guest-1"));
}

void TestNetworkService::textFramesAreIgnored()
{
    AppEnv *env = m_display->env();
    QSignalSpy orderChanged(env, &AppEnv::orderChanged);
    QSignalSpy logoChanged(env, &AppEnv::logoChanged);
    QSignalSpy reset(m_display->receipt(), &QAbstractItemModel::modelReset);

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    terminal.sendTextMessage(QString::fromUtf8(orderMessage(3, 1000, "guest-1")));
    terminal.sendTextMessage(
        QString::fromUtf8(DisplayHarness::message("app_logo", QJsonObject{{"logo", "text"}})));
    terminal.sendTextMessage(
        QString::fromUtf8(DisplayHarness::message("payment", QJsonObject{{"amount", 100}})));
    // Same socket, so this binary message is handled after the text frames.
    QVERIFY(m_display->send(terminal, DisplayHarness::message("app_logo", QJsonObject{{"logo", "binary"}})));

    QCOMPARE(env->logo(), QString("binary"));
    QCOMPARE(logoChanged.count(), 1);
    QCOMPARE(orderChanged.count(), 0);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(m_display->order()->receiptPaymentAmount, 0);
    QCOMPARE(m_display->log().count(DisplayHarness::logPrefix), 1);
}

void TestNetworkService::ignoredMessagesLeaveStateAndAreLogged_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("logged");

    QTest::newRow("malformed JSON") << raw(R"({"path":"app_logo","content":{"logo":"x"})") << "QJsonObject()";
    QTest::newRow("trailing garbage")
        << raw(R"({"path":"app_logo","content":{"logo":"x"}} x)") << "QJsonObject()";
    QTest::newRow("empty message") << QByteArray() << "QJsonObject()";
    QTest::newRow("top-level array") << raw(R"([{"path":"app_logo","content":{"logo":"x"}}])")
                                     << "QJsonObject()";
    QTest::newRow("upper-case path")
        << raw(R"({"path":"ORDER","content":{"receipt_items":[{"uuid":"x"}]}})")
        << R"(QJsonObject({"content":{"receipt_items":[{"uuid":"x"}]},"path":"ORDER"}))";
    QTest::newRow("case-changed path") << raw(R"({"path":"App_Logo","content":{"logo":"x"}})")
                                       << R"(QJsonObject({"content":{"logo":"x"},"path":"App_Logo"}))";
    QTest::newRow("unknown path") << raw(R"({"path":"logo","content":{"logo":"x"}})")
                                  << R"(QJsonObject({"content":{"logo":"x"},"path":"logo"}))";
    QTest::newRow("path with a space") << raw(R"({"path":"bonus ","content":{"count":1}})")
                                       << R"(QJsonObject({"content":{"count":1},"path":"bonus "}))";
    QTest::newRow("missing path") << raw(R"({"content":{"is_finished":true}})")
                                  << R"(QJsonObject({"content":{"is_finished":true}}))";
    QTest::newRow("path not a string") << raw(R"({"path":4,"content":{"is_finished":true}})")
                                       << R"(QJsonObject({"content":{"is_finished":true},"path":4}))";
    QTest::newRow("path as content key")
        << raw(R"({"content":{"path":"payment","is_finished":true}})")
        << R"(QJsonObject({"content":{"is_finished":true,"path":"payment"}}))";
}

void TestNetworkService::ignoredMessagesLeaveStateAndAreLogged()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, logged);

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal, orderMessage(2, 1000, "guest-1")));
    QVERIFY(m_display->send(terminal, DisplayHarness::message("app_logo", QJsonObject{{"logo", "before"}})));
    QVERIFY(m_display->send(
        terminal,
        DisplayHarness::message("payment", QJsonObject{{"amount", 500}, {"receipt_uuid", "receipt-1"}})));
    m_display->log().clear();

    AppEnv *env = m_display->env();
    QList<std::shared_ptr<QSignalSpy>> spies;
    const QMetaObject &meta = AppEnv::staticMetaObject;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Signal)
            spies.append(std::make_shared<QSignalSpy>(env, meta.method(i)));
    }
    QSignalSpy reset(m_display->receipt(), &QAbstractItemModel::modelReset);
    QSignalSpy connected(m_display->service(), &NetworkService::terminalConnected);

    QVERIFY(m_display->send(terminal, message));

    const QList<MessageLog::Entry> entries =
        m_display->log().entries(DisplayHarness::logPrefix); // the link warnings aside
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().text, DisplayHarness::logPrefix + ' ' + logged);
    QCOMPARE(entries.first().type, QtDebugMsg);
    QCOMPARE(entries.first().category, QByteArray("default"));
    QVERIFY(!entries.first().hasFile);
    QCOMPARE(entries.first().line, 0);

    for (const auto &spy : std::as_const(spies))
        QVERIFY2(spy->isEmpty(), spy->signal().constData());
    QCOMPARE(reset.count(), 0);
    QCOMPARE(connected.count(), 0);
    QCOMPARE(m_display->receipt()->rowCount(), 2);
    QCOMPARE(m_display->order()->totalAmount, 1000.0);
    QCOMPARE(m_display->order()->receiptPaymentAmount, 500);
    QCOMPARE(m_display->client()->uuid, QString("guest-1"));
    QCOMPARE(env->logo(), QString("before"));
}

void TestNetworkService::logLineOfAHandledMessage()
{
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal,
                            raw(R"({"content":{"logo":"Лого"},"path":"app_logo","extra":[1,2.5,null]})")));

    const QList<MessageLog::Entry> entries = m_display->log().entries(DisplayHarness::logPrefix);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().text,
             QString(R"(void NetworkService::binaryMessageRecived(const QByteArray&) )"
                     R"(QJsonObject({"content":{"logo":"Лого"},"extra":[1,2.5,null],"path":"app_logo"}))"));
    QCOMPARE(entries.first().category, QByteArray("default"));
    QVERIFY(!entries.first().hasFile);
    QVERIFY(!entries.first().hasFunction);
    QCOMPARE(m_display->env()->logo(), QString("Лого"));
}

void TestNetworkService::orderContentDefaults_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("rows");
    QTest::addColumn<double>("totalAmount");
    QTest::addColumn<QString>("clientName");
    QTest::addColumn<double>("bonusCount");

    QTest::newRow("empty content") << raw(R"({"path":"order","content":{}})") << 0 << 0.0 << "" << 0.0;
    QTest::newRow("missing content") << raw(R"({"path":"order"})") << 0 << 0.0 << "" << 0.0;
    QTest::newRow("content is an array")
        << raw(R"({"path":"order","content":[1,2]})") << 0 << 0.0 << "" << 0.0;
    QTest::newRow("receipt_items is an object")
        << raw(R"({"path":"order","content":{"receipt_items":{"uuid":"a"}}})") << 0 << 0.0 << "" << 0.0;
    QTest::newRow("receipt item not an object")
        << raw(R"({"path":"order","content":{"receipt_items":[7,{"uuid":"a"}]}})") << 2 << 0.0 << "" << 0.0;
    QTest::newRow("numbers as strings")
        << raw(R"({"path":"order","content":{"order":{"to_payment":"100"},"guest":{"client_name":7,"bonus_count":"500"}}})")
        << 0 << 0.0 << "" << 0.0;
    QTest::newRow("order and guest of other types")
        << raw(R"({"path":"order","content":{"order":[100],"guest":"Анна"}})") << 0 << 0.0 << "" << 0.0;
    QTest::newRow("integral numbers")
        << raw(R"({"path":"order","content":{"order":{"to_payment":12345},"guest":{"client_name":"Анна","bonus_count":500}}})")
        << 0 << 12345.0 << "Анна" << 500.0;
}

void TestNetworkService::orderContentDefaults()
{
    QFETCH(QByteArray, message);
    QFETCH(int, rows);
    QFETCH(double, totalAmount);
    QFETCH(QString, clientName);
    QFETCH(double, bonusCount);

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal, orderMessage(3, 1000, "guest-1")));
    QVERIFY(m_display->send(terminal, DisplayHarness::message("bonus", QJsonObject{{"count", 40}})));
    QVERIFY(m_display->send(
        terminal, DisplayHarness::message("bonus", QJsonObject{{"count", 60}, {"is_replenisment", true}})));
    QVERIFY(m_display->send(
        terminal,
        DisplayHarness::message("payment", QJsonObject{{"amount", 500}, {"receipt_uuid", "receipt-1"}})));

    AppEnv *env = m_display->env();
    QStringList events;
    QObject context;
    connect(m_display->receipt(), &QAbstractItemModel::modelReset, &context, [&]() { events << "lines"; });
    connect(env, &AppEnv::orderChanged, &context, [&]() { events << "order"; });
    connect(env, &AppEnv::clientChanged, &context, [&]() { events << "client"; });

    QVERIFY(m_display->send(terminal, message));

    // A key left out still takes effect, and always lines, totals, client.
    QCOMPARE(events, QStringList({"lines", "order", "client"}));
    QCOMPARE(m_display->receipt()->rowCount(), rows);
    Order *order = m_display->order();
    QCOMPARE(order->totalAmount, totalAmount);
    QCOMPARE(order->discount, 0.0);
    QCOMPARE(order->discountPercent, 0.0);
    Client *client = m_display->client();
    QCOMPARE(client->uuid, QString());
    QCOMPARE(client->clientName, clientName);
    QCOMPARE(client->clientLastName, QString());
    QCOMPARE(client->discountPercent, 0.0);
    QCOMPARE(client->bonusCount, bonusCount);
    // Not the order message's business.
    QCOMPARE(order->expenseBonusCount, 40);
    QCOMPARE(order->replenishmentBonus, 60.0);
    QCOMPARE(order->receiptPaymentAmount, 500);
}

void TestNetworkService::appLogo_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("logo");

    QTest::newRow("string")
        << raw(R"({"path":"app_logo","content":{"logo":"https://shop.example/logo.png"}})")
        << "https://shop.example/logo.png";
    QTest::newRow("same value again")
        << raw(R"({"path":"app_logo","content":{"logo":"before"}})") << "before";
    QTest::newRow("number") << raw(R"({"path":"app_logo","content":{"logo":5}})") << "";
    QTest::newRow("null") << raw(R"({"path":"app_logo","content":{"logo":null}})") << "";
    QTest::newRow("object") << raw(R"({"path":"app_logo","content":{"logo":{"url":"x"}}})") << "";
    QTest::newRow("missing key") << raw(R"({"path":"app_logo","content":{}})") << "";
    QTest::newRow("empty string") << raw(R"({"path":"app_logo","content":{"logo":""}})") << "";
}

void TestNetworkService::appLogo()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, logo);

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal, DisplayHarness::message("app_logo", QJsonObject{{"logo", "before"}})));
    QSignalSpy changed(m_display->env(), &AppEnv::logoChanged);

    QVERIFY(m_display->send(terminal, message));
    QCOMPARE(m_display->env()->logo(), logo);
    QCOMPARE(changed.count(), 1);
}

void TestNetworkService::bonus_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<double>("replenishment");
    QTest::addColumn<int>("expense");

    // Before each row: replenishment 11, expense 22.
    QTest::newRow("replenishment") << raw(R"({"path":"bonus","content":{"count":25,"is_replenisment":true}})")
                                   << 25.0 << 22;
    QTest::newRow("without is_replenisment")
        << raw(R"({"path":"bonus","content":{"count":25}})") << 11.0 << 25;
    QTest::newRow("is_replenisment false")
        << raw(R"({"path":"bonus","content":{"count":25,"is_replenisment":false}})") << 11.0 << 25;
    QTest::newRow("is_replenisment as string")
        << raw(R"({"path":"bonus","content":{"count":25,"is_replenisment":"true"}})") << 11.0 << 25;
    QTest::newRow("is_replenisment as number")
        << raw(R"({"path":"bonus","content":{"count":25,"is_replenisment":1}})") << 11.0 << 25;
    QTest::newRow("correctly spelt key ignored")
        << raw(R"({"path":"bonus","content":{"count":25,"is_replenishment":true}})") << 11.0 << 25;
    QTest::newRow("count 2.5") << raw(R"({"path":"bonus","content":{"count":2.5}})") << 11.0 << 0;
    QTest::newRow("count 2.5 replenishment")
        << raw(R"({"path":"bonus","content":{"count":2.5,"is_replenisment":true}})") << 0.0 << 22;
    QTest::newRow("count as string") << raw(R"({"path":"bonus","content":{"count":"25"}})") << 11.0 << 0;
    QTest::newRow("count 25.0") << raw(R"({"path":"bonus","content":{"count":25.0}})") << 11.0 << 25;
    QTest::newRow("count 1e3") << raw(R"({"path":"bonus","content":{"count":1e3}})") << 11.0 << 1000;
    QTest::newRow("count above int range")
        << raw(R"({"path":"bonus","content":{"count":2147483648}})") << 11.0 << 0;
    QTest::newRow("count at int minimum")
        << raw(R"({"path":"bonus","content":{"count":-2147483648}})") << 11.0 << INT_MIN;
    QTest::newRow("count null") << raw(R"({"path":"bonus","content":{"count":null}})") << 11.0 << 0;
    QTest::newRow("missing content") << raw(R"({"path":"bonus"})") << 11.0 << 0;
}

void TestNetworkService::bonus()
{
    QFETCH(QByteArray, message);
    QFETCH(double, replenishment);
    QFETCH(int, expense);

    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(
        terminal, DisplayHarness::message("bonus", QJsonObject{{"count", 11}, {"is_replenisment", true}})));
    QVERIFY(m_display->send(terminal, DisplayHarness::message("bonus", QJsonObject{{"count", 22}})));
    QCOMPARE(m_display->order()->replenishmentBonus, 11.0);
    QCOMPARE(m_display->order()->expenseBonusCount, 22);

    QSignalSpy orderChanged(m_display->env(), &AppEnv::orderChanged);
    // What a document bound to the order itself follows.
    QSignalSpy ownChanged(m_display->order(), &Order::changed);
    QVERIFY(m_display->send(terminal, message));
    QCOMPARE(m_display->order()->replenishmentBonus, replenishment);
    QCOMPARE(m_display->order()->expenseBonusCount, expense);
    QCOMPARE(orderChanged.count(), 1);
    QCOMPARE(ownChanged.count(), 1);
}

void TestNetworkService::bonusRightAfterOrderBothSurvive()
{
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(
        terminal, {orderMessage(50, 4321, "guest-1"),
                   DisplayHarness::message("bonus", QJsonObject{{"count", 25}, {"is_replenisment", true}})}));
    QCOMPARE(m_display->order()->totalAmount, 4321.0);
    QCOMPARE(m_display->order()->replenishmentBonus, 25.0);
    QCOMPARE(m_display->receipt()->rowCount(), 50);
}

void TestNetworkService::stopKeepsAcceptedTerminals()
{
    NetworkService *service = m_display->service();
    QWebSocket accepted;
    QVERIFY(m_display->open(accepted));

    service->stop();
    QVERIFY(!service->isListening());
    QVERIFY(m_display->send(accepted,
                            DisplayHarness::message("app_logo", QJsonObject{{"logo", "still served"}})));
    QCOMPARE(m_display->env()->logo(), QString("still served"));

    QWebSocket refused;
    QSignalSpy error(&refused, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
    refused.open(m_display->url());
    QVERIFY(error.wait(DisplayHarness::timeout));
    QCOMPARE(refused.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(service->openSocketCount(), 1);
}

void TestNetworkService::shutdownReleasesOpenSockets()
{
    QWebSocket first;
    QWebSocket second;
    QVERIFY(m_display->open(first));
    QVERIFY(m_display->open(second));
    const QList<QWebSocket *> accepted = m_display->service()->findChildren<QWebSocket *>();
    QCOMPARE(accepted.size(), 2);
    QPointer<QWebSocket> a(accepted.at(0));
    QPointer<QWebSocket> b(accepted.at(1));

    QSignalSpy closed(&first, &QWebSocket::disconnected);
    m_display->destroyCore();
    QVERIFY(a.isNull());
    QVERIFY(b.isNull());
    QVERIFY(closed.wait(DisplayHarness::timeout));
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
}

void TestNetworkService::stalledPeersDoNotHoldUpOthers()
{
    NetworkService *service = m_display->service();
    const quint16 port = m_display->port();
    QSignalSpy disconnected(service, &NetworkService::terminalDisconnected);

    // Connected, says nothing.
    QTcpSocket silent;
    // Stops in the middle of its handshake.
    QTcpSocket halfHandshake;
    // Finishes the handshake, then stops inside a frame.
    QTcpSocket halfFrame;
    for (QTcpSocket *peer : {&silent, &halfHandshake, &halfFrame}) {
        peer->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(peer->waitForConnected(DisplayHarness::timeout));
    }
    halfHandshake.write(handshakeRequest().left(40));
    halfHandshake.flush();
    halfFrame.write(handshakeRequest());
    QTRY_VERIFY(halfFrame.peek(4096).contains("\r\n\r\n"));
    const QByteArray response = halfFrame.readAll();
    QVERIFY(response.startsWith("HTTP/1.1 101"));
    QVERIFY2(response.contains("\r\nServer: QUORVEX ORDER SCREN\r\n"), response.constData());
    QTRY_COMPARE(service->openSocketCount(), 1);
    QByteArray frame;
    frame.append(char(0x82));                    // final binary frame
    frame.append(char(0x80 | 126));              // masked, 16-bit length follows
    frame.append(char(0x03)).append(char(0xe8)); // 1000 bytes announced
    frame.append(4, '\0');                       // mask
    frame.append(R"({"path":"app_l)");           // and only this arrives
    halfFrame.write(frame);
    halfFrame.flush();

    // A well-behaved terminal is served at once, while all three still hang
    // on: the server never waits for a peer on the GUI thread.
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QVERIFY(m_display->send(terminal, DisplayHarness::message("app_logo", QJsonObject{{"logo", "served"}})));
    QCOMPARE(m_display->env()->logo(), QString("served"));
    for (QTcpSocket *peer : {&silent, &halfHandshake, &halfFrame})
        QCOMPARE(peer->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(disconnected.count(), 0);

    // None of them is kept for ever: unfinished handshakes time out, and the
    // stalled frame is given up. The terminal still connected keeps the screen.
    const int limit = int(NetworkService::handshakeTimeout.count()) + 5000;
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, limit);
    QTRY_COMPARE_WITH_TIMEOUT(halfHandshake.state(), QAbstractSocket::UnconnectedState, limit);
    QTRY_COMPARE_WITH_TIMEOUT(halfFrame.state(), QAbstractSocket::UnconnectedState, limit);
    QTRY_COMPARE(service->connectionCount(), 1);
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(service->openSocketCount(), 1);
    QCOMPARE(terminal.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(m_display->log().count(DisplayHarness::logPrefix), 1);
}

void TestNetworkService::terminalAccess_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("expected"); // 1 allowed, 0 refused, -1 the entry is refused as malformed
    const auto row = [](const char *name, const char *entry, const char *peer, int expected) {
        QTest::newRow(name) << QString(entry) << QString(peer) << expected;
    };
    row("same IPv4", "192.168.1.20", "192.168.1.20", 1);
    row("CIDR last", "192.168.1.0/28", "192.168.1.15", 1);
    row("CIDR one past", "192.168.1.0/28", "192.168.1.16", 0);
    row("mapped peer, IPv4 entry", "192.168.1.20", "::ffff:192.168.1.20", 1);
    row("mapped entry, IPv4 peer", "::ffff:10.1.0.0/112", "10.1.2.3", 1);
    row("IPv6 subnet", "fd00::/64", "fd00::1234", 1);
    row("IPv4 peer, IPv6 list", "::1", "127.0.0.1", 0);
    row("link-local with scope", "fe80::1%eth0", "fe80::1", 1);
    // A typo must stop start-up, not widen or narrow the list by a guess.
    row("short form", "10.1", "10.0.0.1", -1);
    row("octal-looking part", "010.0.0.1", "8.0.0.1", -1);
    row("hex part", "0x7f.0.0.1", "127.0.0.1", -1);
    row("part above 255", "10.0.0.256", "10.0.0.1", -1);
    row("host bits set", "192.168.1.20/24", "192.168.1.20", -1);
    row("prefix too long", "fd00::/129", "fd00::1", -1);
    row("empty prefix", "10.0.0.0/", "10.0.0.1", -1);
    row("netmask form", "10.0.0.0/255.0.0.0", "10.0.0.1", -1);
    row("negative prefix", "10.0.0.0/-8", "10.0.0.1", -1);
}

void TestNetworkService::terminalAccess()
{
    QFETCH(QString, entry);
    QFETCH(QString, peer);
    QFETCH(int, expected);
    const std::optional<TerminalAccess::Subnet> subnet = TerminalAccess::parseEntry(entry);
    QCOMPARE(subnet ? int(TerminalAccess::allows({*subnet}, QHostAddress(peer))) : -1, expected);
}

void TestNetworkService::heartbeat()
{
    restartWith(fast);
    // An idle client that answers pings, and one whose link dies silently after its order,
    // as a pulled cable leaves it: only the latter goes, and its order with it.
    QWebSocket idle;
    QVERIFY(m_display->open(idle));
    RawTerminal dead(m_display->port());
    QVERIFY(dead.open());
    const QString peer = LinkLog::peerName(dead.socket().localAddress(), dead.socket().localPort());
    dead.sendBinary(orderMessage(2, 1000, "guest-1"));
    QVERIFY(m_display->waitForMessages(1));
    QCOMPARE(m_display->receipt()->rowCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_display->service()->openSocketCount(), 1, 3 * int(fast.silenceLimit.count()));
    QCOMPARE(m_display->receipt()->rowCount(), 0);
    QCOMPARE(m_display->log().lines(peer).value(1), peer + ": disconnected, no sign of life for 0.4 s");
    QTest::qWait(5 * int(fast.silenceLimit.count()));
    QCOMPARE(idle.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(m_display->service()->openSocketCount(), 1);
    // The display's thread held up well past the limit (a busy machine): the
    // client was not heard because nothing listened, so it stays.
    QThread::msleep(3 * fast.silenceLimit.count());
    QTest::qWait(5 * int(fast.pingInterval.count()));
    QCOMPARE(idle.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(m_display->service()->openSocketCount(), 1);
}

void TestNetworkService::addressesFollowTheMachine()
{
    restartWith(fast);
    NetworkService *service = m_display->service();
    QSignalSpy changed(service, &NetworkService::avaliableIpsChanged);
    QList<QHostAddress> machine{QHostAddress("127.0.0.1")};
    service->setAddressSource([&machine] { return machine; });
    const auto listed = [service] {
        return QJsonDocument(service->avaliableIps()).toJson(QJsonDocument::Compact);
    };
    QTRY_COMPARE(listed(), QByteArray(R"([{"address":"127.0.0.1"}])"));
    changed.clear();
    const int polls = 5 * int(fast.addressPollInterval.count());

    // DHCP answers late; some interfaces carry an address twice.
    for (const char *address : {"192.168.1.5", "::1", "192.168.1.5", "10.0.0.7", "127.0.0.1"})
        machine << QHostAddress(address);
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(listed(),
             QByteArray(R"([{"address":"127.0.0.1"},{"address":"192.168.1.5"},{"address":"10.0.0.7"}])"));
    QTest::qWait(polls);
    QCOMPARE(changed.count(), 1);

    // Not while a terminal is connected (the list is not shown); again at once when it leaves.
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    machine = {QHostAddress("10.0.0.8")};
    QTest::qWait(polls);
    QCOMPARE(changed.count(), 1);
    QVERIFY(m_display->close(terminal));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(listed(), QByteArray(R"([{"address":"10.0.0.8"}])"));
}

void TestNetworkService::allowList()
{
    NetworkService *service = m_display->service();
    service->setAllowedTerminals(
        {*TerminalAccess::parseEntry("127.0.0.3"), *TerminalAccess::parseEntry("127.0.0.1")});
    QWebSocket terminal;
    QVERIFY(m_display->open(terminal));
    QSignalSpy connected(service, &NetworkService::terminalConnected);
    m_display->log().clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
        RawTerminal caller(m_display->port());
        QVERIFY(!caller.open(QHostAddress("127.0.0.2")));
        QVERIFY(caller.waitForDisconnected());
    }
    QCOMPARE(connected.count(), 0); // and named once
    const QStringList warnings = m_display->log().lines("127.0.0.2:");
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().endsWith(": refused, not an allowed terminal (--allow-terminal)"),
             qPrintable(warnings.first()));
    QVERIFY(m_display->send(terminal, DisplayHarness::message("app_logo", QJsonObject{{"logo", "till"}})));
    QCOMPARE(m_display->env()->logo(), QString("till"));
}

void TestNetworkService::listenAddress()
{
    m_display.reset();
    AppEnv env;
    NetworkService service(&env);
    service.setListenAddress(QHostAddress("127.0.0.1"));
    service.run();
    QCOMPARE(service.avaliableIps(), QJsonArray({QJsonObject{{"address", "127.0.0.1"}}}));

    for (const char *to : {"127.0.0.2", "127.0.0.1"}) {
        QTcpSocket client;
        client.connectToHost(QHostAddress(to), service.serverPort());
        QCOMPARE(client.waitForConnected(DisplayHarness::timeout), QByteArray(to) == "127.0.0.1");
    }

    // An address the machine does not have (yet): said so, and tried again.
    NetworkService waiting(&env);
    waiting.setListenAddress(QHostAddress("192.0.2.10"));
    QTest::ignoreMessage(
        QtCriticalMsg,
        QRegularExpression("^cannot listen on port \\d+ of 192\\.0\\.2\\.10: this machine does "
                           "not have that address \\(yet\\); trying again every 2 s$"));
    waiting.run();
    QVERIFY(!waiting.isListening());
    QVERIFY(waiting.isAddressMissing());
    QVERIFY(!waiting.isPortBusy());
    QCOMPARE(waiting.avaliableIps(), QJsonArray({QJsonObject{{"address", "192.0.2.10"}}}));
}

QTEST_MAIN(TestNetworkService)
#include "tst_networkservice.moc"
