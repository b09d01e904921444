#pragma once

#include <QSemaphore>
#include <QThreadPool>

// Occupies every thread of the global pool until opened, so that a test can
// hold a background load at a chosen point without sleeping.
class PoolGate
{
public:
    PoolGate() : m_threads(QThreadPool::globalInstance()->maxThreadCount())
    {
        for (int i = 0; i < m_threads; ++i) {
            QThreadPool::globalInstance()->start([this]() {
                m_started.release();
                m_gate.acquire();
            });
        }
        m_started.acquire(m_threads);
    }
    ~PoolGate()
    {
        open();
        QThreadPool::globalInstance()->waitForDone();
    }
    PoolGate(const PoolGate &) = delete;
    PoolGate &operator=(const PoolGate &) = delete;

    void open()
    {
        if (!m_open)
            m_gate.release(m_threads);
        m_open = true;
    }

private:
    const int m_threads;
    bool m_open = false;
    QSemaphore m_started;
    QSemaphore m_gate;
};
