#include "DisplayHarness.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include <climits>
#include <memory>
#include <utility>

namespace {

const QString qrPrefix = QStringLiteral("data:image/png;base64,");
const QString sbpUrl =
    QStringLiteral("https://qr.nspk.ru/AS1000670LSS7DN18SJQDNP4B05KLJL2?type=01&bank=100000000001"
                   "&sum=10000&cur=RUB&crc=C08B");

QByteArray raw(const char *text)
{
    return QByteArray(text);
}

QByteArray orderWithLines(const QByteArray &lines)
{
    return R"({"path":"order","content":{"receipt_items":)" + lines +
           R"(,"order":{"to_payment":88800,"discount":1200,"discount_percent":0.05},)"
           R"("guest":{"uuid":"guest-7","client_name":"Анна","bonus_count":30000}}})";
}

QByteArray payment(const QJsonObject &content)
{
    return DisplayHarness::message("payment", content);
}

// Records the display-facing signals of a payment, with what the order held
// at each orderChanged. A document bound to the order itself sees only the
// order's own changed: an orderChanged without it is recorded as "unseen".
class PaymentRecorder
{
public:
    explicit PaymentRecorder(DisplayHarness &display)
    {
        AppEnv *env = display.env();
        Order *order = display.order();
        QObject::connect(order, &Order::changed, &m_context, [this]() { m_orderAnnounced = true; });
        QObject::connect(env, &AppEnv::orderChanged, &m_context, [this, order]() {
            events << QStringLiteral("order(%1,%2,%3)%4")
                          .arg(order->receiptPaymentAmount)
                          .arg(order->receiptPaymentDiscount)
                          .arg(order->qrCodeTable.isNull()    ? "null"
                               : order->qrCodeTable.isEmpty() ? "empty"
                                                              : "qr")
                          .arg(std::exchange(m_orderAnnounced, false) ? "" : " unseen");
        });
        QObject::connect(env, &AppEnv::showQRPaymentDialog, &m_context, [this]() { events << "showQR"; });
        QObject::connect(env, &AppEnv::showPaymentDialog, &m_context, [this]() { events << "showCard"; });
        QObject::connect(env, &AppEnv::closePaymentDialogs, &m_context, [this]() { events << "close"; });
        QObject::connect(env, &AppEnv::clientChanged, &m_context, [this]() { events << "client"; });
        QObject::connect(env, &AppEnv::paymentOutcomeChanged, &m_context, [this, env]() {
            events << QStringLiteral("outcome(%1)").arg(env->paymentOutcome());
        });
        QObject::connect(display.service(), &NetworkService::terminalDisconnected, &m_context,
                         [this]() { events << "disconnected"; });
    }

    QStringList events;

private:
    QObject m_context;
    bool m_orderAnnounced = false;
};

} // namespace

class TestPayment : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_display = std::make_unique<DisplayHarness>();
        QVERIFY(m_display->open(m_terminal));
    }
    void cleanup()
    {
        m_terminal.abort();
        m_display.reset();
    }

    void receiptDiscount_data();
    void receiptDiscount();
    void amount_data();
    void amount();
    void qrRequestSignalOrder();
    void cardRequestSignalOrder();
    void cardDialogWithoutQrText_data();
    void cardDialogWithoutQrText();
    void finished_data();
    void finished();
    void outcomeEnds_data();
    void outcomeEnds();
    void qrThenCardKeepsQrImage();
    void sameQrTextTwice();
    void disconnectDuringPayment();

private:
    std::unique_ptr<DisplayHarness> m_display;
    QWebSocket m_terminal;
};

