#pragma once

#include <QAtomicInt>
#include <QByteArray>
#include <QFuture>
#include <QJsonObject>
#include <QThreadPool>

// Parses terminal messages and writes their debug line off the GUI thread,
// one thread for all, so that lines appear in arrival order. A message's
// object is handed over as soon as it is parsed; its debug line follows
// (formatting it costs more than the parse, and nothing waits for it).
// Small messages that find the thread idle are handled at once on the
// caller's thread: the hop would cost more than the parse.
class MessageIntake
{
public:
    // Up to this size a message may be parsed on the caller's thread.
    static constexpr qsizetype inlineLimit = 8 * 1024;

    MessageIntake();
    ~MessageIntake();
    MessageIntake(const MessageIntake &) = delete;
    MessageIntake &operator=(const MessageIntake &) = delete;

    QFuture<QJsonObject> take(const QByteArray &message);

private:
    QThreadPool m_thread;
    QAtomicInt m_queued;
};
