// The minute tick's evaluation at the display's limits: the most promo
// entries it keeps, each with the most time windows it keeps for every day,
// none of which matches (so every window is looked at). Prints the GUI-thread
// time of one evaluation, and the same records judged from their JSON text
// as every tick did before the windows were read once per message.
#include "BenchStats.h"

#include "promo/PromoImageService.h"
#include "state/AppEnv.h"
#include "protocol/InputLimits.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>

namespace {

QList<PromoImage> records(int entries, int windows, bool read)
{
    QJsonArray never;
    for (int i = 0; i < windows; ++i)
        never.append(QJsonArray{"23:59", "00:00"});
    QJsonObject week;
    for (const char *day : {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"})
        week.insert(QLatin1String(day), never);
    QList<PromoImage> list;
    for (int i = 0; i < entries; ++i) {
        PromoImage image;
        image.fromJson(QJsonObject{{"uuid", QStringLiteral("p%1").arg(i)},
                                   {"is_active", true},
                                   {"is_order_screen", true},
                                   {"image", "file:///promo.jpg"},
                                   {"start_at", "2024-01-01T00:00:00Z"},
                                   {"end_at", "2099-01-01T00:00:00Z"},
                                   {"schedule", week}});
        if (!read) {
            image.schedule = week; // uncut, as before the limits
            image.weekRead = false;
        }
        list.append(image);
    }
    return list;
}

double medianMicroseconds(PromoImageService &service, const QList<PromoImage> &list, int rounds)
{
    QList<double> samples;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QJsonArray due = service.imagesForNow(list);
        samples.append(double(timer.nsecsElapsed()) / 1000.0);
        if (!due.isEmpty())
            qFatal("a window matched");
    }
    return BenchStats::median(samples);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AppEnv env;
    PromoImageService service(&env);
    const int entries = InputLimits::maximumPromoEntries;
    const int windows = InputLimits::maximumTimeWindows;

    BenchStats::line("tick, 200 entries x 100 windows, read once",
                     medianMicroseconds(service, records(entries, windows, true), 200), "us",
                     "target < 5000 us");
    BenchStats::line("tick, 200 entries x 100 windows, from text",
                     medianMicroseconds(service, records(entries, windows, false), 5), "us",
                     "(every tick before)");
    BenchStats::line("tick, 1 entry x 780,000 windows, from text",
                     medianMicroseconds(service, records(1, 780000 / 7, false), 3), "us",
                     "(every tick before the limits)");
    return 0;
}
