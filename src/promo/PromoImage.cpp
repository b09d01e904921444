#include "PromoImage.h"

#include "protocol/InputLimits.h"

#include <QJsonArray>
#include <QTime>

namespace {

QDateTime dateTimeValue(const QJsonObject &json, QLatin1String key)
{
    return QDateTime::fromString(json.value(key).toString(), Qt::ISODate);
}

int msecsOfWindowEnd(const QJsonArray &window, int index)
{
    const QTime time = QTime::fromString(window.at(index).toString(), QStringLiteral("hh:mm"));
    return time.isValid() ? time.msecsSinceStartOfDay() : -1;
}

} // namespace

const QString PromoImage::weekdayKeys[8] = {
    QString(),
    QStringLiteral("monday"),
    QStringLiteral("tuesday"),
    QStringLiteral("wednesday"),
    QStringLiteral("thursday"),
    QStringLiteral("friday"),
    QStringLiteral("saturday"),
    QStringLiteral("sunday"),
};

PromoImage::Day PromoImage::Day::fromWindows(const QJsonArray &windows)
{
    Day day;
    day.allDay = windows.isEmpty();
    for (const QJsonValue &value : windows) {
        const QJsonArray window = value.toArray();
        if (!window.isEmpty())
            day.windows.append({msecsOfWindowEnd(window, 0), msecsOfWindowEnd(window, 1)});
    }
    return day;
}

bool PromoImage::Day::contains(int msecsOfDay) const
{
    if (allDay)
        return true;
    for (const auto &[start, end] : windows) {
        if (end >= msecsOfDay && msecsOfDay >= start)
            return true;
    }
    return false;
}

void PromoImage::fromJson(const QJsonObject &json, int *daysCut)
{
    uuid = json.value(QLatin1String("uuid")).toString();
    name = json.value(QLatin1String("name")).toString();
    is_active = json.value(QLatin1String("is_active")).toBool(false);
    image = json.value(QLatin1String("image")).toString();
    is_order_screen = json.value(QLatin1String("is_order_screen")).toBool(false);
    is_queue = json.value(QLatin1String("is_queue")).toBool(false);
    start_at = dateTimeValue(json, QLatin1String("start_at"));
    end_at = dateTimeValue(json, QLatin1String("end_at"));
    schedule = json.value(QLatin1String("schedule")).toObject();
    created_by = json.value(QLatin1String("created_by")).toInt(0);
    created_at = dateTimeValue(json, QLatin1String("created_at"));
    updated_at = dateTimeValue(json, QLatin1String("updated_at"));
    deleted_at = dateTimeValue(json, QLatin1String("deleted_at"));
    timeout = json.value(QLatin1String("timeout")).toInt(0);

    for (int day = 1; day <= 7; ++day) {
        QJsonArray windows = schedule.value(weekdayKeys[day]).toArray();
        if (windows.size() > InputLimits::maximumTimeWindows) {
            QJsonArray kept;
            for (int i = 0; i < InputLimits::maximumTimeWindows; ++i)
                kept.append(windows.at(i));
            windows = kept;
            schedule.insert(weekdayKeys[day], windows);
            if (daysCut)
                ++*daysCut;
        }
        week[day] = Day::fromWindows(windows);
    }
    weekRead = true;
}

bool PromoImage::isValid() const
{
    return !uuid.isEmpty() && is_order_screen && is_active;
}
