#pragma once

#include <QAtomicInt>
#include <QByteArray>
#include <QFuture>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThreadPool>

#include <memory>

// Parses terminal messages and writes their debug line, in arrival order.
// The line is written from the message's bytes, so its formatting runs
// alongside the parse (one pool of two threads does both) instead of after
// it; it is written once the parse tells that the message is an object. A message's object is
// handed over as soon as it is parsed, so that its effect can be prepared;
// its line is reported written separately, and the effect waits for it.
// The check of what an integrator may have got wrong runs on a thread of its
// own at Qt's lowest priority, after the message's line: off the caller's
// thread and off the effect's path.
// Messages that find the intake idle are parsed on the caller's thread (the
// hop would cost more than a small parse); the smallest are logged there too.
// A flood that outruns the threads makes take() wait once the messages in
// hand pass a byte budget, so the caller stops reading its sockets and TCP
// holds back the peer, instead of this queue growing without end.
class MessageIntake
{
public:
    // Up to this size a message is logged on the caller's thread.
    static constexpr qsizetype inlineLogLimit = 8 * 1024;
    // Up to this size a message may be parsed on the caller's thread.
    static constexpr qsizetype inlineParseLimit = 64 * 1024;
    // Bytes of messages that may wait to be parsed and logged.
    static constexpr int budget = 64 * 1024 * 1024;

    MessageIntake();
    ~MessageIntake();
    MessageIntake(const MessageIntake &) = delete;
    MessageIntake &operator=(const MessageIntake &) = delete;

    struct Ticket
    {
        QFuture<QJsonObject> parsed;
        QFuture<void> logged;
    };

    // `peer` and `port` name the sender in the warnings about the message
    // (an integrator's mistakes, see MessageCheck), written after its line.
    Ticket take(const QByteArray &message, const QHostAddress &peer = {}, quint16 port = 0);
    // Finishes once the line of every message taken so far is written.
    QFuture<void> logged();
    // Bytes of messages whose check still waits (memory measurements wait
    // for none).
    int pendingCheckBytes() const { return m_checkBytes.loadAcquire(); }

    // What the parse tells beyond the object: written before the parse's
    // result is handed over, read by whoever waited for that result.
    struct Verdict
    {
        QHostAddress peer;
        quint16 port = 0;
        QString problem; // the message is not a JSON object: why
    };

private:
    // Bytes of messages whose check may wait at once. A parsed message takes
    // about ten times its text, and on a busy machine the checker may not
    // run for minutes: this bounds what it holds to some 20 MB.
    static constexpr int checkBudget = 2 * 1024 * 1024;

    struct WaitingCheck
    {
        std::shared_ptr<const Verdict> verdict;
        QJsonObject object;
        int cost = 0;
    };

    void check(std::shared_ptr<const Verdict> verdict, const QJsonObject &object, qsizetype size);
    void runChecks();

    QThreadPool m_pool; // parses and lines
    QThreadPool m_checker;
    QFuture<void> m_lastLogged = QtFuture::makeReadyFuture(); // the line of the last message taken
    QAtomicInt m_queued;
    QAtomicInt m_checkBytes;
    QMutex m_waitingMutex;
    QList<WaitingCheck> m_waiting; // in arrival order, not yet checked
    bool m_checking = false;       // a run of the checker is due; under the mutex
    QAtomicInt m_unchecked;
    QSemaphore m_budget{budget};
};
