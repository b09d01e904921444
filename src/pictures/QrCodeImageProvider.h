#pragma once

#include <QQuickImageProvider>

// "image://qrcode/<Base64 of a PNG>": the payment dialog's QR code, one of
// those the display made itself (QrCodeImage::dataUrl), at one pixel a module. Given as a data URL, the
// engine loads an image on its loader thread and the dialog's first frames show an empty frame; an image
// provider of this kind is asked on the GUI thread while the item is set up, so the code comes with the
// dialog's first frame.
class QrCodeImageProvider : public QQuickImageProvider
{
public:
    static constexpr char name[] = "qrcode";

    QrCodeImageProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};
