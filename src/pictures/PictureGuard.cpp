#include "PictureGuard.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkReply>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QXmlStreamReader>

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

Q_LOGGING_CATEGORY(lcImages, "qv4.images")

namespace PictureGuard {

namespace {

QMutex g_limitsMutex;
Limits g_limits;
// Read by the image loader's threads, written by the preloader.
QMutex g_cachedMutex;
QSet<QUrl> g_cached;

// Inflates every gzip member of `data` into `out`; false once the text
// would pass `cap` bytes (the caller refuses it then, whatever follows).
bool inflateGzip(const QByteArray &data, qint64 cap, QByteArray *out)
{
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return true; // nothing to judge; the decoder will fail on its own
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    char chunk[65536];
    bool withinCap = true;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof chunk;
        const int result = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - stream.avail_out);
        if (out->size() + produced > cap) {
            withinCap = false;
            break;
        }
        out->append(chunk, produced);
        if (result == Z_STREAM_END) {
            // A further member is inflated as well by some readers.
            if (stream.avail_in == 0 || inflateReset(&stream) != Z_OK)
                break;
            continue;
        }
        if (result != Z_OK || (produced == 0 && stream.avail_in == 0))
            break; // broken or truncated: judged by what came out so far
    }
    inflateEnd(&stream);
    return withinCap;
}

// A length of an SVG root attribute in pixels, as the renderer reads it;
// 0 for a percentage or anything unreadable.
double svgLength(QStringView text)
{
    text = text.trimmed();
    static const struct
    {
        const char *unit;
        double pixels;
    } units[] = {{"px", 1}, {"pt", 1.25}, {"pc", 15}, {"mm", 3.7795}, {"cm", 37.795}, {"in", 96}};
    double factor = 1;
    for (const auto &u : units) {
        if (text.endsWith(QLatin1String(u.unit))) {
            factor = u.pixels;
            text.chop(2);
            break;
        }
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value > 0 ? value * factor : 0;
}

QString scaledTooLarge(QSizeF size, const Limits &limits)
{
    if (!limits.box.isValid() || size.width() <= 0 || size.height() <= 0)
        return {};
    // Fit and cover alike scale by the larger of the two ratios here.
    const double ratio = std::max(limits.box.width() / size.width(), limits.box.height() / size.height());
    const double width = size.width() * ratio;
    const double height = size.height() * ratio;
    if (width * height * 4 <= double(limits.maximumDecodedBytes))
        return {};
    return QStringLiteral("%1x%2 would be scaled to %3x%4 pixels, over the limit of %5 bytes")
        .arg(size.width())
        .arg(size.height())
        .arg(qint64(width))
        .arg(qint64(height))
        .arg(limits.maximumDecodedBytes);
}

QString inspectVector(const QByteArray &text, const Limits &limits)
{
    if (text.size() > limits.maximumVectorBytes) {
        return QStringLiteral("SVG text of over %1 bytes, the limit").arg(limits.maximumVectorBytes);
    }
    QXmlStreamReader xml(text);
    int elements = 0;
    QSizeF size;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (++elements > limits.maximumVectorElements)
            return QStringLiteral("SVG of over %1 elements, the limit").arg(limits.maximumVectorElements);
        if (elements == 1) {
            const QXmlStreamAttributes attributes = xml.attributes();
            size = QSizeF(svgLength(attributes.value(QLatin1String("width"))),
                          svgLength(attributes.value(QLatin1String("height"))));
            const QList<QStringView> box =
                attributes.value(QLatin1String("viewBox")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (box.size() == 4) {
                if (size.width() <= 0)
                    size.setWidth(box.at(2).toDouble());
                if (size.height() <= 0)
                    size.setHeight(box.at(3).toDouble());
            }
        }
    }
    return scaledTooLarge(size, limits);
}

// A reply that has failed before it started, as an aborted transfer does.
class RefusedReply : public QNetworkReply
{
public:
    RefusedReply(const QNetworkRequest &request, const QString &reason, QObject *parent)
        : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(QNetworkAccessManager::GetOperation);
        setError(OperationCanceledError, QStringLiteral("Picture refused: ") + reason);
        setProperty(refusedProperty, reason);
        open(QIODevice::ReadOnly);
        setFinished(true);
        // Signalled once whoever asked has connected, as every reply is.
        QMetaObject::invokeMethod(
            this,
            [this] {
                emit errorOccurred(error());
                emit finished();
            },
            Qt::QueuedConnection);
    }

    void abort() override {}

protected:
    qint64 readData(char *, qint64) override { return -1; }
};

