#include "PicturePreloader.h"

#include "PictureGuard.h"
#include "PicturePool.h"
#include "protocol/InputLimits.h"

#include <QBuffer>
#include <QDateTime>
#include <QFutureWatcher>
#include <QJsonObject>
#include <QNetworkReply>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

namespace {

// A transfer that failed on the way (no server, no route, no answer), as
// opposed to a server that answered, or a picture that is refused.
bool unreachable(QNetworkReply *reply)
{
    if (!reply->property(PictureGuard::refusedProperty).toString().isEmpty())
        return reply->property(PictureGuard::stalledProperty).toBool();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        return status.toInt() >= 500;
    return reply->error() != QNetworkReply::NoError && reply->error() < QNetworkReply::ContentAccessDenied;
}

QString failureOf(QNetworkReply *reply)
{
    const QString refused = reply->property(PictureGuard::refusedProperty).toString();
    if (!refused.isEmpty())
        return QStringLiteral("refused: ") + refused;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return QStringLiteral("the server answered HTTP %1").arg(status);
    if (reply->error() != QNetworkReply::NoError) {
        // Qt's text may quote the address; the log line names it once, cut.
        QString text = reply->errorString();
        text.replace(reply->url().toString(), QStringLiteral("it"));
        return text;
    }
    return {};
}

} // namespace

PicturePreloader::PicturePreloader(QObject *parent) : QObject(parent)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PicturePreloader::retryDue);
}

PicturePreloader::~PicturePreloader()
{
    m_closing = true;
    for (Picture &picture : m_pictures) {
        if (picture.reply)
            picture.reply->abort();
    }
}

void PicturePreloader::setNetworkAccessManager(QNetworkAccessManager *manager)
{
    m_manager = manager;
}

QNetworkAccessManager *PicturePreloader::manager()
{
    if (!m_manager)
        m_manager = new PictureGuard::GuardedNetworkAccessManager(this);
    return m_manager;
}

bool PicturePreloader::isReady(const QString &url) const
{
    const auto it = m_pictures.constFind(url);
    return it != m_pictures.constEnd() && it->ready;
}

void PicturePreloader::failedToShow(const QString &url)
{
    const auto it = m_pictures.constFind(url);
    if (it == m_pictures.constEnd() || !it->ready || it->loading)
        return;
    // Not shown from the disk cache either: that copy is what failed.
    PictureGuard::setServedFromCache(QUrl(url), false);
    done(url, QStringLiteral("not a picture the display can decode, in the slideshow"));
}

void PicturePreloader::setWanted(const QString &logo, const QJsonArray &dueNow,
                                 const QStringList &dueLaterToday)
{
    m_wantedLogo = logo;
    m_dueNow = dueNow;

    // The logo, what is due now, and whatever else is due today: each is
    // in hand by the time the slideshow comes to it.
    QStringList wanted;
    if (!m_wantedLogo.isEmpty())
        wanted.append(m_wantedLogo);
    for (const QJsonValue &entry : std::as_const(m_dueNow)) {
        const QString url = entry.toObject().value(QLatin1String("url")).toString();
        if (!url.isEmpty())
            wanted.append(url);
    }
    wanted += dueLaterToday;
    wanted.removeDuplicates();
    // As many as the slideshow shows at most, besides the logo.
    if (wanted.size() > InputLimits::maximumPromoEntries + 1)
        wanted.resize(InputLimits::maximumPromoEntries + 1);

    const QSet<QString> keep(wanted.cbegin(), wanted.cend());
    m_rank.clear();
    for (int i = 0; i < wanted.size(); ++i)
        m_rank.insert(wanted.at(i), i);
    for (auto it = m_pictures.begin(); it != m_pictures.end();) {
        if (keep.contains(it.key())) {
            ++it;
            continue;
        }
        QNetworkReply *reply = it->reply;
        // Nothing of a URL outlives its place in the catalogue.
        PictureGuard::setServedFromCache(QUrl(it.key()), false);
        it = m_pictures.erase(it);
        // Ended without a word, and not aborted: an aborted transfer that
        // was still looking up its host fails again when the lookup does,
        // and Qt warns of an "internal problem" each time.
        if (reply) {
            reply->disconnect(this);
            delete reply;
            --m_fetching;
        }
    }
    m_waiting.removeIf([&](const QString &url) { return !keep.contains(url); });
    for (const QString &url : wanted) {
        if (!m_pictures.contains(url))
            load(url);
    }
    // The places the dropped ones held.
    startFetches();
    scheduleRetry();
    publish();
}

