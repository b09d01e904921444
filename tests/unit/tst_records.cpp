// Conversions of the terminal's JSON into the display's records, and the
// change notifications of the two observable records.

#include "Gzip.h"
#include "TestJson.h"
#include "pictures/PictureGuard.h"
#include "promo/PromoImage.h"
#include "promo/PromoImageModel.h"
#include "state/Client.h"
#include "state/Order.h"
#include "state/ReceiptItem.h"

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void receiptItemField_data();
    void receiptItemField();
    void receiptItemDefaultsAndOverwrite();

    void clientField_data();
    void clientField();
    void clientEmptyObjectClearsAndEmitsOnce();

    void orderField_data();
    void orderField();
    void orderFromJsonKeepsPaymentAndBonusFigures();
    void fromJsonEmitsEveryTime_data();
    void fromJsonEmitsEveryTime();

    void observableProperties_data();
    void observableProperties();
    void metaObjectWrite_data();
    void metaObjectWrite();
    void metaObjectWriteNaNAlwaysEmits_data();
    void metaObjectWriteNaNAlwaysEmits();

    void promoImageField_data();
    void promoImageField();
    void promoImageDefaultsAndOverwrite();
    void promoImageIsValid_data();
    void promoImageIsValid();

    void limits_data();
    void limits();
    void pictures_data();
    void pictures();
};

