#pragma once

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>

// Shared by the two start-up programs: prints the monotonic time of the main
// window's first frame, then the resident memory after `idleMs` of idling,
// and quits.
namespace StartupProbe {

inline qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline long residentKb()
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    }
    std::fclose(f);
    return kb;
}

inline bool watch(QQmlApplicationEngine &engine, int idleMs)
{
    if (engine.rootObjects().isEmpty())
        return false;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    if (!window)
        return false;
    auto once = std::make_shared<std::atomic<bool>>(false);
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [once, idleMs] {
            if (once->exchange(true))
                return;
            std::printf("FIRST_FRAME %lld\n", qlonglong(monotonicNs()));
            std::fflush(stdout);
            // frameSwapped may come from the render thread (xcb, threaded
            // loop): the idle wait belongs on the GUI thread.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [idleMs] {
                    QTimer::singleShot(idleMs, [] {
                        std::printf("RSS %ld\n", residentKb());
                        std::fflush(stdout);
                        QCoreApplication::quit();
                    });
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    return true;
}

} // namespace StartupProbe
