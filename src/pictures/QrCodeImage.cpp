#include "QrCodeImage.h"

#include <QBuffer>
#include <QByteArray>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <exception>

namespace QrCodeImage {

QImage encode(const QString &text)
{
    ZXing::BitMatrix matrix;
    try {
        // One pixel per module: the writer centres whole modules inside the
        // requested size, which would leave a white border we do not want.
        matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                     .setEncoding(ZXing::CharacterSet::UTF8)
                     .setEccLevel(0)
                     .setMargin(0)
                     .encode(text.toStdWString(), 0, 0);
    } catch (const std::exception &) {
        return {}; // too long for a QR code, or not encodable
    }
    const int modules = matrix.width();
    if (modules <= 0 || matrix.height() != modules)
        return {};

    QImage image(size, size, QImage::Format_Grayscale8);
    for (int y = 0; y < size; ++y) {
        uchar *line = image.scanLine(y);
        const int my = y * modules / size;
        for (int x = 0; x < size; ++x)
            line[x] = matrix.get(x * modules / size, my) ? 0 : 255;
    }
    return image;
}

QString dataUrl(const QString &text)
{
    QByteArray png;
    const QImage image = encode(text);
    if (!image.isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        // Black and white only: one bit per pixel compresses in a fraction
        // of the time and gives a smaller data URL, pixel for pixel the same.
        image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither).save(&buffer, "PNG");
    }
    return QLatin1String(dataUrlPrefix) + QString::fromLatin1(png.toBase64());
}

} // namespace QrCodeImage
