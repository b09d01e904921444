#include "QrCodeImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QMutex>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <exception>

namespace QrCodeImage {

namespace {

// The last few codes made: a payment dialog shows one at a time, and a
// terminal sending the same payment again gets it without a new encoding.
struct Made
{
    QString text;
    QString base64;
    QImage modules;
};
QMutex g_madeMutex;
QList<Made> g_made;
constexpr qsizetype kept = 4;

void keep(Made code)
{
    QMutexLocker lock(&g_madeMutex);
    g_made.removeIf([&](const Made &other) { return other.base64 == code.base64; });
    g_made.append(std::move(code));
    if (g_made.size() > kept)
        g_made.removeFirst();
}

} // namespace

QImage encodeModules(const QString &text)
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
    QImage image(modules, modules, QImage::Format_Grayscale8);
    for (int y = 0; y < modules; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < modules; ++x)
            line[x] = matrix.get(x, y) ? 0 : 255;
    }
    return image;
}

// The code stretched to size x size, nearest module.
static QImage stretched(const QImage &matrix)
{
    const int modules = matrix.width();
    if (modules <= 0)
        return {};
    QImage image(size, size, QImage::Format_Grayscale8);
    for (int y = 0; y < size; ++y) {
        uchar *line = image.scanLine(y);
        const int my = y * modules / size;
        for (int x = 0; x < size; ++x)
            line[x] = matrix.constScanLine(my)[x * modules / size];
    }
    return image;
}

QImage encode(const QString &text)
{
    return stretched(encodeModules(text));
}

QString dataUrl(const QString &text)
{
    {
        QMutexLocker lock(&g_madeMutex);
        for (const Made &code : std::as_const(g_made)) {
            if (code.text == text) {
                Made again = code;
                lock.unlock();
                keep(again);
                return QLatin1String(dataUrlPrefix) + again.base64;
            }
        }
    }
    QByteArray png;
    const QImage modules = encodeModules(text);
    if (!modules.isNull()) {
        const QImage image = stretched(modules);
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        // Black and white only: one bit per pixel compresses in a fraction
        // of the time and gives a smaller data URL, pixel for pixel the same.
        image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither).save(&buffer, "PNG");
    }
    const QString base64 = QString::fromLatin1(png.toBase64());
    if (!modules.isNull())
        keep({text, base64, modules});
    return QLatin1String(dataUrlPrefix) + base64;
}

QImage made(const QString &base64)
{
    QMutexLocker lock(&g_madeMutex);
    for (const Made &code : std::as_const(g_made)) {
        if (code.base64 == base64)
            return code.modules;
    }
    return {};
}

} // namespace QrCodeImage
