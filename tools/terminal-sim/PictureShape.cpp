#include "PictureShape.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QUrl>

#include <cmath>

namespace {

// The size a raster picture's header gives; invalid when there is none
// (not a picture, or SVG, whose size costs parsing all of it).
QSize headerSize(QIODevice *device)
{
    QImageReader reader(device);
    if (reader.format().isEmpty() || reader.format().startsWith("svg"))
        return {};
    return reader.size();
}

} // namespace

QSize PictureShape::pictureSize(const QString &url)
{
    const auto known = m_sizes.constFind(url);
    if (known != m_sizes.constEnd())
        return *known;
    QSize size;
    if (url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
        const qsizetype comma = url.indexOf(u',');
        if (comma > 0) {
            const QByteArray payload = url.mid(comma + 1).toLatin1();
            QBuffer buffer;
            buffer.setData(url.left(comma).endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)
                               ? QByteArray::fromBase64(payload)
                               : QByteArray::fromPercentEncoding(payload));
            buffer.open(QIODevice::ReadOnly);
            size = headerSize(&buffer);
        }
    } else if (const QUrl parsed(url); parsed.isLocalFile()) {
        // A regular file only: a FIFO would hold the check until someone writes to it.
        QFile file(parsed.toLocalFile());
        if (QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly))
            size = headerSize(&file);
    }
    m_sizes.insert(url, size);
    return size;
}

QStringList PictureShape::check(const QJsonObject &content)
{
    QStringList warnings;
    const QJsonArray entries = content.value(QLatin1String("promo_images")).toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString url = entries.at(i).toObject().value(QLatin1String("image")).toString();
        const QSize size = url.isEmpty() ? QSize() : pictureSize(url);
        if (size.isEmpty())
            continue;
        // Cropped to fill the place, a picture keeps the ratio of the narrower shape to the wider.
        const double picture = double(size.width()) / size.height();
        const double shape = double(place.width()) / place.height();
        const double kept = std::min(picture, shape) / std::max(picture, shape);
        if (kept >= 0.5)
            continue;
        const QString name = url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)
                                 ? QStringLiteral("a data: URL")
                                 : QUrl(url).fileName();
        warnings.append(
            QStringLiteral("promo_image: \"promo_images[%1].image\" (%2) is %3x%4 pixels, "
                           "%5; the slideshow crops %6 % of it away on a landscape screen "
                           "(%7x%8); make it in the screen's shape, such as 1280x800 or 1920x1080")
                .arg(i)
                .arg(name)
                .arg(size.width())
                .arg(size.height())
                .arg(picture < shape ? QStringLiteral("too tall") : QStringLiteral("too wide"))
                .arg(std::lround(100 * (1 - kept)))
                .arg(place.width())
                .arg(place.height()));
    }
    return warnings;
}
