#include "Order.h"

#include "protocol/InputLimits.h"
#include "protocol/MessageTable.h"

#include <cmath>

Order::Order(QObject *parent) : QObject(parent) {}

void Order::fromJson(const QJsonObject &json)
{
    totalAmount = json.value(Key::toPayment).toDouble(0);
    discount = json.value(Key::discount).toDouble(0);
    discountPercent = json.value(Key::discountPercent).toDouble(0);
    // Shown multiplied by 100 as a percentage; the screen clamps a large
    // finite one itself.
    const int clamped = InputLimits::clamp(totalAmount, InputLimits::maximumAmount) +
                        InputLimits::clamp(discount, InputLimits::maximumAmount) +
                        (std::isfinite(discountPercent)
                             ? 0
                             : InputLimits::clamp(discountPercent, InputLimits::maximumPercent / 100));
    if (clamped > 0)
        qCWarning(lcLimits,
                  "Order: %d figure(s) beyond what the screen shows, or not a number, shown clamped",
                  clamped);
    emit changed();
}

void Order::clearPayment()
{
    qrCodeTable = QString();
    receiptPaymentAmount = 0;
    receiptPaymentDiscount = 0;
    emit changed();
}