void TestPayment::receiptDiscount_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QJsonValue>("receiptUuid");
    QTest::addColumn<int>("discount");

    // Per-line truncation, then truncation of the running sum: 21.7 -> 21,
    // then 4 + 0 + 21 = 25, where rounding the exact 26.4 would give 26.
    QTest::newRow("two lines example")
        << raw(R"([{"quantity":2,"discount_amount":10.6,"discount_receipt":0.7,"receipt_uuid":"R1"},)"
               R"({"quantity":1.5,"discount_amount":3,"discount_receipt":0,"receipt_uuid":"R1"}])")
        << QJsonValue("R1") << 25;
    QTest::newRow("receipt shares dropped line by line")
        << raw(R"([{"quantity":1,"discount_receipt":0.6,"receipt_uuid":"R1"},)"
               R"({"quantity":1,"discount_receipt":0.6,"receipt_uuid":"R1"},)"
               R"({"quantity":1,"discount_receipt":0.6,"receipt_uuid":"R1"}])")
        << QJsonValue("R1") << 0;
    QTest::newRow("only lines of the paid receipt")
        << raw(R"([{"quantity":1,"discount_amount":100,"receipt_uuid":"R2"},)"
               R"({"quantity":3,"discount_amount":10.5,"discount_receipt":2.5,"receipt_uuid":"R1"},)"
               R"({"quantity":1,"discount_amount":1000,"receipt_uuid":"R3"}])")
        << QJsonValue("R1") << 33;
    QTest::newRow("negative discounts truncate toward zero")
        << raw(R"([{"quantity":1,"discount_amount":-1.5,"discount_receipt":-0.7,"receipt_uuid":"R1"},)"
               R"({"quantity":2,"discount_amount":-0.3,"receipt_uuid":"R1"}])")
        << QJsonValue("R1") << -1;
    QTest::newRow("numbers as strings")
        << raw(R"([{"quantity":"2","discount_amount":"10","discount_receipt":"5","receipt_uuid":"R1"}])")
        << QJsonValue("R1") << 0;
    QTest::newRow("unknown receipt") << raw(R"([{"quantity":2,"discount_amount":10,"receipt_uuid":"R1"}])")
                                     << QJsonValue("R9") << 0;
    QTest::newRow("receipt differs in case")
        << raw(R"([{"quantity":2,"discount_amount":10,"receipt_uuid":"R1"}])") << QJsonValue("r1") << 0;
    QTest::newRow("no lines at all") << raw("[]") << QJsonValue("R1") << 0;
    QTest::newRow("no receipt_uuid anywhere")
        << raw(R"([{"quantity":2,"discount_amount":10},{"quantity":1,"discount_amount":5,"receipt_uuid":"R1"}])")
        << QJsonValue(QJsonValue::Undefined) << 20;
    QTest::newRow("receipt_uuid a number")
        << raw(R"([{"quantity":2,"discount_amount":10},{"quantity":1,"discount_amount":5,"receipt_uuid":"7"}])")
        << QJsonValue(7) << 20;
    // Beyond any real receipt; must not wrap around into a negative figure.
    QTest::newRow("absurdly large discount")
        << raw(R"([{"quantity":1e12,"discount_amount":1e12,"receipt_uuid":"R1"},)"
               R"({"quantity":1,"discount_amount":5,"receipt_uuid":"R1"}])")
        << QJsonValue("R1") << INT_MAX;
}

void TestPayment::receiptDiscount()
{
    QFETCH(QByteArray, lines);
    QFETCH(QJsonValue, receiptUuid);
    QFETCH(int, discount);

    QVERIFY(m_display->send(m_terminal, orderWithLines(lines)));
    QJsonObject content{{"amount", 10000}};
    if (!receiptUuid.isUndefined())
        content.insert("receipt_uuid", receiptUuid);
    QVERIFY(m_display->send(m_terminal, payment(content)));
    QCOMPARE(m_display->order()->receiptPaymentDiscount, discount);
    QCOMPARE(m_display->order()->receiptPaymentAmount, 10000);
}

void TestPayment::amount_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("amount");

    QTest::newRow("integer") << raw(R"({"path":"payment","content":{"amount":12345}})") << 12345;
    QTest::newRow("integral float") << raw(R"({"path":"payment","content":{"amount":100.0}})") << 100;
    QTest::newRow("negative") << raw(R"({"path":"payment","content":{"amount":-5}})") << -5;
    QTest::newRow("fraction") << raw(R"({"path":"payment","content":{"amount":123.5}})") << 0;
    QTest::newRow("string") << raw(R"({"path":"payment","content":{"amount":"500"}})") << 0;
    QTest::newRow("above int range") << raw(R"({"path":"payment","content":{"amount":2147483648}})") << 0;
    QTest::newRow("at int maximum") << raw(R"({"path":"payment","content":{"amount":2147483647}})")
                                    << INT_MAX;
    QTest::newRow("missing") << raw(R"({"path":"payment","content":{"receipt_uuid":"R1"}})") << 0;
    QTest::newRow("missing content") << raw(R"({"path":"payment"})") << 0;
}

