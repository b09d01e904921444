// The message's log line is written from its bytes by our own writer; it must
// read exactly as Qt's debug stream prints the parsed object, or leave the
// message to Qt.

#include "MessageLog.h"
#include "network/JsonDebugText.h"
#include "network/MessageIntake.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

class TestJsonDebugText : public QObject
{
    Q_OBJECT

private slots:
    void sameAsQt_data();
    void sameAsQt();
    void leftToQt_data();
    void leftToQt();
    void refusedByQt_data();
    void refusedByQt();
    void randomDocumentsSameAsQt();
    void logLineOfEveryKind_data();
    void logLineOfEveryKind();
};

namespace {

QString qtText(const QJsonObject &object)
{
    QString text;
    QDebug(&text).nospace() << object;
    return text;
}

QJsonObject parsed(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// A log text as it must read once cut: what follows `start` kept to
// `maxBytes` of UTF-8, ending on a whole character, then what was left out.
QString cut(const QString &text, qsizetype start, qsizetype maxBytes = JsonDebugText::maxTextBytes)
{
    const QByteArray utf8 = text.mid(start).toUtf8();
    if (utf8.size() <= maxBytes)
        return text;
    qsizetype at = maxBytes;
    while ((uchar(utf8.at(at)) & 0xc0) == 0x80)
        --at;
    return text.left(start) + QString::fromUtf8(utf8.left(at)) +
           QStringLiteral(" … (%1 more bytes)").arg(utf8.size() - at);
}

// Random documents in every form a sender might use: any whitespace, escaped
// and raw non-ASCII, unsorted and duplicate keys, numbers Qt keeps as
// integers or as doubles, nesting.
class DocumentMaker
{
public:
    explicit DocumentMaker(quint32 seed) : m_random(seed) {}

    QByteArray document() { return space() + object(0) + space(); }

private:
    template <size_t N> const char *pick(const char *const (&options)[N])
    {
        return options[m_random.bounded(int(N))];
    }

    QByteArray space()
    {
        static const char *const spaces[] = {"", "", "", "", " ", "\t", "\n", "\r\n", "  \n\t"};
        return pick(spaces);
    }

    QByteArray string()
    {
        static const char *const parts[] = {"a",
                                            "Z",
                                            "~",
                                            " ",
                                            "%2",
                                            "\xc3\xa9",
                                            "\xd0\x96",
                                            "\xe2\x82\xbd",
                                            "\xf0\x9f\x98\x80",
                                            "\xef\xbf\xbe",
                                            "\x7f",
                                            "\t",
                                            "\x01",
                                            "\\u0000",
                                            "\\u001f",
                                            "\\ud800",
                                            "\\udc00",
                                            "\\ud83d\\ude00",
                                            "\\\"",
                                            "\\\\",
                                            "\\/",
                                            "\\b",
                                            "\\f",
                                            "\\n",
                                            "\\r",
                                            "\\t",
                                            "\\uFFFF",
                                            "\\u00e9",
                                            "\\u0041",
                                            "\\u0416"};
        QByteArray s = "\"";
        const int n = m_random.bounded(6);
        for (int i = 0; i < n; ++i)
            s += pick(parts);
        return s + '"';
    }

    QByteArray key()
    {
        static const char *const keys[] = {"\"a\"",        "\"b\"",        "\"B\"",        "\"aa\"",
                                           "\"\"",         "\"path\"",     "\"content\"",  "\"a\\u0000\"",
                                           "\"\\u0062\"",  "\"\\u0061a\"", "\"\xc3\xa9\"", "\"\\u00e9\"",
                                           "\"\xd0\x96\"", "\"\\u0416\"",  "\"\\\"\"",     "\"\\\\\""};
        return pick(keys);
    }

    QByteArray number()
    {
        static const char *const numbers[] = {"0",
                                              "-0",
                                              "1",
                                              "-1",
                                              "100000",
                                              "1.0",
                                              "1.",
                                              "0.5",
                                              "-0.0",
                                              "1e2",
                                              "1E+2",
                                              "1e-7",
                                              "0.05",
                                              "-12.75",
                                              "1e15",
                                              "1e16",
                                              "1e300",
                                              "4.9e-324",
                                              "123.456e3",
                                              "0.30000000000000004",
                                              "9007199254740993",
                                              "9007199254740993.0",
                                              "9223372036854775807",
                                              "9223372036854775808",
                                              "-9223372036854775809",
                                              "12345678901234567890"};
        return pick(numbers);
    }

    QByteArray value(int depth)
    {
        switch (m_random.bounded(depth > 4 ? 5 : 7)) {
        case 0:
            return string();
        case 1:
            return number();
        case 2:
            return "true";
        case 3:
            return "false";
        case 4:
            return "null";
        case 5:
            return object(depth + 1);
        default:
            return array(depth + 1);
        }
    }

    QByteArray object(int depth)
    {
        QByteArray s = "{" + space();
        const int n = m_random.bounded(5);
        for (int i = 0; i < n; ++i) {
            if (i > 0)
                s += ',' + space();
            s += key() + space() + ':' + space() + value(depth) + space();
        }
        return s + '}';
    }

    QByteArray array(int depth)
    {
        QByteArray s = "[" + space();
        const int n = m_random.bounded(4);
        for (int i = 0; i < n; ++i) {
            if (i > 0)
                s += ',' + space();
            s += value(depth) + space();
        }
        return s + ']';
    }

    QRandomGenerator m_random;
};

} // namespace

void TestJsonDebugText::sameAsQt_data()
{
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("order as a till sends it") << QByteArray(
        R"({"path":"order","content":{"receipt_items":[{"uuid":"1f3e","menu_name":"Капучино 0,3 л",)"
        R"("quantity":2,"menu_price":19900,"discount_amount":0,"discount_receipt":0,"total":39800,)"
        R"("receipt_uuid":"r-1","receipt_item_recipe_changes":[{"nomenclature":"Сироп","quantity":1}]}],)"
        R"("order":{"to_payment":39800,"discount":0,"discount_percent":0.05},"guest":{}}})");
    QTest::newRow("keys in another order")
        << QByteArray(R"({"path":"x","content":{"b":1,"a":2,"B":3,"":4}})");
    QTest::newRow("duplicate keys, the last wins") << QByteArray(R"({"b":1,"a":2,"b":3,"a":{"c":1,"c":2}})");
    QTest::newRow("duplicate written two ways") << QByteArray(R"({"é":1,"\u00e9":2,"\u0062":3,"b":4})");
    QTest::newRow("whitespace everywhere")
        << QByteArray(" \r\n{ \"a\" :\t[ 1 , { } , [ ] ] ,\n\"b\":null }\n ");
    QTest::newRow("literals") << QByteArray(R"({"t":true,"f":false,"n":null,"a":[true,false,null]})");
    QTest::newRow("empty containers") << QByteArray(R"({"o":{},"a":[],"n":[[],[{}]]})");
    QTest::newRow("escapes Qt writes back")
        << QByteArray(R"({"s":"q\"b\\s\/b\bf\fn\nr\rt\tz\u0000u\u001f"})");
    QTest::newRow("raw control characters") << QByteArray("{\"s\":\"a\tb\x01"
                                                          "c\x1f"
                                                          "d\x7f\"}");
    QTest::newRow("lone surrogates escaped") << QByteArray(R"({"s":"\ud800x\udc00\udbff"})");
    QTest::newRow("surrogate pair escaped and raw")
        << QByteArray("{\"s\":\"\\ud83d\\ude00 \xf0\x9f\x98\x80\"}");
    QTest::newRow("escaped and raw Cyrillic") << QByteArray("{\"s\":\"\\u0416\xd0\x96\\u20bd\xe2\x82\xbd\"}");
    QTest::newRow("noncharacters") << QByteArray("{\"s\":\"\xef\xbf\xbe\\uffff\"}");
    QTest::newRow("escaped keys") << QByteArray(R"({"\u0062":1,"a\"b":2,"a\\b":3,"\n":4})");
    QTest::newRow("integers") << QByteArray(R"({"a":0,"b":-0,"c":100000,"d":-9007199254740993,)"
                                            R"("e":9223372036854775807,"f":-9223372036854775808})");
    QTest::newRow("integral values written as doubles")
        << QByteArray(R"({"a":1.0,"b":1.,"c":1e2,"d":1E+2,"e":-0.0,"f":1e17,"g":9007199254740993.0})");
    QTest::newRow("out of 64 bits") << QByteArray(
        R"({"a":9223372036854775808,"b":-9223372036854775809,"c":12345678901234567890,"d":1e19})");
    QTest::newRow("doubles") << QByteArray(R"({"a":0.05,"b":-12.75,"c":1e-7,"d":1e300,"e":4.9e-324,)"
                                           R"("f":0.30000000000000004,"g":123.456e3,"h":1.5e-5})");
    // Qt's parser takes a number that starts with its point.
    QTest::newRow("bare point") << QByteArray(R"({"a":.5,"b":-.25,"c":[.5106854775809]})");
    QTest::newRow("bare point and exponent") << QByteArray(R"({"a":.5e1,"b":.25E-1})");
    QTest::newRow("byte order mark before the object") << QByteArray("\xef\xbb\xbf{\"a\":1}");
    QTest::newRow("deep nesting") << QByteArray(QByteArray(500, '[').prepend("{\"a\":") +
                                                QByteArray(500, ']') + "}");
}