void PicturePreloader::load(const QString &url)
{
    Picture &picture = m_pictures[url];
    picture.loading = true;
    const QUrl address(url);
    const QString scheme = address.scheme();
    if (url.size() > maximumUrlLength && scheme != QLatin1String("data")) {
        done(url, QStringLiteral("refused: an address of %1 characters, over the limit of %2")
                      .arg(url.size())
                      .arg(maximumUrlLength));
        return;
    }
    if (scheme == QLatin1String("file") || scheme == QLatin1String("qrc")) {
        const QString path =
            scheme == QLatin1String("qrc") ? QLatin1Char(':') + address.path() : address.toLocalFile();
        const PictureGuard::Limits limits = PictureGuard::limits();
        judge(
            url, [path, limits] { return PictureGuard::inspectFile(path, limits); },
            [this, url](const QString &reason) {
                done(url, reason.isEmpty() || reason.startsWith(QLatin1String("cannot"))
                              ? reason
                              : QStringLiteral("refused: ") + reason);
            });
        return;
    }
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
        scheme == QLatin1String("data")) {
        m_waiting.append(url);
        startFetches();
        return;
    }
    done(url, QStringLiteral("not an address the display loads pictures from (http, https, file, data)"));
}

void PicturePreloader::judge(const QString &url, std::function<QString()> work,
                             std::function<void(const QString &)> then)
{
    const int judgement = ++m_pictures[url].judgement;
    auto startedAt = std::make_shared<std::atomic<qint64>>(0);
    // A watcher of ours, not a continuation with this as its context: on
    // Qt 6.4 a continuation whose context has gone asserts (or calls into
    // nothing), and a judgement may outlive the preloader at exit.
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, url, judgement, then] {
        watcher->deleteLater();
        if (awaited(url, judgement))
            then(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(PicturePool::instance(), [work = std::move(work), startedAt] {
        startedAt->store(QDateTime::currentMSecsSinceEpoch());
        return work();
    }));
    watchJudgement(url, judgement, startedAt, QDateTime::currentMSecsSinceEpoch());
}

void PicturePreloader::watchJudgement(const QString &url, int judgement,
                                      std::shared_ptr<std::atomic<qint64>> startedAt, qint64 queuedAt)
{
    // A file on a mount that hangs blocks even a careful reader: its picture
    // fails in time, and its answer, if one ever comes, is ignored. The time
    // runs from when the work starts (pictures queued behind others wait),
    // but a pool whose threads are all stuck fails the waiting ones too.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 started = startedAt->load();
    const qint64 left =
        started > 0 ? started + judgementLimitMs - now : queuedAt + 12 * judgementLimitMs - now;
    if (left > 0) {
        QTimer::singleShot(int(std::min<qint64>(left, judgementLimitMs)), this,
                           [this, url, judgement, startedAt, queuedAt] {
                               if (awaited(url, judgement))
                                   watchJudgement(url, judgement, startedAt, queuedAt);
                           });
        return;
    }
    done(url, QStringLiteral("refused: not judged within %1 s").arg(judgementLimitMs / 1000));
}

bool PicturePreloader::awaited(const QString &url, int judgement) const
{
    const auto it = m_pictures.constFind(url);
    return it != m_pictures.constEnd() && it->loading && it->judgement == judgement;
}

void PicturePreloader::startFetches()
{
    while (m_fetching < maximumFetches && !m_waiting.isEmpty()) {
        // The one due soonest (the logo, what shows now, then the day's order).
        const auto next = std::min_element(m_waiting.cbegin(), m_waiting.cend(),
                                           [this](const QString &a, const QString &b) {
                                               return m_rank.value(a, INT_MAX) < m_rank.value(b, INT_MAX);
                                           });
        const QString url = m_waiting.takeAt(next - m_waiting.cbegin());
        const auto it = m_pictures.constFind(url);
        if (it != m_pictures.constEnd() && it->loading && !it->reply)
            fetch(url, false);
    }
}

