#include "QrCodeFit.h"

#include <QMutex>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <exception>

namespace QrCodeFit {

int modules(const QString &text)
{
    // A terminal resends its payment on every change: the last answer is
    // kept rather than encoding the same text again.
    static QMutex mutex;
    static QString lastText;
    static int lastCount = -1;
    {
        QMutexLocker lock(&mutex);
        if (lastCount >= 0 && lastText == text)
            return lastCount;
    }
    int count = 0;
    try {
        count = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                    .setEncoding(ZXing::CharacterSet::UTF8)
                    .setEccLevel(0)
                    .setMargin(0)
                    .encode(text.toStdWString(), 0, 0)
                    .width();
    } catch (const std::exception &) {
        count = 0;
    }
    QMutexLocker lock(&mutex);
    lastText = text;
    lastCount = count;
    return count;
}

QString problem(const QString &text)
{
    const int count = modules(text);
    if (count == 0) {
        return QStringLiteral("\"qrcode_table\" of %1 characters does not fit in a QR code (at most 2953 "
                              "bytes of UTF-8); the dialog shows no code")
            .arg(text.size());
    }
    if (count * 2 > smallestScreenRoom) {
        return QStringLiteral(
                   "\"qrcode_table\" of %1 characters makes a QR code of %2 modules a side, under 2 "
                   "screen pixels a module on an 800x480 screen; phones may not read it")
            .arg(text.size())
            .arg(count);
    }
    return {};
}

} // namespace QrCodeFit