namespace {

using TestJson::parseObject;

// How a field is read from JSON; each kind has its own set of awkward inputs.
enum class Kind { String, Double, Int, Bool, Array, Object, DateTime };

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

void addRow(const QByteArray &key, const QByteArray &field, const char *what, const QByteArray &value,
            const QVariant &expected)
{
    const QByteArray json = value.isNull() ? QByteArray("{}") : "{\"" + key + "\": " + value + "}";
    QTest::addRow("%s: %s", key.constData(), what) << json << field << expected;
}

// Rows for one field: the valid forms and every wrong JSON type the terminal might send.
void addFieldRows(const QByteArray &key, const QByteArray &field, Kind kind)
{
    switch (kind) {
    case Kind::String:
        addRow(key, field, "missing key", QByteArray(), QString());
        addRow(key, field, "string", "\"Капучино 0,3\"", QStringLiteral("Капучино 0,3"));
        addRow(key, field, "empty string", "\"\"", QString());
        addRow(key, field, "number instead of string", "42", QString());
        addRow(key, field, "bool instead of string", "true", QString());
        addRow(key, field, "null", "null", QString());
        addRow(key, field, "array instead of string", "[\"a\"]", QString());
        addRow(key, field, "object instead of string", "{\"a\": \"b\"}", QString());
        break;
    case Kind::Double:
        addRow(key, field, "missing key", QByteArray(), 0.0);
        addRow(key, field, "integer", "12345", 12345.0);
        addRow(key, field, "fraction", "123.45", 123.45);
        addRow(key, field, "negative", "-7.5", -7.5);
        addRow(key, field, "exponent", "1e3", 1000.0);
        addRow(key, field, "numeric string", "\"500\"", 0.0);
        addRow(key, field, "bool instead of number", "true", 0.0);
        addRow(key, field, "null", "null", 0.0);
        addRow(key, field, "array instead of number", "[5]", 0.0);
        addRow(key, field, "object instead of number", "{\"v\": 5}", 0.0);
        break;
    case Kind::Int:
        addRow(key, field, "missing key", QByteArray(), 0);
        addRow(key, field, "integer", "5", 5);
        addRow(key, field, "integral fraction", "5.0", 5);
        addRow(key, field, "exponent", "1e3", 1000);
        addRow(key, field, "fraction for an int", "5.5", 0);
        addRow(key, field, "numeric string", "\"5\"", 0);
        addRow(key, field, "bool instead of number", "true", 0);
        addRow(key, field, "null", "null", 0);
        addRow(key, field, "largest int", "2147483647", 2147483647);
        addRow(key, field, "smallest int", "-2147483648", int(-2147483647 - 1));
        addRow(key, field, "above the int range", "2147483648", 0);
        addRow(key, field, "below the int range", "-2147483649", 0);
        break;
    case Kind::Bool:
        addRow(key, field, "missing key", QByteArray(), false);
        addRow(key, field, "true", "true", true);
        addRow(key, field, "false", "false", false);
        addRow(key, field, "string true", "\"true\"", false);
        addRow(key, field, "number one", "1", false);
        addRow(key, field, "null", "null", false);
        break;
    case Kind::Array:
        addRow(key, field, "missing key", QByteArray(), QJsonArray());
        addRow(key, field, "array kept whole", "[{\"nomenclature\": \"Сироп\", \"quantity\": 2}, 7, \"x\"]",
               QJsonArray{QJsonObject{{"nomenclature", "Сироп"}, {"quantity", 2}}, 7, "x"});
        addRow(key, field, "empty array", "[]", QJsonArray());
        addRow(key, field, "object instead of array", "{\"nomenclature\": \"Сироп\"}", QJsonArray());
        addRow(key, field, "string instead of array", "\"[1]\"", QJsonArray());
        addRow(key, field, "null", "null", QJsonArray());
        break;
    case Kind::Object:
        addRow(key, field, "missing key", QByteArray(), QJsonObject());
        addRow(key, field, "object kept whole", "{\"monday\": [[\"09:00\", \"18:00\"]], \"other\": 1}",
               QJsonObject{{"monday", QJsonArray{QJsonValue(QJsonArray{"09:00", "18:00"})}}, {"other", 1}});
        addRow(key, field, "array instead of object", "[]", QJsonObject());
        addRow(key, field, "string instead of object", "\"{}\"", QJsonObject());
        addRow(key, field, "null", "null", QJsonObject());
        break;
    case Kind::DateTime:
        addRow(key, field, "missing key", QByteArray(), QDateTime());
        addRow(key, field, "null date", "null", QDateTime());
        addRow(key, field, "empty text", "\"\"", QDateTime());
        addRow(key, field, "unparseable date", "\"yesterday\"", QDateTime());
        addRow(key, field, "impossible date", "\"2024-02-30T10:00:00Z\"", QDateTime());
        addRow(key, field, "number instead of text", "1714989600", QDateTime());
        addRow(key, field, "Z date", "\"2024-05-06T10:00:00Z\"", utc(2024, 5, 6, 10, 0));
        addRow(key, field, "Z date with milliseconds", "\"2024-05-06T10:00:00.250Z\"",
               utc(2024, 5, 6, 10, 0, 0, 250));
        addRow(key, field, "offset date", "\"2024-05-06T10:00:00+03:00\"",
               QDateTime(QDate(2024, 5, 6), QTime(10, 0), Qt::OffsetFromUTC, 3 * 3600));
        addRow(key, field, "negative offset date", "\"2024-05-06T10:00:00-05:30\"",
               QDateTime(QDate(2024, 5, 6), QTime(10, 0), Qt::OffsetFromUTC, -(5 * 3600 + 1800)));
        addRow(key, field, "local date", "\"2024-05-06T10:00:00\"",
               QDateTime(QDate(2024, 5, 6), QTime(10, 0), Qt::LocalTime));
        break;
    }
}

void addColumns()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QVariant>("expected");
}

void compareValues(const QVariant &actual, const QVariant &expected)
{
    QCOMPARE(actual.metaType(), expected.metaType());
    if (expected.metaType().id() == QMetaType::QDateTime) {
        const QDateTime a = actual.toDateTime();
        const QDateTime e = expected.toDateTime();
        QCOMPARE(a.isNull(), e.isNull());
        if (!e.isNull()) {
            QCOMPARE(a, e); // same instant
            QCOMPARE(a.timeSpec(), e.timeSpec());
            QCOMPARE(a.offsetFromUtc(), e.offsetFromUtc());
        }
        return;
    }
    QCOMPARE(actual, expected);
}

QVariant receiptField(const ReceiptItem &item, const QByteArray &field)
{
    if (field == "uuid")
        return item.uuid;
    if (field == "menuName")
        return item.menuName;
    if (field == "quantity")
        return item.quantity;
    if (field == "menuPrice")
        return item.menuPrice;
    if (field == "discountAmount")
        return item.discountAmount;
    if (field == "discountReceipt")
        return item.discountReceipt;
    if (field == "total")
        return item.total;
    if (field == "receiptItemRecipeChanges")
        return item.receiptItemRecipeChanges;
    if (field == "receiptUuid")
        return item.receiptUuid;
    qFatal("unknown receipt field %s", field.constData());
}