void TestJsonDebugText::sameAsQt()
{
    QFETCH(QByteArray, json);
    const QJsonObject object = parsed(json);
    QVERIFY(!object.isEmpty());
    const QString text = JsonDebugText::fromMessage(json);
    QVERIFY2(!text.isNull(), "left to Qt");
    QCOMPARE(text, qtText(object));
    if (!QByteArray(QTest::currentDataTag()).startsWith("duplicate"))
        QCOMPARE(JsonDebugText::textBytes(json), qtText(object).toUtf8().size());
}

void TestJsonDebugText::leftToQt_data()
{
    QTest::addColumn<QByteArray>("json");

    // Qt orders such keys by how they were written; not worth copying.
    QTest::newRow("key beyond U+D7FF, raw") << QByteArray("{\"\xef\xbf\xbf\":1,\"\xf0\x9f\x98\x80\":2}");
    QTest::newRow("key beyond U+D7FF, escaped") << QByteArray(R"({"\uffff":1,"\ud83d\ude00":2})");
    QTest::newRow("lone surrogate key") << QByteArray(R"({"\ud800":1})");
    // Not what the writer is for; Qt's parser would have refused them.
    QTest::newRow("array at the top") << QByteArray(R"([{"a":1}])");
    QTest::newRow("trailing garbage") << QByteArray(R"({"a":1} x)");
    QTest::newRow("cut short") << QByteArray(R"({"a":"bc)");
    QTest::newRow("unknown escape") << QByteArray(R"({"a":"\x41"})");
    QTest::newRow("number out of range") << QByteArray(R"({"a":1e400})");
    QTest::newRow("nul in a string") << QByteArray("{\"a\":\"x\0y\"}", 11);
    QTest::newRow("control characters behind a backslash") << QByteArray("{\"a\":\"\\\0\\\x01\\\t\"}", 14);
}

