#pragma once

#include "MinuteTimer.h"
#include "PromoImage.h"
#include "core/IService.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QStringList>

class AppEnv;

// Publishes the promotional pictures that are due now, on every model reset
// and on every minute boundary.
class PromoImageService : public IService
{
    Q_OBJECT
public:
    explicit PromoImageService(AppEnv *env, QObject *parent = nullptr);

    QJsonArray imagesForNow(const QList<PromoImage> &images);
    bool checkStartEnd(const QDateTime &start, const QDateTime &end) const;
    bool checkShedule(const QJsonArray &windows, const QDateTime &now) const;

    // The same decisions for a chosen moment.
    QJsonArray imagesAt(const QList<PromoImage> &images, const QDateTime &now) const;
    static bool checkStartEndAt(const QDateTime &start, const QDateTime &end, const QDateTime &now);
    // The pictures of the records that may be due at some moment of `day`.
    static QStringList urlsDueOn(const QList<PromoImage> &images, const QDate &day);

    const MinuteTimer &minuteTimer() const { return m_minuteTimer; }

public slots:
    void run() override;
    void stop() override;

private slots:
    void update();

private:
    AppEnv *m_env;
    MinuteTimer m_minuteTimer;
    QHash<int, QString> m_weekdays;
};
