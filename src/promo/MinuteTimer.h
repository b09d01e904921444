#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

// Ticks once per wall-clock minute, shortly after the boundary. Each tick is
// scheduled afresh from the clock, so timer latency never accumulates.
class MinuteTimer : public QObject
{
    Q_OBJECT
public:
    explicit MinuteTimer(QObject *parent = nullptr);

    void start();
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    int remainingTime() const { return m_timer.remainingTime(); }

    // Milliseconds from `now` to the next tick: (60 - second) * 1000.
    static int delayToNextMinute(const QDateTime &now);

signals:
    void timeout();

private slots:
    void onMinuteTimeout();

private:
    void scheduleNextMinute();

    QTimer m_timer;
};
