#include "Order.h"

Order::Order(QObject *parent) : QObject(parent) {}

void Order::fromJson(const QJsonObject &json)
{
    totalAmount = json.value(QLatin1String("to_payment")).toDouble(0);
    discount = json.value(QLatin1String("discount")).toDouble(0);
    discountPercent = json.value(QLatin1String("discount_percent")).toDouble(0);
    emit changed();
}