QVariant promoField(const PromoImage &image, const QByteArray &field)
{
    if (field == "uuid")
        return image.uuid;
    if (field == "name")
        return image.name;
    if (field == "is_active")
        return image.is_active;
    if (field == "image")
        return image.image;
    if (field == "is_order_screen")
        return image.is_order_screen;
    if (field == "is_queue")
        return image.is_queue;
    if (field == "start_at")
        return image.start_at;
    if (field == "end_at")
        return image.end_at;
    if (field == "schedule")
        return image.schedule;
    if (field == "created_by")
        return image.created_by;
    if (field == "created_at")
        return image.created_at;
    if (field == "updated_at")
        return image.updated_at;
    if (field == "deleted_at")
        return image.deleted_at;
    if (field == "timeout")
        return image.timeout;
    qFatal("unknown promo field %s", field.constData());
}

const QByteArray fullReceiptLine = R"({"uuid": "line-1", "menu_name": "Латте", "quantity": 2,
    "menu_price": 25000, "discount_amount": 1000, "discount_receipt": 500, "total": 48000,
    "receipt_item_recipe_changes": [{"nomenclature": "Сироп", "quantity": 1}], "receipt_uuid": "r-1"})";

const QByteArray fullPromo =
    R"({"uuid": "p-1", "name": "Весна", "is_active": true, "image": "http://127.0.0.1/a.png",
    "is_order_screen": true, "is_queue": true, "start_at": "2024-05-01T00:00:00Z", "end_at": "2024-06-01T00:00:00Z",
    "schedule": {"monday": []}, "created_by": 7, "created_at": "2024-04-01T00:00:00Z",
    "updated_at": "2024-04-02T00:00:00Z", "deleted_at": "2024-04-03T00:00:00Z", "timeout": 10})";

const QByteArray fullClient = R"({"uuid": "c-1", "client_name": "Анна", "client_lastname": "Петрова",
    "discount_name": "Золотая", "discount_percent": 1000, "bonus_count": 25050})";

} // namespace

void TestRecords::receiptItemField_data()
{
    addColumns();
    addFieldRows("uuid", "uuid", Kind::String);
    addFieldRows("menu_name", "menuName", Kind::String);
    addFieldRows("quantity", "quantity", Kind::Double);
    addFieldRows("menu_price", "menuPrice", Kind::Double);
    addFieldRows("discount_amount", "discountAmount", Kind::Double);
    addFieldRows("discount_receipt", "discountReceipt", Kind::Double);
    addFieldRows("total", "total", Kind::Double);
    addFieldRows("receipt_item_recipe_changes", "receiptItemRecipeChanges", Kind::Array);
    addFieldRows("receipt_uuid", "receiptUuid", Kind::String);
}

void TestRecords::receiptItemField()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, field);
    QFETCH(QVariant, expected);

    ReceiptItem item;
    item.fromJson(parseObject(json));
    compareValues(receiptField(item, field), expected);
}

void TestRecords::receiptItemDefaultsAndOverwrite()
{
    const ReceiptItem fresh;
    ReceiptItem item;
    item.fromJson(parseObject(fullReceiptLine));
    QCOMPARE(item.uuid, QStringLiteral("line-1"));
    QCOMPARE(item.total, 48000.0);
    QCOMPARE(item.receiptUuid, QStringLiteral("r-1"));

    // Every field is assigned, present or not: an empty object restores the defaults.
    item.fromJson(QJsonObject());
    for (const QByteArray field : {"uuid", "menuName", "quantity", "menuPrice", "discountAmount",
                                   "discountReceipt", "total", "receiptItemRecipeChanges", "receiptUuid"}) {
        QCOMPARE(receiptField(item, field), receiptField(fresh, field));
    }
    QVERIFY(fresh.uuid.isEmpty());
    QCOMPARE(fresh.quantity, 0.0);
    QVERIFY(fresh.receiptItemRecipeChanges.isEmpty());
}