void TestJsonDebugText::leftToQt()
{
    QFETCH(QByteArray, json);
    QVERIFY(JsonDebugText::fromMessage(json).isNull());
    // The cut line's "more bytes" is counted from the bytes all the same: never short of Qt's text.
    if (const QJsonObject object = parsed(json); !object.isEmpty())
        QVERIFY(JsonDebugText::textBytes(json) >= qtText(object).toUtf8().size());
}

void TestJsonDebugText::refusedByQt_data()
{
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("broken UTF-8") << QByteArray("{\"a\":\"\xff\"}");
    QTest::newRow("encoded surrogate") << QByteArray("{\"a\":\"\xed\xa0\x80\"}");
    QTest::newRow("overlong UTF-8") << QByteArray("{\"a\":\"\xc0\x80\"}");
    QTest::newRow("beyond U+10FFFF") << QByteArray("{\"a\":\"\xf4\x90\x80\x80\"}");
    QTest::newRow("bad escape digits") << QByteArray(R"({"a":"\u00g1"})");
}

// The writer reads strings without checking their UTF-8 or escape digits:
// its text is used only for a message that Qt's parser took, and Qt refuses these.
void TestJsonDebugText::refusedByQt()
{
    QFETCH(QByteArray, json);
    QJsonParseError error;
    QJsonDocument::fromJson(json, &error);
    QVERIFY(error.error != QJsonParseError::NoError);
}

