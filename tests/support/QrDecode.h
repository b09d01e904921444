#pragma once

#include <QImage>

#include <ZXing/ReadBarcode.h>

// What a phone would read: the QR code found in `image`, if any.
inline ZXing::Result decodeQr(const QImage &image)
{
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    return ZXing::ReadBarcode(
        {gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum, int(gray.bytesPerLine())},
        hints);
}
