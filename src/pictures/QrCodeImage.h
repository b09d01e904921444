#pragma once

#include <QImage>
#include <QString>

// Renders payment QR codes the way the payment dialog expects them.
namespace QrCodeImage {

constexpr int size = 240;
inline const char dataUrlPrefix[] = "data:image/png;base64,";

// A 240x240 opaque black-on-white QR code (level L, UTF-8, no quiet zone);
// a null image when the text does not fit in a QR code.
QImage encode(const QString &text);

// "data:image/png;base64," followed by the PNG of encode(text); the bare
// prefix when the text cannot be encoded.
QString dataUrl(const QString &text);

} // namespace QrCodeImage
