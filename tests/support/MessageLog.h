#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Captures Qt log messages while alive. Debug lines are kept here only (some
// tests log megabytes); everything else still reaches QtTest.
class MessageLog
{
public:
    struct Entry
    {
        QtMsgType type = QtDebugMsg;
        QByteArray category;
        bool hasFile = false;
        int line = 0;
        bool hasFunction = false;
        QString text;
    };

    MessageLog()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QList<Entry> entries(const QString &prefix = QString()) const
    {
        QMutexLocker lock(&m_mutex);
        QList<Entry> result;
        for (const Entry &entry : m_entries) {
            if (entry.text.startsWith(prefix))
                result.append(entry);
        }
        return result;
    }

    QStringList lines(const QString &prefix = QString()) const
    {
        QStringList result;
        for (const Entry &entry : entries(prefix))
            result.append(entry.text);
        return result;
    }

    int count(const QString &prefix = QString()) const { return int(entries(prefix).size()); }

    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_entries.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        MessageLog *log = s_current;
        if (!log)
            return;
        {
            QMutexLocker lock(&log->m_mutex);
            log->m_entries.append({type, QByteArray(context.category), context.file != nullptr, context.line,
                                   context.function != nullptr, text});
        }
        if (type != QtDebugMsg && log->m_previous)
            log->m_previous(type, context, text);
    }

    static inline MessageLog *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
};
