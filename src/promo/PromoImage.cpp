#include "PromoImage.h"

namespace {

QDateTime dateTimeValue(const QJsonObject &json, QLatin1String key)
{
    return QDateTime::fromString(json.value(key).toString(), Qt::ISODate);
}

} // namespace

void PromoImage::fromJson(const QJsonObject &json)
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
}

bool PromoImage::isValid() const
{
    return !uuid.isEmpty() && is_order_screen && is_active;
}
