#include "PromoImage.h"

#include "protocol/InputLimits.h"
#include "protocol/MessageTable.h"

#include <QJsonArray>
#include <QTime>

namespace {

QDateTime dateTimeValue(const QJsonObject &json, QLatin1String key)
{
    return QDateTime::fromString(json.value(key).toString(), Qt::ISODate);
}

int msecsOfWindowEnd(const QJsonArray &window, int index)
{
    const QTime time = MessageTable::timeOfDay(window.at(index).toString());
    return time.isValid() ? time.msecsSinceStartOfDay() : -1;
}

} // namespace

// Indexed by Qt's day of the week; 0 is no day.
const QString PromoImage::weekdayKeys[8] = {
    QString(),
    MessageTable::weekdays().at(0),
    MessageTable::weekdays().at(1),
    MessageTable::weekdays().at(2),
    MessageTable::weekdays().at(3),
    MessageTable::weekdays().at(4),
    MessageTable::weekdays().at(5),
    MessageTable::weekdays().at(6),
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
    uuid = json.value(Key::uuid).toString();
    name = json.value(Key::name).toString();
    is_active = json.value(Key::isActive).toBool(false);
    image = json.value(Key::image).toString();
    is_order_screen = json.value(Key::isOrderScreen).toBool(false);
    is_queue = json.value(Key::isQueue).toBool(false);
    start_at = dateTimeValue(json, Key::startAt);
    end_at = dateTimeValue(json, Key::endAt);
    schedule = json.value(Key::schedule).toObject();
    created_by = json.value(Key::createdBy).toInt(0);
    created_at = dateTimeValue(json, Key::createdAt);
    updated_at = dateTimeValue(json, Key::updatedAt);
    deleted_at = dateTimeValue(json, Key::deletedAt);
    timeout = json.value(Key::timeout).toInt(0);

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