void TestPayment::amount()
{
    QFETCH(QByteArray, message);
    QFETCH(int, amount);

    QVERIFY(m_display->send(m_terminal, payment({{"amount", 777}})));
    QSignalSpy card(m_display->env(), &AppEnv::showPaymentDialog);
    QVERIFY(m_display->send(m_terminal, message));
    QCOMPARE(m_display->order()->receiptPaymentAmount, amount);
    QCOMPARE(card.count(), 1);
}

void TestPayment::qrRequestSignalOrder()
{
    QVERIFY(m_display->send(
        m_terminal,
        orderWithLines(R"([{"quantity":2,"discount_amount":10.6,"discount_receipt":0.7,"receipt_uuid":"R1"},)"
                       R"({"quantity":1.5,"discount_amount":3,"receipt_uuid":"R1"}])")));
    PaymentRecorder recorder(*m_display);

    QVERIFY(m_display->send(m_terminal,
                            payment({{"amount", 10000}, {"receipt_uuid", "R1"}, {"qrcode_table", sbpUrl}})));

    // Amount, then discount, then the image, each announced; the dialog last.
    QCOMPARE(recorder.events,
             QStringList({"order(10000,0,null)", "order(10000,25,null)", "order(10000,25,qr)", "showQR"}));
    QVERIFY(m_display->order()->qrCodeTable.startsWith(qrPrefix));
    QVERIFY(m_display->order()->qrCodeTable.size() > qrPrefix.size());
    // The payment leaves the order's totals and client alone.
    QCOMPARE(m_display->order()->totalAmount, 88800.0);
    QCOMPARE(m_display->client()->uuid, QString("guest-7"));
}

void TestPayment::cardRequestSignalOrder()
{
    QVERIFY(m_display->send(
        m_terminal,
        orderWithLines(
            R"([{"quantity":2,"discount_amount":10.6,"discount_receipt":0.7,"receipt_uuid":"R1"}])")));
    PaymentRecorder recorder(*m_display);

    QVERIFY(m_display->send(m_terminal, payment({{"amount", 5000}, {"receipt_uuid", "R1"}})));
    QCOMPARE(recorder.events, QStringList({"order(5000,0,null)", "order(5000,21,null)", "showCard"}));
}

void TestPayment::cardDialogWithoutQrText_data()
{
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("qrcode_table a number")
        << raw(R"({"path":"payment","content":{"amount":1,"qrcode_table":5}})");
    QTest::newRow("qrcode_table empty")
        << raw(R"({"path":"payment","content":{"amount":1,"qrcode_table":""}})");
    QTest::newRow("qrcode_table null")
        << raw(R"({"path":"payment","content":{"amount":1,"qrcode_table":null}})");
    QTest::newRow("qrcode_table an object")
        << raw(R"({"path":"payment","content":{"amount":1,"qrcode_table":{"text":"x"}}})");
    QTest::newRow("qrcode_table missing") << raw(R"({"path":"payment","content":{"amount":1}})");
}

void TestPayment::cardDialogWithoutQrText()
{
    QFETCH(QByteArray, message);

    QSignalSpy card(m_display->env(), &AppEnv::showPaymentDialog);
    QSignalSpy qr(m_display->env(), &AppEnv::showQRPaymentDialog);
    QVERIFY(m_display->send(m_terminal, message));
    QCOMPARE(card.count(), 1);
    QCOMPARE(qr.count(), 0);
    QVERIFY(m_display->order()->qrCodeTable.isNull());
    QCOMPARE(m_display->order()->receiptPaymentAmount, 1);
}

