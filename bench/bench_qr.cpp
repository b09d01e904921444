// Payment QR rendering: QrCodeImage::dataUrl (encode, scale, PNG, Base64, the
// data URL) against the floor, zxing-cpp encoding the same text alone.
#include "BenchStats.h"

#include "pictures/QrCodeImage.h"

#include <QElapsedTimer>
#include <QGuiApplication>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    int rounds = 1000;
    if (argc > 1)
        rounds = qMax(10, QByteArray(argv[1]).toInt());

    // A typical SBP payment link as a till hands it over.
    const QString url = QStringLiteral(
        "https://qr.nspk.ru/AS1A003RL5K3O4QJ8UBP7MM4Q25EQNUP?type=02&bank=100000000111&sum=148900&cur=RUB"
        "&crc=AB75");

    QList<double> floor;
    QList<double> full;
    QElapsedTimer timer;
    qsizetype sink = 0;
    for (int i = 0; i < rounds + 20; ++i) {
        timer.start();
        const ZXing::BitMatrix matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                            .setEncoding(ZXing::CharacterSet::UTF8)
                                            .setEccLevel(0)
                                            .setMargin(0)
                                            .encode(url.toStdWString(), 0, 0);
        const double encoded = timer.nsecsElapsed() / 1000.0;
        sink += matrix.width();

        timer.start();
        const QString dataUrl = QrCodeImage::dataUrl(url);
        const double rendered = timer.nsecsElapsed() / 1000.0;
        sink += dataUrl.size();
        if (i >= 20) {
            floor.append(encoded);
            full.append(rendered);
        }
    }
    std::printf("# QR code, %d renderings of a %lld-character SBP link; figures in microseconds (%lld)\n",
                rounds, qlonglong(url.size()), qlonglong(sink % 10));
    BenchStats::report("QR dataUrl median", BenchStats::median(full), BenchStats::median(floor), "us",
                       "target <= 3.0");
    BenchStats::report("QR dataUrl p99", BenchStats::percentile(full, 0.99),
                       BenchStats::percentile(floor, 0.99), "us", "");
    return 0;
}
