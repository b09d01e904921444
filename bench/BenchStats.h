#pragma once

#include <QList>
#include <QString>

#include <algorithm>
#include <cstdio>

// Order statistics over samples in microseconds, and the one output format of
// every benchmark: figure, floor, ratio.
namespace BenchStats {

inline double percentile(QList<double> samples, double p)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const qsizetype index = qMin(samples.size() - 1, qsizetype(p * double(samples.size() - 1) + 0.5));
    return samples.at(index);
}

inline double median(const QList<double> &samples)
{
    return percentile(samples, 0.5);
}

// "name: figure unit | floor: figure unit | ratio r (target ...)"
inline void report(const char *name, double value, double floor, const char *unit, const char *target)
{
    std::printf("%-44s %12.1f %-5s floor %12.1f %-5s ratio %6.2f   %s\n", name, value, unit, floor, unit,
                floor > 0 ? value / floor : 0.0, target);
    std::fflush(stdout);
}

inline void line(const char *name, double value, const char *unit, const char *note = "")
{
    std::printf("%-44s %12.1f %-5s %s\n", name, value, unit, note);
    std::fflush(stdout);
}

} // namespace BenchStats