void PicturePreloader::fetch(const QString &url, bool fromCache)
{
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(PictureGuard::quietAttribute, true);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         fromCache ? QNetworkRequest::AlwaysCache : QNetworkRequest::PreferNetwork);
    QNetworkReply *reply = manager()->get(request);
    m_pictures[url].reply = reply;
    ++m_fetching;
    // Once: a reply from the cache that is aborted before it starts finishes twice.
    connect(
        reply, &QNetworkReply::finished, this,
        [this, url, reply, fromCache] {
            reply->deleteLater();
            --m_fetching;
            if (m_closing)
                return;
            const auto it = m_pictures.find(url);
            if (it != m_pictures.end() && it->reply == reply)
                fetched(url, reply, fromCache);
            startFetches();
        },
        Qt::SingleShotConnection);
}

void PicturePreloader::fetched(const QString &url, QNetworkReply *reply, bool fromCache)
{
    Picture &picture = m_pictures[url];
    picture.reply = nullptr;
    const QString failure = failureOf(reply);
    if (!failure.isEmpty()) {
        if (fromCache) {
            // Shown from the cache, or not at all: the network's failure is what is said.
            done(url, picture.cacheFailure);
        } else if (unreachable(reply)) {
            picture.cacheFailure = failure;
            fetch(url, true);
        } else {
            done(url, failure);
        }
        return;
    }
    // Decoded at the size it is shown before it counts as loaded: a valid
    // header says nothing of the body behind it.
    const PictureGuard::Limits limits = PictureGuard::limits();
    judge(
        url,
        [data = reply->readAll(), limits] {
            QBuffer buffer;
            buffer.setData(data);
            buffer.open(QIODevice::ReadOnly);
            return PictureGuard::decodeFailure(&buffer, limits);
        },
        [this, url, fromCache](const QString &reason) {
            if (fromCache)
                done(url, m_pictures[url].cacheFailure, reason.isEmpty());
            else
                done(url, reason);
        });
}

void PicturePreloader::done(const QString &url, const QString &failure, bool fromCache)
{
    Picture &picture = m_pictures[url];
    picture.loading = false;
    const bool wasReady = picture.ready;
    if (failure.isEmpty()) {
        picture.failures = 0;
        picture.ready = true;
        picture.retryAt = 0;
        PictureGuard::setServedFromCache(QUrl(url), false);
    } else {
        const qint64 delay =
            std::min<qint64>(qint64(m_delays.firstMs) << std::min(picture.failures, 20), m_delays.maximumMs);
        ++picture.failures;
        picture.ready = fromCache || (picture.ready && PictureGuard::servedFromCache(QUrl(url)));
        if (fromCache)
            PictureGuard::setServedFromCache(QUrl(url), true);
        qCWarning(lcImages).noquote()
            << QStringLiteral("Picture %1 failed: %2; %3next try in %4 s")
                   .arg(PictureGuard::shortUrl(QUrl(url)), failure,
                        picture.ready ? QStringLiteral("shown from the disk cache; ") : QString())
                   .arg(double(delay) / 1000);
        picture.retryAt = QDateTime::currentMSecsSinceEpoch() + delay;
        scheduleRetry();
    }
    if (picture.ready != wasReady)
        publish();
}

void PicturePreloader::scheduleRetry()
{
    qint64 earliest = 0;
    for (const Picture &picture : std::as_const(m_pictures)) {
        if (picture.retryAt > 0 && (earliest == 0 || picture.retryAt < earliest))
            earliest = picture.retryAt;
    }
    if (earliest == 0)
        m_retry.stop();
    else
        m_retry.start(int(std::max<qint64>(0, earliest - QDateTime::currentMSecsSinceEpoch())));
}

void PicturePreloader::retryDue()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QStringList due;
    for (auto it = m_pictures.begin(); it != m_pictures.end(); ++it) {
        if (it->retryAt > 0 && it->retryAt <= now) {
            it->retryAt = 0;
            due.append(it.key());
        }
    }
    for (const QString &url : std::as_const(due)) {
        if (m_pictures.contains(url))
            load(url);
    }
    scheduleRetry();
}

void PicturePreloader::publish()
{
    const QString logo = isReady(m_wantedLogo) ? m_wantedLogo : QString();
    if (logo != m_logo) {
        m_logo = logo;
        emit logoChanged();
    }
    QJsonArray shown;
    for (const QJsonValue &entry : std::as_const(m_dueNow)) {
        if (isReady(entry.toObject().value(QLatin1String("url")).toString()))
            shown.append(entry);
    }
    m_promoImagesToShow = shown;
    emit promoImagesToShowChanged();
}
