#include "MessageIntake.h"

#include "JsonDebugText.h"
#include "LinkLog.h"
#include "MessageCheck.h"

#include <QDebug>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPromise>

#include <memory>

namespace {

// What the parse tells beyond the object: written before the parse's result
// is handed over, read by whoever waited for that result.
struct Verdict
{
    QHostAddress peer;
    quint16 port = 0;
    QString problem; // the message is not a JSON object: why
};

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

// The warnings about a message, after its debug line.
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
// is not written so (the text would be long, or only Qt's parse tells the
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
    // What the stream would hand the message handler, without its copy; the
    // text is cut at the same length whichever way it was written.
    const QLatin1StringView start(lineStart);
    const QString text = line.isNull()
                             ? JsonDebugText::fromObject(object, start, JsonDebugText::maxTextBytes, total)
                             : JsonDebugText::capped(line, start.size());
    const QMessageLogContext context(nullptr, 0, nullptr, "default");
    qt_message_output(QtDebugMsg, context, text);
}

} // namespace

MessageIntake::MessageIntake()
{
    for (QThreadPool *pool : {&m_parser, &m_logger}) {
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
    }
    m_parser.setObjectName(QStringLiteral("MessageParser"));
    m_logger.setObjectName(QStringLiteral("MessageLogger"));
}

MessageIntake::~MessageIntake()
{
    // Each logger task waits for its message's parse: parser first.
    m_parser.waitForDone();
    m_logger.waitForDone();
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
        // The check is left to the logger: nothing more on this thread.
        if (checkEnabled()) {
            m_queued.ref();
            m_logger.start([this, verdict, object]() {
                warn(*verdict, object);
                m_queued.deref();
            });
        }
        return {QtFuture::makeReadyFuture(object), QtFuture::makeReadyFuture()};
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
    // Formatting starts at once, while the message is being parsed.
    m_logger.start([bytes = message, object = ticket.parsed, logged, done, verdict]() mutable {
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
        if (logEnabled())
            write(object.result(), text, total);
        logged->finish();
        // The effect may go ahead meanwhile; the warnings follow its line.
        if (check)
            warn(*verdict, object.result());
        object = QFuture<QJsonObject>();
        done();
    });
    const auto deliver = [message, parsed, done, verdict]() {
        parsed->addResult(parse(message, *verdict));
        parsed->finish();
        done();
    };
    if (idle && message.size() <= inlineParseLimit)
        deliver();
    else
        m_parser.start(deliver);
    return ticket;
}

QFuture<void> MessageIntake::logged()
{
    if (m_queued.loadAcquire() == 0)
        return QtFuture::makeReadyFuture();
    auto done = std::make_shared<QPromise<void>>();
    QFuture<void> future = done->future();
    done->start();
    // The logger writes in arrival order: this comes after every line before.
    m_logger.start([done]() { done->finish(); });
    return future;
}
