#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QFile>

#include <malloc.h>

// Resident memory of this process, for the soak tests.
namespace ProcessMemory {

// Under a sanitizer the allocator keeps freed memory in quarantine, so
// resident memory says nothing about leaks (LeakSanitizer does that there).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool meaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool meaningful = false;
#else
inline constexpr bool meaningful = true;
#endif
#else
inline constexpr bool meaningful = true;
#endif

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

// What the allocator has handed out and not had back, in kB.
inline qint64 heapInUseKb()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
}

// VmRSS in kB as the display keeps it, without asking the allocator for anything.
inline qint64 residentAsIsKb()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
