#include "QrCodeImageProvider.h"

#include <QByteArray>

QrCodeImageProvider::QrCodeImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage QrCodeImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    // The dialog stretches the code itself, without smoothing; a requested
    // size would only blur the modules.
    Q_UNUSED(requestedSize)
    const QImage image = QImage::fromData(QByteArray::fromBase64(id.toLatin1()), "PNG");
    if (size)
        *size = image.size();
    return image;
}