// Watches one reply for its whole life; a child of the reply.
class ReplyWatch : public QObject
{
public:
    ReplyWatch(QNetworkReply *reply, const Limits &limits) : QObject(reply), m_reply(reply), m_limits(limits)
    {
        // Connected before the image loader's own slots, so these run first.
        connect(reply, &QNetworkReply::metaDataChanged, this, &ReplyWatch::onMetaData);
        connect(reply, &QNetworkReply::downloadProgress, this, &ReplyWatch::onProgress);
        connect(reply, &QNetworkReply::readyRead, this, &ReplyWatch::onReadyRead);
        connect(reply, &QNetworkReply::finished, this, &ReplyWatch::onFinished);
        connect(&m_stall, &QTimer::timeout, this, &ReplyWatch::onStallCheck);
        m_stall.start(m_limits.stallMs);
        // A member, stopped with the transfer: a pending single-shot per
        // transfer would outlive thousands of quick failures by minutes.
        m_whole.setSingleShot(true);
        connect(&m_whole, &QTimer::timeout, this, [this] {
            if (!m_reply->isFinished())
                refuse(QStringLiteral("stalled: not whole within %1 ms, the limit").arg(m_limits.transferMs),
                       true);
        });
        m_whole.start(m_limits.transferMs);
    }

private:
    void refuse(const QString &reason, bool stalled = false)
    {
        if (m_refused)
            return;
        m_refused = true;
        m_stall.stop();
        m_whole.stop();
        m_reply->setProperty(refusedProperty, reason);
        m_reply->setProperty(stalledProperty, stalled);
        if (!m_reply->request().attribute(quietAttribute).toBool())
            qCWarning(lcImages).noquote() << "Picture" << shortUrl(m_reply->url()) << "refused:" << reason;
        if (m_reply->isFinished())
            m_reply->skip(m_reply->bytesAvailable()); // the loader finds nothing to decode
        else
            m_reply->abort();
    }

    // True when the size the reply announces is over the limit (and refused).
    bool announcesTooMuch(qint64 announced)
    {
        if (announced <= m_limits.maximumBytes)
            return false;
        refuse(QStringLiteral("announces %1 bytes, over the limit of %2")
                   .arg(announced)
                   .arg(m_limits.maximumBytes));
        return true;
    }

    void onMetaData()
    {
        bool ok = false;
        const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok)
            announcesTooMuch(announced);
    }

    void onProgress(qint64 received, qint64 total)
    {
        m_received = qMax(m_received, received);
        if (!announcesTooMuch(total))
            onReadyRead();
    }

    // Progress is reported at intervals; what the reply holds is exact (the
    // loader reads nothing before the end).
    void onReadyRead()
    {
        m_received = qMax(m_received, m_reply->bytesAvailable());
        if (m_received > m_limits.maximumBytes)
            refuse(QStringLiteral("delivers over the limit of %1 bytes").arg(m_limits.maximumBytes));
    }

    void onStallCheck()
    {
        if (m_received - m_lastCheck < m_limits.stallBytes) {
            refuse(QStringLiteral("stalled: under %1 bytes in %2 ms, the limit")
                       .arg(m_limits.stallBytes)
                       .arg(m_limits.stallMs),
                   true);
        }
        m_lastCheck = m_received;
    }

    void onFinished()
    {
        m_stall.stop();
        m_whole.stop();
        if (m_refused || m_reply->error() != QNetworkReply::NoError ||
            m_reply->operation() != QNetworkAccessManager::GetOperation)
            return;
        const QString reason = inspect(m_reply->peek(m_reply->bytesAvailable()), m_limits);
        if (!reason.isEmpty())
            refuse(reason);
    }

    QNetworkReply *m_reply;
    const Limits m_limits;
    QTimer m_stall;
    QTimer m_whole; // the whole transfer's time limit
    qint64 m_received = 0;
    qint64 m_lastCheck = 0;
    bool m_refused = false;
};

} // namespace

Limits limits()
{
    QMutexLocker lock(&g_limitsMutex);
    return g_limits;
}

void setLimits(const Limits &limits)
{
    {
        QMutexLocker lock(&g_limitsMutex);
        g_limits = limits;
    }
    // Also what the decoders refuse to allocate, for sources that never pass
    // through a network reply (local files).
    QImageReader::setAllocationLimit(int(std::max<qint64>(1, limits.maximumDecodedBytes >> 20)));
}

QString inspect(const QByteArray &data, const Limits &limits)
{
    if (data.startsWith("\x1f\x8b")) {
        // Only the SVG reader takes gzip: judge what it would parse.
        QByteArray text;
        if (!inflateGzip(data, limits.maximumVectorBytes, &text))
            return QStringLiteral("compressed SVG inflates to over %1 bytes, the limit")
                .arg(limits.maximumVectorBytes);
        return inspectVector(text, limits);
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format.startsWith("svg"))
        return inspectVector(data, limits);
    if (format.isEmpty())
        return {};                    // nothing would decode it anyway
    const QSize size = reader.size(); // header only
    return size.isValid() ? scaledTooLarge(QSizeF(size), limits) : QString();
}