void TestRecords::clientField_data()
{
    addColumns();
    addFieldRows("uuid", "uuid", Kind::String);
    addFieldRows("client_name", "clientName", Kind::String);
    addFieldRows("client_lastname", "clientLastName", Kind::String);
    addFieldRows("discount_name", "discountName", Kind::String);
    addFieldRows("discount_percent", "discountPercent", Kind::Double);
    addFieldRows("bonus_count", "bonusCount", Kind::Double);
}

void TestRecords::clientField()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, field);
    QFETCH(QVariant, expected);

    Client client;
    client.fromJson(parseObject(fullClient)); // a previous client must not leak through
    client.fromJson(parseObject(json));
    compareValues(client.property(field.constData()), expected);
}

void TestRecords::clientEmptyObjectClearsAndEmitsOnce()
{
    Client client;
    client.fromJson(parseObject(fullClient));
    QCOMPARE(client.clientLastName, QStringLiteral("Петрова"));
    QCOMPARE(client.discountPercent, 1000.0);

    QSignalSpy changed(&client, &Client::changed);
    client.fromJson(QJsonObject());
    QCOMPARE(changed.count(), 1);
    QVERIFY(client.uuid.isEmpty());
    QVERIFY(client.clientName.isEmpty());
    QVERIFY(client.clientLastName.isEmpty());
    QVERIFY(client.discountName.isEmpty());
    QCOMPARE(client.discountPercent, 0.0);
    QCOMPARE(client.bonusCount, 0.0);
}

void TestRecords::orderField_data()
{
    addColumns();
    addFieldRows("to_payment", "totalAmount", Kind::Double);
    addFieldRows("discount", "discount", Kind::Double);
    addFieldRows("discount_percent", "discountPercent", Kind::Double);
}

void TestRecords::orderField()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, field);
    QFETCH(QVariant, expected);

    Order order;
    order.fromJson(parseObject(R"({"to_payment": 1, "discount": 2, "discount_percent": 0.5})"));
    order.fromJson(parseObject(json));
    compareValues(order.property(field.constData()), expected);
}

void TestRecords::orderFromJsonKeepsPaymentAndBonusFigures()
{
    Order order;
    order.replenishmentBonus = 150;
    order.qrCodeTable = QStringLiteral("data:image/png;base64,AAAA");
    order.receiptPaymentAmount = 48000;
    order.receiptPaymentDiscount = 1500;
    order.expenseBonusCount = 300;

    order.fromJson(parseObject(R"({"to_payment": 48000, "discount": 1500, "discount_percent": 0.1,
        "replenishment_bonus": 1, "qr_code_table": "x", "receipt_payment_amount": 1})"));
    QCOMPARE(order.totalAmount, 48000.0);
    QCOMPARE(order.discount, 1500.0);
    QCOMPARE(order.discountPercent, 0.1);
    QCOMPARE(order.replenishmentBonus, 150.0);
    QCOMPARE(order.qrCodeTable, QStringLiteral("data:image/png;base64,AAAA"));
    QCOMPARE(order.receiptPaymentAmount, 48000);
    QCOMPARE(order.receiptPaymentDiscount, 1500);
    QCOMPARE(order.expenseBonusCount, 300);
}

void TestRecords::fromJsonEmitsEveryTime_data()
{
    QTest::addColumn<bool>("isOrder");
    QTest::newRow("order") << true;
    QTest::newRow("client") << false;
}

void TestRecords::fromJsonEmitsEveryTime()
{
    QFETCH(bool, isOrder);
    Order order;
    Client client;
    QObject *record = isOrder ? static_cast<QObject *>(&order) : &client;
    const QJsonObject json = parseObject(isOrder ? QByteArray(R"({"to_payment": 100})") : fullClient);
    auto apply = [&] {
        if (isOrder)
            order.fromJson(json);
        else
            client.fromJson(json);
    };

    QSignalSpy changed(record, SIGNAL(changed()));
    apply();
    QCOMPARE(changed.count(), 1);
    apply(); // same object again: no comparison, still one emission
    QCOMPARE(changed.count(), 2);
}

