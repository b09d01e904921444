#pragma once

#include <QImage>
#include <QString>

// Renders payment QR codes the way the payment dialog expects them.
namespace QrCodeImage {

constexpr int size = 240;
inline const char dataUrlPrefix[] = "data:image/png;base64,";

// The code at one pixel a module (level L, UTF-8, no quiet zone), black on
// white; a null image when the text does not fit in a QR code.
QImage encodeModules(const QString &text);

// A 240x240 opaque black-on-white QR code (level L, UTF-8, no quiet zone);
// a null image when the text does not fit in a QR code.
QImage encode(const QString &text);

// "data:image/png;base64," followed by the PNG of encode(text); the bare
// prefix when the text cannot be encoded. The display's latest codes are
// kept for made() by the Base64 text of their PNG.
QString dataUrl(const QString &text);

// The code at one pixel a module that dataUrl() made with this Base64 text,
// or a null image for any other.
QImage made(const QString &base64);

} // namespace QrCodeImage
