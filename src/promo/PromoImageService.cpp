#include "PromoImageService.h"

#include "state/AppEnv.h"

#include <QJsonObject>
#include <QTime>

namespace {

// Milliseconds since midnight; an invalid time sorts before midnight.
int msecsOfDay(const QTime &time)
{
    return time.isValid() ? time.msecsSinceStartOfDay() : -1;
}

} // namespace

PromoImageService::PromoImageService(AppEnv *env, QObject *parent) : IService(parent), m_env(env)
{
    for (int day = 1; day <= 7; ++day)
        m_weekdays.insert(day, PromoImage::weekdayKeys[day]);
    connect(&m_minuteTimer, &MinuteTimer::timeout, this, &PromoImageService::update);
    connect(m_env->promoImageModel(), &QAbstractItemModel::modelReset, this, &PromoImageService::update);
}

void PromoImageService::run()
{
    m_minuteTimer.start();
}

void PromoImageService::stop()
{
    m_minuteTimer.stop();
}

void PromoImageService::update()
{
    m_env->setPromoImagesToShow(imagesForNow(m_env->promoImageModel()->toList()));
}

QJsonArray PromoImageService::imagesForNow(const QList<PromoImage> &images)
{
    return imagesAt(images, QDateTime::currentDateTime());
}

QJsonArray PromoImageService::imagesAt(const QList<PromoImage> &images, const QDateTime &now) const
{
    // The weekday and the windows are local wall-clock notions, whatever zone
    // the given instant was expressed in.
    const QDateTime local = now.toLocalTime();
    const int weekday = local.date().dayOfWeek();
    const QString today = m_weekdays.value(weekday);
    const int current = msecsOfDay(local.time());
    QJsonArray result;
    for (const PromoImage &image : images) {
        if (!checkStartEndAt(image.start_at, image.end_at, local))
            continue;
        // Records from the terminal carry their windows read already: the
        // tick compares numbers, it does not parse text.
        const bool due = image.weekRead && weekday >= 1 && weekday <= 7
                             ? image.week[weekday].contains(current)
                             : checkShedule(image.schedule.value(today).toArray(), local);
        if (!due)
            continue;
        result.append(
            QJsonObject{{QStringLiteral("url"), image.image}, {QStringLiteral("timeout"), image.timeout}});
    }
    return result;
}

bool PromoImageService::checkStartEnd(const QDateTime &start, const QDateTime &end) const
{
    return checkStartEndAt(start, end, QDateTime::currentDateTime());
}

bool PromoImageService::checkStartEndAt(const QDateTime &start, const QDateTime &end, const QDateTime &now)
{
    const bool hasStart = start.isValid();
    const bool hasEnd = end.isValid();
    if (hasStart && hasEnd)
        return start <= now && now <= end;
    if (hasStart)
        return start <= now;
    if (hasEnd)
        return now <= end;
    return true;
}

QStringList PromoImageService::urlsDueOn(const QList<PromoImage> &images, const QDate &day)
{
    const QDateTime first = day.startOfDay();
    const QDateTime last = day.endOfDay();
    const int weekday = day.dayOfWeek();
    QStringList urls;
    for (const PromoImage &image : images) {
        if ((image.start_at.isValid() && image.start_at > last) ||
            (image.end_at.isValid() && image.end_at < first))
            continue;
        const PromoImage::Day windows =
            image.weekRead ? image.week[weekday]
                           : PromoImage::Day::fromWindows(
                                 image.schedule.value(PromoImage::weekdayKeys[weekday]).toArray());
        if (!image.image.isEmpty() && (windows.allDay || !windows.windows.isEmpty()))
            urls.append(image.image);
    }
    return urls;
}

bool PromoImageService::checkShedule(const QJsonArray &windows, const QDateTime &now) const
{
    return PromoImage::Day::fromWindows(windows).contains(msecsOfDay(now.toLocalTime().time()));
}