void TestRecords::observableProperties_data()
{
    QTest::addColumn<bool>("isOrder");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("types");
    QTest::newRow("order") << true
                           << QStringList{"totalAmount",
                                          "discount",
                                          "discountPercent",
                                          "replenishmentBonus",
                                          "qrCodeTable",
                                          "receiptPaymentAmount",
                                          "receiptPaymentDiscount",
                                          "expenseBonusCount"}
                           << QList<int>{QMetaType::Double, QMetaType::Double,  QMetaType::Double,
                                         QMetaType::Double, QMetaType::QString, QMetaType::Int,
                                         QMetaType::Int,    QMetaType::Int};
    QTest::newRow("client") << false << QStringList{"uuid",         "clientName",      "clientLastName",
                                                    "discountName", "discountPercent", "bonusCount"}
                            << QList<int>{QMetaType::QString, QMetaType::QString, QMetaType::QString,
                                          QMetaType::QString, QMetaType::Double,  QMetaType::Double};
}

void TestRecords::observableProperties()
{
    QFETCH(bool, isOrder);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, types);

    Order order;
    Client client;
    QObject *record = isOrder ? static_cast<QObject *>(&order) : &client;
    QQmlEngine engine;
    for (int i = 0; i < names.size(); ++i) {
        // A document's binding to the property follows a change made through it.
        QQmlComponent component(&engine);
        component.setData(QStringLiteral("import QtQml\nQtObject { required property QtObject record; "
                                         "readonly property var value: record.%1 }")
                              .arg(names.at(i))
                              .toUtf8(),
                          QUrl());
        std::unique_ptr<QObject> document(
            component.createWithInitialProperties({{QStringLiteral("record"), QVariant::fromValue(record)}}));
        QVERIFY2(document, qPrintable(component.errorString()));
        const QVariant value =
            types.at(i) == QMetaType::QString ? QVariant(QStringLiteral("text %1").arg(i)) : QVariant(7 + i);
        QVERIFY(record->setProperty(qPrintable(names.at(i)), value));
        QCOMPARE(document->property("value").toString(), value.toString());
    }
}

void TestRecords::metaObjectWrite_data()
{
    QTest::addColumn<bool>("isOrder");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("initial");
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<int>("emits");

    QTest::newRow("order double, same value")
        << true << QByteArray("totalAmount") << QVariant(100.0) << QVariant(100.0) << 0;
    QTest::newRow("order double, same value given as int")
        << true << QByteArray("discount") << QVariant(100.0) << QVariant(100) << 0;
    QTest::newRow("order double, differing value")
        << true << QByteArray("discountPercent") << QVariant(0.1) << QVariant(0.2) << 1;
    QTest::newRow("order double, zero to negative zero")
        << true << QByteArray("replenishmentBonus") << QVariant(0.0) << QVariant(-0.0) << 0;
    QTest::newRow("order string, same content")
        << true << QByteArray("qrCodeTable") << QVariant(QStringLiteral("abc"))
        << QVariant(QStringLiteral("abc")) << 0;
    QTest::newRow("order string, differing content")
        << true << QByteArray("qrCodeTable") << QVariant(QStringLiteral("abc"))
        << QVariant(QStringLiteral("abd")) << 1;
    QTest::newRow("order int, same value")
        << true << QByteArray("receiptPaymentAmount") << QVariant(500) << QVariant(500) << 0;
    QTest::newRow("order int, differing value")
        << true << QByteArray("expenseBonusCount") << QVariant(500) << QVariant(501) << 1;
    QTest::newRow("client string, same content")
        << false << QByteArray("clientName") << QVariant(QStringLiteral("Анна"))
        << QVariant(QStringLiteral("Анна")) << 0;
    QTest::newRow("client string, differing content")
        << false << QByteArray("uuid") << QVariant(QStringLiteral("a")) << QVariant(QStringLiteral("A")) << 1;
    QTest::newRow("client double, same value")
        << false << QByteArray("bonusCount") << QVariant(25050.0) << QVariant(25050.0) << 0;
    QTest::newRow("client double, differing value")
        << false << QByteArray("discountPercent") << QVariant(1000.0) << QVariant(1500.0) << 1;
}

