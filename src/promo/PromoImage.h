#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>

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
    QJsonObject schedule; // each weekday's windows cut to InputLimits::maximumTimeWindows
    qint32 created_by = 0;
    QDateTime created_at;
    QDateTime updated_at;
    QDateTime deleted_at;
    qint32 timeout = 0; // seconds on screen

    // One weekday of `schedule` as the minute tick compares it: "hh:mm"
    // read once, into milliseconds since midnight (-1 when unreadable).
    struct Day
    {
        bool allDay = true; // no windows at all
        QList<std::pair<int, int>> windows;
        bool contains(int msecsOfDay) const;
        // A weekday's array of ["hh:mm", "hh:mm"] windows; elements that are
        // no array, or an empty one, are passed over.
        static Day fromWindows(const QJsonArray &windows);
    };
    // Indexed by ISO weekday, 1 to 7; read from `schedule` by fromJson. A
    // record filled by hand (weekRead false) is judged from `schedule`.
    std::array<Day, 8> week;
    bool weekRead = false;

    // `daysCut`, when given, grows by the weekdays whose windows were cut.
    void fromJson(const QJsonObject &json, int *daysCut = nullptr);
    bool isValid() const;

    static const QString weekdayKeys[8];
};
