#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// One promotional picture from the terminal's catalogue, with its validity
// period and weekly schedule.
struct PromoImage
{
    QString uuid;
    QString name;
    bool is_active = false;
    QString image;
    bool is_order_screen = false;
    bool is_queue = false;
    QDateTime start_at;
    QDateTime end_at;
    QJsonObject schedule;
    qint32 created_by = 0;
    QDateTime created_at;
    QDateTime updated_at;
    QDateTime deleted_at;
    qint32 timeout = 0; // seconds on screen

    void fromJson(const QJsonObject &json);
    bool isValid() const;
};