QString inspectFile(const QString &fileName, const Limits &limits)
{
    QFile file(fileName);
    if (fileName.startsWith(QLatin1Char(':'))) {
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot be read: ") + file.errorString();
    } else {
        // Without blocking: a FIFO waits for a writer in open(), a terminal
        // or a device in read(). Only a regular file is read at all.
        const int fd =
            ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return QStringLiteral("cannot be read: ") + QString::fromLocal8Bit(strerror(errno));
        struct stat status = {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(fd);
            return QStringLiteral("not a regular file");
        }
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return QStringLiteral("cannot be read: ") + file.errorString();
        }
    }
    const bool compressed = file.peek(2).startsWith("\x1f\x8b");
    QImageReader reader(&file);
    const QByteArray format = reader.format();
    if (compressed || format.startsWith("svg")) {
        // Judged by its text, as one fetched would be.
        if (!compressed && file.size() > limits.maximumVectorBytes)
            return QStringLiteral("SVG text of over %1 bytes, the limit").arg(limits.maximumVectorBytes);
        if (file.size() > limits.maximumBytes)
            return QStringLiteral("file of over %1 bytes, the limit").arg(limits.maximumBytes);
        file.seek(0);
        const QByteArray text = file.readAll();
        QString reason = inspect(text, limits);
        if (reason.isEmpty()) {
            QBuffer buffer;
            buffer.setData(text);
            buffer.open(QIODevice::ReadOnly);
            reason = decodeFailure(&buffer, limits);
        }
        return reason;
    }
    if (format.isEmpty())
        return QStringLiteral("not a picture the display can decode");
    const QSize size = reader.size(); // header only
    const QString reason = size.isValid() ? scaledTooLarge(QSizeF(size), limits) : QString();
    if (!reason.isEmpty())
        return reason;
    file.seek(0);
    return decodeFailure(&file, limits);
}

QString decodeFailure(QIODevice *device, const Limits &limits)
{
    QImageReader reader(device);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > limits.box.width() || size.height() > limits.box.height()))
        reader.setScaledSize(size.scaled(limits.box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    if (reader.read().isNull())
        return QStringLiteral("not a picture the display can decode");
    return {};
}

void setServedFromCache(const QUrl &url, bool fromCache)
{
    QMutexLocker lock(&g_cachedMutex);
    // Its owner forgets a URL that leaves the catalogue; this bound holds
    // whatever else happens (forgotten ones are asked of the network again).
    if (fromCache && g_cached.size() >= maximumServedFromCache && !g_cached.contains(url))
        g_cached.clear();
    if (fromCache)
        g_cached.insert(url);
    else
        g_cached.remove(url);
}

bool servedFromCache(const QUrl &url)
{
    QMutexLocker lock(&g_cachedMutex);
    return !g_cached.isEmpty() && g_cached.contains(url);
}

QString shortUrl(const QUrl &url)
{
    const QString text = url.toString();
    constexpr qsizetype shown = 100;
    if (text.size() <= shown + 20)
        return text;
    return text.left(shown) + QStringLiteral("… (%1 characters)").arg(text.size());
}

QNetworkReply *GuardedNetworkAccessManager::createRequest(Operation op, const QNetworkRequest &request,
                                                          QIODevice *outgoingData)
{
    const Limits limits = PictureGuard::limits();
    QNetworkReply *reply = nullptr;
    if (op == GetOperation && servedFromCache(request.url())) {
        QNetworkRequest cached(request);
        cached.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysCache);
        reply = QNetworkAccessManager::createRequest(op, cached, outgoingData);
    } else {
        reply = QNetworkAccessManager::createRequest(op, request, outgoingData);
    }
    if (op == GetOperation && request.url().scheme() == QLatin1String("data")) {
        // Its picture is there at once. Refused, it fails as a transfer does:
        // a picture that fails to decode has its whole URL, megabytes of it
        // here, written to the log by the image loader.
        const QByteArray data = reply->peek(reply->bytesAvailable());
        QString reason = inspect(data, limits);
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        if (reason.isEmpty() && QImageReader::imageFormat(&buffer).isEmpty())
            reason = QStringLiteral("not a picture the display can decode");
        if (!reason.isEmpty()) {
            if (!request.attribute(quietAttribute).toBool())
                qCWarning(lcImages).noquote() << "Picture" << shortUrl(request.url()) << "refused:" << reason;
            reply->deleteLater();
            return new RefusedReply(request, reason, this);
        }
    }
    // The image loader reads a reply only once it has finished. Unbounded,
    // the transfer thread would go on reading ahead of the checks below and
    // queue what it read for this one; bounded a little above the limit, a
    // reply that passes it is still seen doing so.
    reply->setReadBufferSize(limits.maximumBytes + 1024 * 1024);
    new ReplyWatch(reply, limits);
    return reply;
}

} // namespace PictureGuard
