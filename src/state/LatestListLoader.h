#pragma once

#include <QFuture>
#include <QFutureInterface>
#include <QList>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <utility>

// Parses lists on the global pool and installs them on the context object's
// thread, newest first: a load that finishes after a newer one was installed
// (or after supersede()) is dropped, so the list always ends as the last
// request asked. Every returned future finishes once its load is installed
// or dropped, or is cancelled when the context goes away first.
template <typename Item> class LatestListLoader
{
public:
    LatestListLoader() = default;
    LatestListLoader(const LatestListLoader &) = delete;
    LatestListLoader &operator=(const LatestListLoader &) = delete;

    ~LatestListLoader()
    {
        // Pool tasks use the owner's mutex and post to the context; once they
        // have returned, nothing refers to either any more. Installs still
        // queued die with the context's pending events.
        for (auto &task : m_tasks)
            task.waitForFinished();
    }

    // The install waits for `gate` as well, when one is given.
    template <typename Parse, typename Install>
    QFuture<void> load(QObject *context, QMutex &mutex, Parse parse, Install install,
                       QFuture<void> gate = QFuture<void>())
    {
        const quint64 generation = ++m_started;
        auto done = std::make_shared<Completion>();
        QFuture<void> result = done->promise.future();

        // The task posts the install itself, before it returns: the owner's
        // destructor waits for the tasks, so nothing is posted to a context
        // that is being destroyed. The install is always queued, never run
        // inside this call or inside that destructor.
        QFuture<void> task = QtConcurrent::run(
            QThreadPool::globalInstance(), [this, context, &mutex, parse, install, generation, done, gate] {
                QList<Item> items;
                {
                    QMutexLocker lock(&mutex);
                    items = parse();
                }
                // Whatever the gate stands for runs on a thread of its own and
                // never waits for this pool.
                if (gate.isValid())
                    QFuture<void>(gate).waitForFinished();
                QMetaObject::invokeMethod(
                    context,
                    [this, install, generation, done, items = std::move(items)]() mutable {
                        if (generation > m_installed) {
                            m_installed = generation;
                            install(std::move(items));
                        }
                        done->finish();
                    },
                    Qt::QueuedConnection);
            });
        m_tasks.removeIf([](const QFuture<void> &f) { return f.isFinished(); });
        m_tasks.append(task);
        return result;
    }

    // A synchronous change made now outranks every load started before it.
    void supersede() { m_installed = m_started; }

private:
    // Finishes the returned future exactly once: after the install, or, when
    // the posted install is discarded unrun, as cancelled.
    struct Completion
    {
        Completion() { promise.reportStarted(); }
        ~Completion()
        {
            if (!promise.isFinished()) {
                promise.reportCanceled();
                promise.reportFinished();
            }
        }
        void finish() { promise.reportFinished(); }

        QFutureInterface<void> promise;
    };

    quint64 m_started = 0;
    quint64 m_installed = 0;
    QList<QFuture<void>> m_tasks;
};