void TestPayment::finished_data()
{
    QTest::addColumn<QJsonObject>("content");
    QTest::addColumn<QStringList>("events");

    const QStringList closed{"close", "order(0,0,null)"};
    QTest::newRow("with an amount") << QJsonObject{{"is_finished", true}, {"amount", 500}} << closed;
    QTest::newRow("with QR text") << QJsonObject{{"is_finished", true},
                                                 {"amount", 500},
                                                 {"qrcode_table", "other"},
                                                 {"receipt_uuid", "R1"}}
                                  << closed;
    QTest::newRow("alone") << QJsonObject{{"is_finished", true}} << closed;
    QTest::newRow("paid") << QJsonObject{{"is_finished", true}, {"result", "success"}}
                          << closed + QStringList{"outcome(success)"};
    QTest::newRow("declined") << QJsonObject{{"is_finished", true}, {"result", "declined"}}
                              << closed + QStringList{"outcome(declined)"};
    // Tills that send no outcome, or another word, see nothing new.
    QTest::newRow("an unknown result") << QJsonObject{{"is_finished", true}, {"result", "ok"}} << closed;
    QTest::newRow("a result while paying") << QJsonObject{{"result", "success"}, {"amount", 500}}
                                           << QStringList{"order(500,0,qr)", "order(500,0,qr)", "showCard"};
    // Only the literal true finishes; anything else is a new request.
    QTest::newRow("as string") << QJsonObject{{"is_finished", "true"}, {"amount", 500}}
                               << QStringList{"order(500,0,qr)", "order(500,0,qr)", "showCard"};
    QTest::newRow("as number") << QJsonObject{{"is_finished", 1}, {"amount", 500}}
                               << QStringList{"order(500,0,qr)", "order(500,0,qr)", "showCard"};
    QTest::newRow("false") << QJsonObject{{"is_finished", false}, {"amount", 500}}
                           << QStringList{"order(500,0,qr)", "order(500,0,qr)", "showCard"};
}

void TestPayment::finished()
{
    QFETCH(QJsonObject, content);
    QFETCH(QStringList, events);

    QVERIFY(m_display->send(m_terminal, DisplayHarness::message("bonus", QJsonObject{{"count", 300}})));
    QVERIFY(m_display->send(m_terminal, payment({{"amount", 9000}, {"qrcode_table", sbpUrl}})));
    PaymentRecorder recorder(*m_display);

    QVERIFY(m_display->send(m_terminal, payment(content)));
    QCOMPARE(recorder.events, events);
    // Bonus figures are not payment figures.
    QCOMPARE(m_display->order()->expenseBonusCount, 300);
}

void TestPayment::outcomeEnds_data()
{
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QString>("outcome");

    // The empty order that tills send to clear the screen after a sale.
    QTest::newRow("an empty order keeps it") << raw(R"({"path":"order","content":{}})") << "success";
    QTest::newRow("the next customer's lines end it") << orderWithLines(R"([{"quantity":1}])") << QString();
    QTest::newRow("a new payment ends it") << payment({{"amount", 500}}) << QString();
    QTest::newRow("a bonus keeps it")
        << DisplayHarness::message("bonus", QJsonObject{{"count", 0}}) << "success";
    QTest::newRow("the terminal leaving ends it") << QByteArray() << QString();
}

void TestPayment::outcomeEnds()
{
    QFETCH(QByteArray, next);
    QFETCH(QString, outcome);

    QVERIFY(m_display->send(m_terminal, payment({{"is_finished", true}, {"result", "success"}})));
    QCOMPARE(m_display->env()->paymentOutcome(), QStringLiteral("success"));
    if (next.isEmpty())
        QVERIFY(m_display->close(m_terminal));
    else
        QVERIFY(m_display->send(m_terminal, next));
    QTRY_COMPARE(m_display->env()->paymentOutcome(), outcome);
}

void TestPayment::qrThenCardKeepsQrImage()
{
    QVERIFY(m_display->send(m_terminal, payment({{"amount", 9000}, {"qrcode_table", sbpUrl}})));
    const QString image = m_display->order()->qrCodeTable;
    QVERIFY(image.size() > qrPrefix.size());

    PaymentRecorder recorder(*m_display);
    QVERIFY(m_display->send(m_terminal, payment({{"amount", 9500}})));
    QCOMPARE(recorder.events, QStringList({"order(9500,0,qr)", "order(9500,0,qr)", "showCard"}));
    QCOMPARE(m_display->order()->qrCodeTable, image);
}