void TestJsonDebugText::randomDocumentsSameAsQt()
{
    DocumentMaker maker(20261207);
    int written = 0;
    int leftToQt = 0;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray json = maker.document();
        const QJsonObject object = parsed(json);
        if (object.isEmpty())
            continue;
        // The cut writer, cut short where a message's line would be cut long.
        const QString expected = cut(qtText(object), 0, 8 + i % 64);
        QVERIFY2(JsonDebugText::fromObject(object, {}, 8 + i % 64) == expected,
                 qPrintable(json + "\n" + expected));
        const QString text = JsonDebugText::fromMessage(json);
        if (text.isNull()) {
            ++leftToQt;
            continue;
        }
        ++written;
        if (text != qtText(object))
            QFAIL(qPrintable(QStringLiteral("differs for %1:\n  ours %2\n  Qt's %3")
                                 .arg(QString::fromUtf8(json), text, qtText(object))));
    }
    qInfo("%d written, %d left to Qt", written, leftToQt);
    // Most documents must take our path, or this would prove nothing.
    QVERIFY2(written > 3 * leftToQt,
             qPrintable(QStringLiteral("%1 written, %2 left").arg(written).arg(leftToQt)));
}

void TestJsonDebugText::logLineOfEveryKind_data()
{
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("small, written by us") << QByteArray(R"({"path":"bonus","content":{"count":5}})");
    QTest::newRow("left to Qt") << QByteArray(R"({"path":"app_logo","content":{"\uffff":1}})");
    QTest::newRow("empty object") << QByteArray("{}");
    QTest::newRow("not JSON") << QByteArray("not json");
    QTest::newRow("array") << QByteArray("[1,2]");
    QTest::newRow("medium, parsed in place, logged on the logger thread")
        << QByteArray(R"({"path":"promo_image","content":{"x":")") + QByteArray(20 * 1024, 'x') + R"("}})";
    QTest::newRow("large, on the intake threads")
        << QByteArray(R"({"path":"promo_image","content":{"x":")") + QByteArray(64 * 1024, 'x') + R"("}})";
    QTest::newRow("under the cap, non-ASCII and surrogate pairs")
        << QByteArray(R"({"path":"order","content":{"x":")") + QByteArray(30 * 1024, 'x') +
               QString(3000, QChar(0x416)).toUtf8() + QByteArray(3000, 'y') +
               QByteArray(1000 * 2, 'z').replace("zz", "\xf0\x9f\x98\x80") + R"("}})";
    QTest::newRow("over the cap, cut inside a Cyrillic word")
        << QByteArray(R"({"path":"order","content":{"x":"Ж)") + QByteArray(40 * 1024, 'x') +
               QString(20000, QChar(0x416)).toUtf8() + R"("}})";
    QTest::newRow("over the cap, nested 1,000 deep with keys out of order")
        << QByteArray(R"({"z":1,"a":)").repeated(1000) + R"({"y":")" + QByteArray(200 * 1024, 'y') + R"("})" +
               QByteArray(1000, '}');
    QTest::newRow("over the cap, keys beyond U+D7FF")
        << QByteArray(R"({"\uffff":")") + QByteArray(100 * 1024, 'u') + R"(","\ud83d\ude00":"s"})";
    // Qt's parser drops the mark from such a string.
    QTest::newRow("string that starts with a byte order mark")
        << QByteArray("{\"path\":\"order\",\"content\":{\"x\":\"\xef\xbb\xbfy\"}}");
    QTest::newRow("over the cap by escapes of a small message")
        << QByteArray(R"({"x":")") + QByteArray(12 * 1024, '\x01') + R"("})";
}

void TestJsonDebugText::logLineOfEveryKind()
{
    QFETCH(QByteArray, message);
    const QString prefix = QStringLiteral("void NetworkService::binaryMessageRecived(const QByteArray&)");
    QString expected;
    QDebug(&expected) << prefix.toLatin1().constData() << parsed(message);
    expected = cut(expected.trimmed(), prefix.size() + 1);

    MessageLog log;
    {
        MessageIntake intake;
        MessageIntake::Ticket ticket = intake.take(message);
        ticket.logged.waitForFinished();
    }
    const QStringList lines = log.lines(prefix);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first(), expected);
    QVERIFY(lines.first().size() < prefix.size() + JsonDebugText::maxTextBytes + 64);
}

QTEST_GUILESS_MAIN(TestJsonDebugText)
#include "tst_jsondebugtext.moc"