void TestRecords::metaObjectWrite()
{
    QFETCH(bool, isOrder);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, initial);
    QFETCH(QVariant, written);
    QFETCH(int, emits);

    Order order;
    Client client;
    QObject *record = isOrder ? static_cast<QObject *>(&order) : &client;
    QVERIFY(record->setProperty(property.constData(), initial));

    QSignalSpy changed(record, SIGNAL(changed()));
    QVERIFY(record->setProperty(property.constData(), written));
    QCOMPARE(changed.count(), emits);
    // The stored value is the written one, converted to the property's type.
    QVariant converted = written;
    QVERIFY(converted.convert(record->property(property.constData()).metaType()));
    QCOMPARE(record->property(property.constData()), converted);
}

void TestRecords::metaObjectWriteNaNAlwaysEmits_data()
{
    QTest::addColumn<bool>("isOrder");
    QTest::addColumn<QByteArray>("property");
    QTest::newRow("order totalAmount") << true << QByteArray("totalAmount");
    QTest::newRow("order replenishmentBonus") << true << QByteArray("replenishmentBonus");
    QTest::newRow("client discountPercent") << false << QByteArray("discountPercent");
    QTest::newRow("client bonusCount") << false << QByteArray("bonusCount");
}

void TestRecords::metaObjectWriteNaNAlwaysEmits()
{
    QFETCH(bool, isOrder);
    QFETCH(QByteArray, property);

    Order order;
    Client client;
    QObject *record = isOrder ? static_cast<QObject *>(&order) : &client;
    QSignalSpy changed(record, SIGNAL(changed()));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(record->setProperty(property.constData(), nan));
        QCOMPARE(changed.count(), i);
        QVERIFY(std::isnan(record->property(property.constData()).toDouble()));
    }
    // From NaN back to a number is a change as well.
    QVERIFY(record->setProperty(property.constData(), 1.0));
    QCOMPARE(changed.count(), 4);
}

void TestRecords::promoImageField_data()
{
    addColumns();
    addFieldRows("uuid", "uuid", Kind::String);
    addFieldRows("name", "name", Kind::String);
    addFieldRows("is_active", "is_active", Kind::Bool);
    addFieldRows("image", "image", Kind::String);
    addFieldRows("is_order_screen", "is_order_screen", Kind::Bool);
    addFieldRows("is_queue", "is_queue", Kind::Bool);
    addFieldRows("start_at", "start_at", Kind::DateTime);
    addFieldRows("end_at", "end_at", Kind::DateTime);
    addFieldRows("schedule", "schedule", Kind::Object);
    addFieldRows("created_by", "created_by", Kind::Int);
    addFieldRows("created_at", "created_at", Kind::DateTime);
    addFieldRows("updated_at", "updated_at", Kind::DateTime);
    addFieldRows("deleted_at", "deleted_at", Kind::DateTime);
    addFieldRows("timeout", "timeout", Kind::Int);
}

void TestRecords::promoImageField()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, field);
    QFETCH(QVariant, expected);

    PromoImage image;
    image.fromJson(parseObject(fullPromo));
    image.fromJson(parseObject(json));
    compareValues(promoField(image, field), expected);
}

void TestRecords::promoImageDefaultsAndOverwrite()
{
    const PromoImage fresh;
    QVERIFY(fresh.uuid.isEmpty() && fresh.name.isEmpty() && fresh.image.isEmpty());
    QVERIFY(!fresh.is_active && !fresh.is_order_screen && !fresh.is_queue);
    QVERIFY(fresh.start_at.isNull() && fresh.end_at.isNull());
    QVERIFY(fresh.created_at.isNull() && fresh.updated_at.isNull() && fresh.deleted_at.isNull());
    QVERIFY(fresh.schedule.isEmpty());
    QCOMPARE(fresh.created_by, 0);
    QCOMPARE(fresh.timeout, 0);

    PromoImage image;
    image.fromJson(parseObject(fullPromo));
    QCOMPARE(image.timeout, 10);
    QCOMPARE(image.deleted_at, utc(2024, 4, 3, 0, 0));
    image.fromJson(QJsonObject());
    for (const QByteArray field :
         {"uuid", "name", "is_active", "image", "is_order_screen", "is_queue", "start_at", "end_at",
          "schedule", "created_by", "created_at", "updated_at", "deleted_at", "timeout"}) {
        QCOMPARE(promoField(image, field), promoField(fresh, field));
    }
}

