#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QFile>

#include <malloc.h>

// Resident memory of this process, for the soak tests.
namespace ProcessMemory {

// VmRSS in kB, after deferred deletions ran and the allocator returned what
// it holds free (so that what remains is what the program keeps).
inline qint64 statusKb(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

inline qint64 residentKb()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    malloc_trim(0);
    return statusKb("VmRSS:");
}

// The peak resident memory since the last resetPeak() (VmHWM).
inline qint64 peakKb()
{
    return statusKb("VmHWM:");
}

inline void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

} // namespace ProcessMemory
