#include "DisplayHarness.h"
#include "QrDecode.h"
#include "pictures/QrCodeImage.h"
#include "pictures/QrCodeImageProvider.h"

#include <QBuffer>

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include <memory>

namespace {

const QString prefix = QStringLiteral("data:image/png;base64,");
const QString sbpUrl =
    QStringLiteral("https://qr.nspk.ru/AS1000670LSS7DN18SJQDNP4B05KLJL2?type=01&bank=100000000001"
                   "&sum=10000&cur=RUB&crc=C08B");

// What the payment dialog does with the string: strict Base64 of a PNG.
QImage imageOf(const QString &dataUrl, QByteArray *png = nullptr)
{
    if (!dataUrl.startsWith(prefix))
        return {};
    const QByteArray base64 = dataUrl.mid(prefix.size()).toLatin1();
    const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.toBase64() != base64)
        return {};
    if (png)
        *png = decoded.decoded;
    QImage image;
    image.loadFromData(decoded.decoded, "PNG");
    return image;
}

ZXing::Result decode(const QImage &image)
{
    return decodeQr(image);
}

bool darkAt(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y)) == 0;
}

} // namespace

class TestQrCode : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void sameTextSameString();
    void overLongText_data();
    void overLongText();
    void overLongTextStillOpensTheQrDialog();
    void providerServesOnlyTheDisplaysCodes();
};

void TestQrCode::roundTrip_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QStringLiteral("Order 42: 1250.00 RUB");
    QTest::newRow("Cyrillic UTF-8") << QStringLiteral(
        "Оплата заказа №42 — 1 250,00 ₽, спасибо!");
    QTest::newRow("SBP payment URL") << sbpUrl;
    QTest::newRow("one character") << QStringLiteral("1");
    QTest::newRow("outside the BMP") << QStringLiteral("Pay \U0001F642 now");
    // Version 14, some 3 pixels per module. Far larger codes no longer give
    // whole pixels per module at 240 pixels and read unreliably.
    QTest::newRow("500 bytes") << QString(500, QLatin1Char('a'));
}

void TestQrCode::roundTrip()
{
    QFETCH(QString, text);

    const QString url = QrCodeImage::dataUrl(text);
    QVERIFY(url.startsWith(prefix));
    QVERIFY(!url.contains(QLatin1Char('\n')));
    QByteArray png;
    const QImage image = imageOf(url, &png);
    QVERIFY2(!image.isNull(), "not a strict Base64 PNG");
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));

    QCOMPARE(image.size(), QSize(240, 240));
    QVERIFY(!image.hasAlphaChannel());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            QVERIFY(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255));
        }
    }
    // No quiet zone: the finder patterns sit in three corners, so dark
    // modules touch all four edges.
    QVERIFY(darkAt(image, 0, 0));
    QVERIFY(darkAt(image, 239, 0));
    QVERIFY(darkAt(image, 0, 239));
    QVERIFY(!darkAt(image, 239, 239) || darkAt(image, 238, 239) || darkAt(image, 239, 238));

    const ZXing::Result result = decode(image);
    QVERIFY2(result.isValid(), ZXing::ToString(result.error()).c_str());
    QCOMPARE(result.format(), ZXing::BarcodeFormat::QRCode);
    QCOMPARE(QString::fromStdString(result.text()), text);
    QCOMPARE(QString::fromStdString(result.ecLevel()), QString("L"));
}

void TestQrCode::sameTextSameString()
{
    QCOMPARE(QrCodeImage::dataUrl(sbpUrl), QrCodeImage::dataUrl(sbpUrl));
    QVERIFY(QrCodeImage::dataUrl(sbpUrl) != QrCodeImage::dataUrl(sbpUrl + QLatin1Char('0')));
}

void TestQrCode::overLongText_data()
{
    QTest::addColumn<QString>("text");

    // Level L holds at most 2953 bytes.
    QTest::newRow("3000 ASCII bytes") << QString(3000, QLatin1Char('a'));
    QTest::newRow("1500 Cyrillic letters") << QString(1500, QChar(0x0416));
    QTest::newRow("100 kB") << QString(100000, QLatin1Char('7'));
}

void TestQrCode::overLongText()
{
    QFETCH(QString, text);

    QVERIFY(QrCodeImage::encode(text).isNull());
    QCOMPARE(QrCodeImage::dataUrl(text), prefix);
}

void TestQrCode::overLongTextStillOpensTheQrDialog()
{
    DisplayHarness display;
    QWebSocket terminal;
    QVERIFY(display.open(terminal));
    QSignalSpy qr(display.env(), &AppEnv::showQRPaymentDialog);
    QSignalSpy card(display.env(), &AppEnv::showPaymentDialog);
    QSignalSpy orderChanged(display.env(), &AppEnv::orderChanged);

    QVERIFY(display.send(
        terminal, DisplayHarness::message(
                      "payment", QJsonObject{{"amount", 9000}, {"qrcode_table", QString(4000, 'x')}})));
    QCOMPARE(display.order()->qrCodeTable, prefix);
    QCOMPARE(display.order()->receiptPaymentAmount, 9000);
    QCOMPARE(orderChanged.count(), 3);
    QCOMPARE(qr.count(), 1);
    QCOMPARE(card.count(), 0);

    // The display goes on serving the terminal.
    QVERIFY(
        display.send(terminal, DisplayHarness::message("payment", QJsonObject{{"qrcode_table", sbpUrl}})));
    QCOMPARE(qr.count(), 2);
    QCOMPARE(QString::fromStdString(decode(imageOf(display.order()->qrCodeTable)).text()), sbpUrl);
}

// The dialog's image provider answers only for codes the display made, at
// one pixel a module; any other Base64 from a picture address gives nothing.
void TestQrCode::providerServesOnlyTheDisplaysCodes()
{
    QrCodeImageProvider provider;
    const QString made = QrCodeImage::dataUrl(sbpUrl).mid(prefix.size());
    QSize size;
    const QImage code = provider.requestImage(made, &size, QSize());
    QCOMPARE(code.size(), QrCodeImage::encodeModules(sbpUrl).size());
    QCOMPARE(size, code.size());
    QVERIFY(code.width() < 100);
    QCOMPARE(QString::fromStdString(decode(code.scaled(code.size() * 4)).text()), sbpUrl);

    // A payment resent is served again, and is then the latest kept.
    for (const QString &other : {sbpUrl + "1", sbpUrl + "2", sbpUrl + "3"})
        QrCodeImage::dataUrl(other);
    QCOMPARE(QrCodeImage::dataUrl(sbpUrl).mid(prefix.size()), made);
    QrCodeImage::dataUrl(sbpUrl + "4");
    QVERIFY(!provider.requestImage(made, &size, QSize()).isNull());

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(QImage(50, 50, QImage::Format_Mono).save(&buffer, "PNG"));
    QVERIFY(provider.requestImage(QString::fromLatin1(png.toBase64()), &size, QSize()).isNull());
    QVERIFY(provider.requestImage(QString(), &size, QSize()).isNull());
}

QTEST_MAIN(TestQrCode)
#include "tst_qrcode.moc"
