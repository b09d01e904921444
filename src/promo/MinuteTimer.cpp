#include "MinuteTimer.h"

MinuteTimer::MinuteTimer(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &MinuteTimer::onMinuteTimeout);
}

void MinuteTimer::start()
{
    scheduleNextMinute();
}

void MinuteTimer::stop()
{
    m_timer.stop();
}

int MinuteTimer::delayToNextMinute(const QDateTime &now)
{
    const QDateTime next = now.addSecs(60 - now.time().second());
    return int(now.msecsTo(next));
}

void MinuteTimer::onMinuteTimeout()
{
    emit timeout();
    scheduleNextMinute();
}

void MinuteTimer::scheduleNextMinute()
{
    m_timer.start(delayToNextMinute(QDateTime::currentDateTime()));
}