void TestRecords::promoImageIsValid_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("valid");
    QTest::newRow("all three set") << QByteArray(
                                          R"({"uuid": "a", "is_active": true, "is_order_screen": true})")
                                   << true;
    QTest::newRow("empty uuid") << QByteArray(R"({"uuid": "", "is_active": true, "is_order_screen": true})")
                                << false;
    QTest::newRow("number uuid") << QByteArray(R"({"uuid": 12, "is_active": true, "is_order_screen": true})")
                                 << false;
    QTest::newRow("inactive") << QByteArray(R"({"uuid": "a", "is_active": false, "is_order_screen": true})")
                              << false;
    QTest::newRow("string true for active")
        << QByteArray(R"({"uuid": "a", "is_active": "true", "is_order_screen": true})") << false;
    QTest::newRow("not for the order screen")
        << QByteArray(R"({"uuid": "a", "is_active": true, "is_order_screen": false})") << false;
    QTest::newRow("order screen missing") << QByteArray(R"({"uuid": "a", "is_active": true})") << false;
    QTest::newRow("deleted but otherwise valid")
        << QByteArray(
               R"({"uuid": "a", "is_active": true, "is_order_screen": true, "deleted_at": "2024-01-01T00:00:00Z"})")
        << true;
}

void TestRecords::promoImageIsValid()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, valid);
    PromoImage image;
    image.fromJson(parseObject(json));
    QCOMPARE(image.isValid(), valid);
}

