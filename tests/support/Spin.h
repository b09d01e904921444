#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QTimer>

// Runs the event loop until `predicate` holds or `ms` pass. Unlike
// QTest::qWaitFor it does not sleep between checks, which matters for
// loops of thousands of round trips.
template <typename Predicate> bool spinUntil(Predicate predicate, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    QTimer wake; // bounds each blocking wait
    wake.start(20);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}
