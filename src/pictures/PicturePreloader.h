#pragma once

#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches every picture the screen will want (the logo, the promo pictures
// due today) before it is shown, and hands the interface only those that
// loaded: a picture that fails never leaves a hole on the screen. It knows
// pictures by URL only; start-up tells it what is wanted (setWanted). A failed
// picture is tried again later, waiting twice as long each time, with one
// warning per attempt. When its server cannot be reached, the copy in the
// disk cache is shown, however old.
class PicturePreloader : public QObject
{
    Q_OBJECT
    // The logo's URL once it has loaded, empty until then.
    Q_PROPERTY(QString logo READ logo NOTIFY logoChanged FINAL)
    // The entries due now without those whose picture has not loaded: an
    // array, declared a QVariant for Qt 6.4's QML tools (see NetworkService).
    Q_PROPERTY(QVariant promoImagesToShow READ promoImagesToShow NOTIFY promoImagesToShowChanged FINAL)
public:
    struct Delays
    {
        int firstMs = 30000;
        int maximumMs = 600000;
    };
    // Longer addresses are refused: a file path or a made-up address of
    // megabytes would otherwise be quoted whole by Qt's image loader.
    static constexpr qsizetype maximumUrlLength = 8192;
    // Transfers at once: each may hold up to the picture limit (20 MiB) in
    // memory until it is judged, so a catalogue of hundreds waits in turn.
    static constexpr int maximumFetches = 2;
    // Judging a picture (a local file's header, decoding) takes no longer than
    // this once it has started, and waits for a free thread at most 12 times as long.
    static constexpr int judgementLimitMs = 5000;

    explicit PicturePreloader(QObject *parent = nullptr);
    ~PicturePreloader() override;

    // The manager that fetches (with the interface's disk cache); one
    // without a cache is made when none is given.
    void setNetworkAccessManager(QNetworkAccessManager *manager);
    void setDelays(const Delays &delays) { m_delays = delays; }

    // What the screen wants: the logo, the slideshow's entries due now
    // (objects with a "url"), and the other pictures due later today.
    void setWanted(const QString &logo, const QJsonArray &dueNow, const QStringList &dueLaterToday);

    QString logo() const { return m_logo; }
    QJsonArray promoImagesToShow() const { return m_promoImagesToShow; }
    bool isReady(const QString &url) const;
    // The slideshow could not decode a picture counted as loaded: it fails
    // like any other, and is tried again after the same back-off.
    Q_INVOKABLE void failedToShow(const QString &url);

signals:
    void logoChanged();
    void promoImagesToShowChanged();

private:
    struct Picture
    {
        bool ready = false;
        bool loading = false;
        int failures = 0;
        QPointer<QNetworkReply> reply;
        QString cacheFailure; // why the network failed, while the cache is asked
        qint64 retryAt = 0;   // when to try again (ms since the epoch); 0 for never
        int judgement = 0;    // which judgement off this thread is awaited
    };

    void load(const QString &url);
    void fetch(const QString &url, bool fromCache);
    // Runs `work` on the picture pool; `then` gets its answer unless the
    // picture was dropped or moved on meanwhile, and a failure comes instead
    // past the time limit.
    void judge(const QString &url, std::function<QString()> work, std::function<void(const QString &)> then);
    void watchJudgement(const QString &url, int judgement, std::shared_ptr<std::atomic<qint64>> startedAt,
                        qint64 queuedAt);
    bool awaited(const QString &url, int judgement) const;
    void startFetches();
    void scheduleRetry();
    void retryDue();
    void fetched(const QString &url, QNetworkReply *reply, bool fromCache);
    void done(const QString &url, const QString &failure, bool fromCache = false);
    void publish();
    QNetworkAccessManager *manager();

    QString m_wantedLogo;
    QJsonArray m_dueNow;
    QNetworkAccessManager *m_manager = nullptr;
    Delays m_delays;
    QHash<QString, Picture> m_pictures;
    QString m_logo;
    QJsonArray m_promoImagesToShow;
    QTimer m_retry;             // for the earliest retryAt
    QStringList m_waiting;      // for a transfer, in turn
    QHash<QString, int> m_rank; // of each wanted URL: how soon it is due
    int m_fetching = 0;
    bool m_closing = false;
};
