#include "MessageIntake.h"

#include "JsonDebugText.h"
#include "LinkLog.h"
#include "protocol/MessageCheck.h"

#include <QDebug>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPromise>
#include <QThread>

#include <memory>

namespace {

using Verdict = MessageIntake::Verdict;

bool checkEnabled()
{
    return lcLink().isWarningEnabled();
}

QJsonObject parse(const QByteArray &message, Verdict &verdict)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (!document.isObject() && checkEnabled())
        verdict.problem = MessageCheck::parseProblem(message, error);
    return document.object();
}

// The warnings about a message, after its debug line, on the checker.
void warn(const Verdict &verdict, const QJsonObject &object)
{
    const QStringList problems =
        verdict.problem.isEmpty() ? MessageCheck::checkObject(object) : QStringList{verdict.problem};
    if (problems.isEmpty())
        return;
    const QString peer =
        verdict.peer.isNull() ? QStringLiteral("?") : LinkLog::peerName(verdict.peer, verdict.port);
    for (const QString &problem : problems)
        qCWarning(lcLink).noquote() << peer + QLatin1String(": ") + problem;
}

// The function's name, then a space, as the stream puts it before the object.
constexpr char lineStart[] = "void NetworkService::binaryMessageRecived(const QByteArray&) ";

bool logEnabled()
{
    // Nothing is formatted when the line would be filtered out
    // (QT_LOGGING_RULES="default.debug=false").
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

// The whole line, written from the message's bytes; a null string where it
// is not written so (the text would pass the cap, or only Qt's parse tells the
// order of its keys).
QString lineText(const QByteArray &message)
{
    return logEnabled() ? JsonDebugText::fromMessage(message, QLatin1StringView(lineStart),
                                                     JsonDebugText::maxTextBytes)
                        : QString();
}

// `line` is lineText() of the message; only a message that parsed into a
// non-empty object may use it.
// `total`: textBytes() of the message, where the line may be cut.
void write(const QJsonObject &object, const QString &line, qint64 total = -1)
{
    // Default category, no source location, whatever the build type.
    if (object.isEmpty()) {
        QMessageLogger(nullptr, 0, nullptr).debug().noquote()
            << QLatin1StringView(lineStart, qsizetype(sizeof lineStart) - 2) << object;
        return;
    }
    // What the stream would hand the message handler, without its copy; a
    // line from the bytes is within the cap, one from the object cut there.
    const QString text = line.isNull() ? JsonDebugText::fromObject(object, QLatin1StringView(lineStart),
                                                                   JsonDebugText::maxTextBytes, total)
                                       : line;
    const QMessageLogContext context(nullptr, 0, nullptr, "default");
    qt_message_output(QtDebugMsg, context, text);
}

} // namespace

MessageIntake::MessageIntake()
{
    // Two threads: a message's parse and the formatting of its line (from its
    // bytes) run side by side.
    m_pool.setMaxThreadCount(2);
    m_pool.setExpiryTimeout(-1);
    m_pool.setObjectName(QStringLiteral("MessageIntake"));
    m_checker.setMaxThreadCount(1);
    m_checker.setExpiryTimeout(-1);
    m_checker.setObjectName(QStringLiteral("MessageChecker"));
    // Qt's lowest priority, not a nice value or an idle class of our own: the
    // checker takes the allocator's and the log's locks that the parse and
    // the line need, and a thread the scheduler starves for seconds on a busy
    // machine would hold them that long (where the platform maps this to a
    // weaker thread, Linux's ordinary scheduling does not).
    m_checker.setThreadPriority(QThread::LowestPriority);
}

MessageIntake::~MessageIntake()
{
    m_pool.waitForDone();
    // A check still waiting runs before the checker ends.
    m_checker.waitForDone();
}

