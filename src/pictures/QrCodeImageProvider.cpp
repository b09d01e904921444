#include "QrCodeImageProvider.h"

#include "QrCodeImage.h"

QrCodeImageProvider::QrCodeImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage QrCodeImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    // The dialog stretches the code itself, without smoothing; a requested
    // size would only blur the modules. Only codes the display made are
    // served, at one pixel a module: what is not one decodes to nothing.
    Q_UNUSED(requestedSize)
    const QImage image = QrCodeImage::made(id);
    if (size)
        *size = image.size();
    return image;
}