void TestPayment::sameQrTextTwice()
{
    QSignalSpy qr(m_display->env(), &AppEnv::showQRPaymentDialog);
    QVERIFY(m_display->send(m_terminal, payment({{"amount", 9000}, {"qrcode_table", sbpUrl}})));
    const QString first = m_display->order()->qrCodeTable;
    QVERIFY(m_display->send(m_terminal, payment({{"amount", 9000}, {"qrcode_table", sbpUrl}})));
    QCOMPARE(m_display->order()->qrCodeTable, first);
    QCOMPARE(qr.count(), 2);

    QVERIFY(m_display->send(m_terminal, payment({{"amount", 9000}, {"qrcode_table", sbpUrl + "0"}})));
    QVERIFY(m_display->order()->qrCodeTable != first);
    QCOMPARE(qr.count(), 3);
}

void TestPayment::disconnectDuringPayment()
{
    AppEnv *env = m_display->env();
    const QByteArray promo =
        R"({"path":"promo_image","content":{"promo_images":[)"
        R"({"uuid":"p1","is_active":true,"is_order_screen":true,"image":"https://shop.example/1.png","timeout":5}]}})";
    QVERIFY(m_display->send(m_terminal, promo));
    QTRY_COMPARE(env->promoImageModel()->rowCount(), 1);
    QVERIFY(m_display->send(m_terminal,
                            orderWithLines(R"([{"quantity":2,"discount_amount":10,"receipt_uuid":"R1"}])")));
    QVERIFY(
        m_display->send(m_terminal, DisplayHarness::message("app_logo", QJsonObject{{"logo", "logo.png"}})));
    QVERIFY(m_display->send(
        m_terminal, DisplayHarness::message("bonus", QJsonObject{{"count", 25}, {"is_replenisment", true}})));
    QVERIFY(m_display->send(m_terminal,
                            payment({{"amount", 9000}, {"receipt_uuid", "R1"}, {"qrcode_table", sbpUrl}})));
    env->setPromoImagesToShow(QJsonArray{QJsonObject{{"url", "https://shop.example/1.png"}, {"timeout", 5}}});
    QCOMPARE(m_display->order()->receiptPaymentDiscount, 20);

    PaymentRecorder recorder(*m_display);
    QObject context;
    connect(env, &AppEnv::promoImagesToShowChanged, &context,
            [&]() { recorder.events << QStringLiteral("shown(%1)").arg(env->promoImagesToShow().size()); });
    // Announced before each model's own listeners see the reset.
    connect(m_display->receipt(), &QAbstractItemModel::modelAboutToBeReset, &context,
            [&]() { recorder.events << "lines"; });
    connect(env->promoImageModel(), &QAbstractItemModel::modelAboutToBeReset, &context,
            [&]() { recorder.events << "promo"; });

    QVERIFY(m_display->close(m_terminal));

    // The schedule re-publishes (nothing) when the promo model empties.
    QCOMPARE(recorder.events, QStringList({"shown(0)", "lines", "promo", "shown(0)", "order(0,0,null)",
                                           "close", "disconnected"}));
    QVERIFY(env->promoImagesToShow().isEmpty());
    QCOMPARE(m_display->receipt()->rowCount(), 0);
    QCOMPARE(env->promoImageModel()->rowCount(), 0);
    // Kept until the next messages replace them.
    QCOMPARE(m_display->order()->totalAmount, 88800.0);
    QCOMPARE(m_display->order()->discount, 1200.0);
    QCOMPARE(m_display->order()->discountPercent, 0.05);
    QCOMPARE(m_display->order()->replenishmentBonus, 25.0);
    QCOMPARE(m_display->client()->uuid, QString("guest-7"));
    QCOMPARE(m_display->client()->bonusCount, 30000.0);
    QCOMPARE(env->logo(), QString("logo.png"));
}

QTEST_MAIN(TestPayment)
#include "tst_payment.moc"
