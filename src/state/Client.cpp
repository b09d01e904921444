#include "Client.h"

#include "protocol/InputLimits.h"

Client::Client(QObject *parent) : QObject(parent) {}

void Client::fromJson(const QJsonObject &json)
{
    uuid = json.value(QLatin1String("uuid")).toString();
    clientName = json.value(QLatin1String("client_name")).toString();
    clientLastName = json.value(QLatin1String("client_lastname")).toString();
    discountName = json.value(QLatin1String("discount_name")).toString();
    int shortened = 0;
    for (QString *text : {&clientName, &clientLastName, &discountName})
        shortened += InputLimits::shorten(*text) ? 1 : 0;
    if (shortened > 0) {
        qCWarning(lcLimits, "Client: %d text(s) over %d characters, the limit, cut to it", shortened,
                  InputLimits::maximumTextLength);
    }
    discountPercent = json.value(QLatin1String("discount_percent")).toDouble(0);
    bonusCount = json.value(QLatin1String("bonus_count")).toDouble(0);
    emit changed();
}
