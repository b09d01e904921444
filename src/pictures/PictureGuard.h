#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSize>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcImages)

// What a picture fetched for the interface may cost. The terminal, or a
// server behind one of its URLs, decides what arrives; these keep a hostile
// or broken source from taking the display's memory or holding a transfer
// open for ever. A refused picture fails to load like any broken one.
namespace PictureGuard {

struct Limits
{
    // Bytes a reply may announce or deliver: the whole disk cache.
    qint64 maximumBytes = 20971520;
    // A transfer that delivers fewer than stallBytes in stallMs is dropped.
    int stallMs = 30000;
    qint64 stallBytes = 1024;
    // A transfer not finished within this is dropped as stalled, however it
    // trickles: each holds one of the few transfer slots.
    int transferMs = 120000;
    // Decoded pixels, in bytes (the decoder's own allocation limit, in MiB,
    // is set to the same figure).
    qint64 maximumDecodedBytes = 64 * 1024 * 1024;
    // SVG is parsed into a tree whose cost follows its text, not its
    // compressed size: about 500 bytes per element.
    qint64 maximumVectorBytes = 4 * 1024 * 1024;
    int maximumVectorElements = 50000;
    // The largest box a picture is scaled into (the screen): scaling to fit
    // or to cover keeps the aspect ratio, so a long thin picture grows to
    // that box's larger dimension along its length.
    QSize box = QSize(1920, 1080);
};

Limits limits();
void setLimits(const Limits &limits);

// Why `data` must not be decoded, or an empty string when it may be.
// Looks at headers only (and the element count of SVG), never decodes.
QString inspect(const QByteArray &data, const Limits &limits);

// The same judgement of a local picture file (or a resource): its header,
// and the whole text of an SVG.
QString inspectFile(const QString &fileName, const Limits &limits);

// Why `device` (a picture that passed inspection) does not decode at the
// size it is shown, scaled into the box, or an empty string when it does: a
// valid header says nothing of the body behind it.
QString decodeFailure(QIODevice *device, const Limits &limits);

// "scheme://host/path…" cut to a length fit for a log line (data: URLs
// carry the whole picture).
QString shortUrl(const QUrl &url);

// A request carrying this attribute (true) is refused without a warning:
// its sender says why itself. The reason is left on the reply as the
// property refusedProperty, and a stalled transfer sets stalledProperty.
constexpr auto quietAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 41);
constexpr char refusedProperty[] = "pictureRefused";
constexpr char stalledProperty[] = "pictureStalled";

// Pictures whose server cannot be reached are read from the disk cache,
// whatever the copy's age, until they load from the network again.
// At most this many at once.
constexpr qsizetype maximumServedFromCache = 1024;
void setServedFromCache(const QUrl &url, bool fromCache);
bool servedFromCache(const QUrl &url);

// Every reply it makes is watched: over-large or stalled transfers are
// aborted, and a finished picture that would decode too large is emptied
// before the image loader reads it.
class GuardedNetworkAccessManager : public QNetworkAccessManager
{
    Q_OBJECT
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData = nullptr) override;
};

} // namespace PictureGuard
