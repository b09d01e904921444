#include "Order.h"

#include "protocol/MessageTable.h"

Order::Order(QObject *parent) : QObject(parent) {}

void Order::fromJson(const QJsonObject &json)
{
    totalAmount = json.value(Key::toPayment).toDouble(0);
    discount = json.value(Key::discount).toDouble(0);
    discountPercent = json.value(Key::discountPercent).toDouble(0);
    emit changed();
}