// What one message may make the screen hold: each row passes one limit by
// one, and gets what the limit keeps and one warning naming it.
void TestRecords::limits_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QJsonValue>("json"); // a line, or an array of them
    QTest::addColumn<QJsonValue>("kept");
    QTest::addColumn<QString>("warning");

    auto object = [](const char *key, const QJsonValue &value) {
        return QJsonObject{{QLatin1String(key), value}};
    };
    const QString a500(500, u'a');
    QJsonArray changes;
    for (int i = 0; i < 51; ++i)
        changes.append(object("nomenclature", QStringLiteral("c%1").arg(i)));
    // The display's count of the rest goes apart: nothing a terminal sends can pose as it.
    QJsonArray kept = changes;
    kept.removeLast();
    QTest::newRow("51 recipe changes") << "line" << QJsonValue(object("receipt_item_recipe_changes", changes))
                                       << QJsonValue(kept) << "over 50 recipe changes";
    QTest::newRow("cut before a surrogate pair")
        << "line" << QJsonValue(object("menu_name", a500.left(499) + QStringLiteral("😀")))
        << QJsonValue(a500.left(499)) << "over 500 characters";
    QTest::newRow("a recipe change's texts")
        << "line"
        << QJsonValue(
               object("receipt_item_recipe_changes",
                      QJsonArray{QJsonObject{{"nomenclature", a500 + u'b'}, {"quantity", a500 + u'1'}}}))
        << QJsonValue(QJsonArray{QJsonObject{{"nomenclature", a500}, {"quantity", a500}}})
        << "over 500 characters";
    QTest::newRow("a line's total of 1e308")
        << "line" << QJsonValue(object("total", 1e308)) << QJsonValue(9999999999.0) << "shown clamped";
    QTest::newRow("a client's infinite discount")
        << "client" << QJsonValue(object("discount_percent", std::numeric_limits<double>::infinity()))
        << QJsonValue(99900.0) << "shown clamped";
    QTest::newRow("an order's infinite discount")
        << "order" << QJsonValue(object("discount_percent", -std::numeric_limits<double>::infinity()))
        << QJsonValue(-9.99) << "shown clamped";
    QTest::newRow("a client's name") << "client" << QJsonValue(object("client_name", a500 + u'b'))
                                     << QJsonValue(a500) << "over 500 characters";
    QJsonArray lines;
    for (int i = 0; i < 10001; ++i)
        lines.append(QJsonObject());
    QTest::newRow("10,001 lines") << "line" << QJsonValue(lines) << QJsonValue(10000)
                                  << "only the first 10000";
    // Only the first 100 are read: the 101st, which would match at any time, is not.
    QJsonArray windows;
    for (int i = 0; i < 100; ++i)
        windows.append(QJsonArray{"23:59", "00:00"});
    windows.append(QJsonArray{"00:00", "23:59"});
    QJsonObject week;
    for (const char *day : {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"})
        week.insert(QLatin1String(day), windows);
    QJsonObject promo{{"uuid", "p"}, {"is_active", true}, {"is_order_screen", true}, {"schedule", week}};
    QTest::newRow("101 time windows")
        << "promos" << QJsonValue(QJsonArray{promo}) << QJsonValue(100) << "over 100 time windows";
    QJsonArray promos;
    for (int i = 0; i < 201; ++i)
        promos.append(
            QJsonObject{{"uuid", QString::number(i)}, {"is_active", true}, {"is_order_screen", true}});
    QTest::newRow("201 promo entries")
        << "promos" << QJsonValue(promos) << QJsonValue(200) << "after the first 200";
}

void TestRecords::limits()
{
    QFETCH(QString, record);
    QFETCH(QJsonValue, json);
    QFETCH(QJsonValue, kept);
    QFETCH(QString, warning);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    QJsonValue got;
    if (record == "client") {
        Client client;
        client.fromJson(json.toObject());
        got = kept.isDouble() ? QJsonValue(client.discountPercent) : QJsonValue(client.clientName);
    } else if (record == "order") {
        Order order;
        order.fromJson(json.toObject());
        got = order.discountPercent;
    } else if (record == "promos") {
        PromoImageModel model;
        model.update(json.toArray());
        QTRY_VERIFY(model.rowCount() > 0);
        const QList<PromoImage> images = model.toList();
        got = images.size() > 1 ? images.size() : images[0].schedule.value("friday").toArray().size();
        QVERIFY(images.size() > 1 || !images[0].week[5].contains(12 * 3600 * 1000));
    } else {
        const QList<ReceiptItem> items =
            ReceiptItem::listFromJson(json.isArray() ? json.toArray() : QJsonArray{json});
        got = json.isArray()    ? QJsonValue(items.size())
              : kept.isArray()  ? QJsonValue(items[0].receiptItemRecipeChanges)
              : kept.isDouble() ? QJsonValue(items[0].total)
                                : QJsonValue(items[0].menuName);
        if (kept.isArray()) {
            const qsizetype sent = json[QLatin1String("receipt_item_recipe_changes")].toArray().size();
            QCOMPARE(items[0].recipeChangesOmitted, int(sent - kept.toArray().size()));
        }
    }
    QCOMPARE(got, kept);
}

// What a picture would cost, judged from its headers (and, for SVG, its
// elements) before the image loader decodes it.
void TestRecords::pictures_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("refusal"); // empty: decoded as usual

    auto svg = [](const QByteArray &size, int shapes, qsizetype padding = 0) {
        return "<svg xmlns=\"http://www.w3.org/2000/svg\" " + size + ">" + QByteArray(padding, ' ') +
               QByteArray("<rect width=\"1\" height=\"1\"/>").repeated(shapes) + "</svg>";
    };
    const QByteArray square = R"(width="100" height="100")";
    QByteArray thin;
    QBuffer buffer(&thin);
    buffer.open(QIODevice::WriteOnly);
    QImage image(10000, 2, QImage::Format_Mono);
    image.fill(0);
    image.save(&buffer, "PNG");
    QTest::newRow("long thin PNG") << thin << "would be scaled to";
    QTest::newRow("SVG logo") << svg(square, 200) << "";
    QTest::newRow("SVGZ logo") << gzip(svg(square, 200)) << "";
    QTest::newRow("50,001 elements") << svg(square, 50000) << "over 50000 elements";
    QTest::newRow("over 4 MiB of SVG text") << svg(square, 1, 4 * 1024 * 1024) << "SVG text of over";
    QTest::newRow("long thin SVG, in millimetres")
        << svg(R"(width="1000mm" height="1mm")", 1) << "would be scaled to";
    QTest::newRow("long thin SVG, by its viewBox")
        << svg(R"(viewBox="0 0 1 10000")", 1) << "would be scaled to";
}

void TestRecords::pictures()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, refusal);
    PictureGuard::Limits limits;
    limits.box = QSize(1280, 776);
    const QString reason = PictureGuard::inspect(data, limits);
    QVERIFY2(refusal.isEmpty() ? reason.isEmpty() : reason.contains(refusal), qPrintable(reason));
}

QTEST_GUILESS_MAIN(TestRecords)

#include "tst_records.moc"
