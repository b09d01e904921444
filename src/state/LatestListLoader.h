#pragma once

#include <QFuture>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

// Parses lists on the global pool and installs them on the context object's
// thread, newest first: a load that finishes after a newer one was installed
// (or after supersede()) is dropped, so the list always ends as the last
// request asked. Every returned future finishes once its load is installed
// or dropped.
template <typename Item>
class LatestListLoader
{
public:
    LatestListLoader() = default;
    LatestListLoader(const LatestListLoader &) = delete;
    LatestListLoader &operator=(const LatestListLoader &) = delete;

    ~LatestListLoader()
    {
        // Pool tasks hold a reference to the owner's mutex; let them end first.
        for (auto &future : m_parsing)
            future.waitForFinished();
    }

    template <typename Parse, typename Install>
    QFuture<void> load(QObject *context, QMutex &mutex, Parse parse, Install install)
    {
        const quint64 generation = ++m_started;
        QFuture<QList<Item>> parsed = QtConcurrent::run(QThreadPool::globalInstance(), [&mutex, parse]() {
            QMutexLocker lock(&mutex);
            return parse();
        });
        m_parsing.removeIf([](const QFuture<QList<Item>> &f) { return f.isFinished(); });
        m_parsing.append(parsed);
        return parsed.then(context, [this, generation, install](QList<Item> items) {
            if (generation <= m_installed)
                return;
            m_installed = generation;
            install(std::move(items));
        });
    }

    // A synchronous change made now outranks every load started before it.
    void supersede() { m_installed = m_started; }

private:
    quint64 m_started = 0;
    quint64 m_installed = 0;
    QList<QFuture<QList<Item>>> m_parsing;
};
