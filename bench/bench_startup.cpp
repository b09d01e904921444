// Start-up to first frame and idle resident memory of the display against a
// minimal Qt Quick window (the floor). Each program is started `runs` times,
// alternating; the time runs from just before the process is spawned to the
// first frameSwapped of its main window (both on CLOCK_MONOTONIC), and the
// memory is VmRSS after 3 s of idling.
//   bench_startup APP FLOOR [platform] [runs]
#include "BenchStats.h"
#include "StartupProbe.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

namespace {

struct Sample
{
    double ms = -1;
    double rssMb = -1;
};

Sample runOnce(const QString &program, const QString &platform)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QStringList args;
    if (!platform.isEmpty())
        args << QStringLiteral("-platform") << platform;
    const qint64 start = StartupProbe::monotonicNs();
    process.start(program, args);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    Sample sample;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("FIRST_FRAME "))
            sample.ms = (line.mid(12).toLongLong() - start) / 1e6;
        else if (line.startsWith("RSS "))
            sample.rssMb = line.mid(4).toLong() / 1024.0;
    }
    return sample;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup APP FLOOR [platform] [runs]\n");
        return 2;
    }
    const QString appProgram = QString::fromLocal8Bit(argv[1]);
    const QString floorProgram = QString::fromLocal8Bit(argv[2]);
    const QString platform = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("offscreen");
    const int runs = argc > 4 ? qMax(1, atoi(argv[4])) : 10;

    runOnce(floorProgram, platform); // warm the file cache for both
    runOnce(appProgram, platform);
    QList<double> appMs, floorMs, appRss, floorRss;
    for (int i = 0; i < runs; ++i) {
        const Sample f = runOnce(floorProgram, platform);
        const Sample a = runOnce(appProgram, platform);
        if (f.ms < 0 || a.ms < 0 || f.rssMb < 0 || a.rssMb < 0) {
            std::printf("ERROR: a program did not report its first frame (platform %s)\n",
                        qPrintable(platform));
            return 1;
        }
        floorMs << f.ms;
        appMs << a.ms;
        floorRss << f.rssMb;
        appRss << a.rssMb;
    }
    std::printf("# start-up, platform %s, %d runs each, medians\n", qPrintable(platform), runs);
    const double floorRssMedian = BenchStats::median(floorRss);
    BenchStats::report("start to first frame", BenchStats::median(appMs), BenchStats::median(floorMs), "ms",
                       "target <= 1.3");
    BenchStats::report("idle resident memory", BenchStats::median(appRss), floorRssMedian, "MB", "");
    BenchStats::line("  idle memory above the floor", BenchStats::median(appRss) - floorRssMedian, "MB",
                     "target <= 30 MB");
    return 0;
}