MessageIntake::Ticket MessageIntake::take(const QByteArray &message, const QHostAddress &peer, quint16 port)
{
    auto verdict = std::make_shared<Verdict>();
    verdict->peer = peer;
    verdict->port = port;
    const bool idle = m_queued.loadAcquire() == 0;
    if (idle && message.size() <= inlineLogLimit) {
        const QJsonObject object = parse(message, *verdict);
        if (logEnabled())
            write(object, object.isEmpty() ? QString() : lineText(message));
        // The check is left to the checker: nothing more on this thread.
        if (checkEnabled())
            check(verdict, object, message.size());
        m_lastLogged = QtFuture::makeReadyFuture();
        return {QtFuture::makeReadyFuture(object), m_lastLogged};
    }

    const int cost = int(qBound(qsizetype(1), message.size(), qsizetype(budget)));
    m_budget.acquire(cost);
    auto parsed = std::make_shared<QPromise<QJsonObject>>();
    auto logged = std::make_shared<QPromise<void>>();
    Ticket ticket{parsed->future(), logged->future()};
    parsed->start();
    logged->start();
    m_queued.ref();
    // The message stays in hand (counted against the budget) until it is
    // both parsed and logged, whichever comes last.
    auto pending = std::make_shared<QAtomicInt>(2);
    const auto done = [this, pending, cost]() {
        if (!pending->deref()) {
            m_budget.release(cost);
            m_queued.deref();
        }
    };
    const auto deliver = [message, parsed, done, verdict]() {
        parsed->addResult(parse(message, *verdict));
        parsed->finish();
        done();
    };
    if (idle && message.size() <= inlineParseLimit)
        deliver();
    else
        m_pool.start(deliver);
    // Queued after its parse, and after the line before it: a task waits only
    // for tasks the pool started before it, so the two threads never wait
    // for each other.
    m_pool.start([this, bytes = message, object = ticket.parsed, previous = m_lastLogged, logged, done,
                  verdict, size = message.size()]() mutable {
        const QString text = lineText(bytes);
        // A long text is written from the parsed object, up to the cap; how
        // much is left out is counted from the bytes meanwhile.
        const qint64 total = text.isNull() && logEnabled() && bytes.size() > inlineLogLimit
                                 ? JsonDebugText::textBytes(bytes)
                                 : -1;
        // Neither is kept alive past the effect that waits for this line.
        bytes = QByteArray();
        const bool check = checkEnabled();
        if (logEnabled() || check)
            object.waitForFinished();
        // Lines are written in arrival order.
        previous.waitForFinished();
        previous = QFuture<void>();
        if (logEnabled())
            write(object.result(), text, total);
        logged->finish();
        // The warnings follow its line.
        if (check)
            this->check(verdict, object.result(), size);
        object = QFuture<QJsonObject>();
        done();
    });
    m_lastLogged = ticket.logged;
    return ticket;
}

void MessageIntake::check(std::shared_ptr<const Verdict> verdict, const QJsonObject &object, qsizetype size)
{
    // Checks waiting hold their messages: past a budget (one message is
    // always let in), later ones are dropped under a flood, and that is said
    // once the checker gets to it.
    const int cost = int(qMin(size, qsizetype(checkBudget)));
    const int before = m_checkBytes.fetchAndAddOrdered(cost);
    if (before > 0 && before + cost > checkBudget) {
        m_checkBytes.fetchAndSubOrdered(cost);
        m_unchecked.ref();
        return;
    }
    QMutexLocker lock(&m_waitingMutex);
    m_waiting.append({std::move(verdict), object, cost});
    // One run of the checker takes every check waiting when it gets there:
    // it is woken once per quiet spell, not once per message.
    const bool start = !std::exchange(m_checking, true);
    lock.unlock();
    if (start)
        m_checker.start([this]() { runChecks(); });
}

void MessageIntake::runChecks()
{
    QMutexLocker lock(&m_waitingMutex);
    while (!m_waiting.isEmpty()) {
        const QList<WaitingCheck> batch = std::exchange(m_waiting, {});
        lock.unlock();
        if (const int unchecked = m_unchecked.fetchAndStoreRelaxed(0))
            qCWarning(lcLink, "%d message(s) not checked: the display was too busy", unchecked);
        for (const WaitingCheck &waiting : batch) {
            warn(*waiting.verdict, waiting.object);
            m_checkBytes.fetchAndSubOrdered(waiting.cost);
        }
        lock.relock();
    }
    m_checking = false;
}

QFuture<void> MessageIntake::logged()
{
    return m_lastLogged;
}
