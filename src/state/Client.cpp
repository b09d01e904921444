#include "Client.h"

#include "protocol/InputLimits.h"
#include "protocol/MessageTable.h"

#include <cmath>

Client::Client(QObject *parent) : QObject(parent) {}

void Client::fromJson(const QJsonObject &json)
{
    uuid = json.value(Key::uuid).toString();
    clientName = json.value(Key::clientName).toString();
    clientLastName = json.value(Key::clientLastName).toString();
    discountName = json.value(Key::discountName).toString();
    int shortened = 0;
    for (QString *text : {&clientName, &clientLastName, &discountName})
        shortened += InputLimits::shorten(*text) ? 1 : 0;
    if (shortened > 0) {
        qCWarning(lcLimits, "Client: %d text(s) over %d characters, the limit, cut to it", shortened,
                  InputLimits::maximumTextLength);
    }
    discountPercent = json.value(Key::discountPercent).toDouble(0);
    bonusCount = json.value(Key::bonusCount).toDouble(0);
    // Hundredths of a percent.
    const int clamped = (std::isfinite(discountPercent)
                             ? 0
                             : InputLimits::clamp(discountPercent, InputLimits::maximumPercent * 100)) +
                        InputLimits::clamp(bonusCount, InputLimits::maximumAmount);
    if (clamped > 0)
        qCWarning(lcLimits,
                  "Client: %d figure(s) beyond what the screen shows, or not a number, shown clamped",
                  clamped);
    emit changed();
}
