#include "MessageIntake.h"

#include "JsonDebugText.h"

#include <QDebug>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPromise>

#include <memory>

namespace {

QJsonObject parse(const QByteArray &message)
{
    return QJsonDocument::fromJson(message).object();
}

// The function's name, then a space, as the stream puts it before the object.
constexpr char lineStart[] = "void NetworkService::binaryMessageRecived(const QByteArray&) ";

bool logEnabled()
{
    // Nothing is formatted when the line would be filtered out
    // (QT_LOGGING_RULES="default.debug=false").
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

// The whole line, written from the message's bytes; a null string where
// only Qt can write it.
QString lineText(const QByteArray &message)
{
    return logEnabled() ? JsonDebugText::fromMessage(message, QLatin1StringView(lineStart)) : QString();
}

// `line` is lineText() of the message; only a message that parsed into a
// non-empty object may use it.
void write(const QJsonObject &object, const QString &line)
{
    // Default category, no source location, whatever the build type.
    if (line.isNull() || object.isEmpty()) {
        QMessageLogger(nullptr, 0, nullptr).debug().noquote()
            << QLatin1StringView(lineStart, qsizetype(sizeof lineStart) - 2) << object;
        return;
    }
    // What the stream above would hand the message handler, without its copy.
    const QMessageLogContext context(nullptr, 0, nullptr, "default");
    qt_message_output(QtDebugMsg, context, line);
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

MessageIntake::Ticket MessageIntake::take(const QByteArray &message)
{
    const bool idle = m_queued.loadAcquire() == 0;
    if (idle && message.size() <= inlineLogLimit) {
        const QJsonObject object = parse(message);
        if (logEnabled())
            write(object, object.isEmpty() ? QString() : lineText(message));
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
    m_logger.start([bytes = message, object = ticket.parsed, logged, done]() mutable {
        const QString text = lineText(bytes);
        // Neither is kept alive past the effect that waits for this line.
        bytes = QByteArray();
        if (logEnabled()) {
            object.waitForFinished();
            write(object.result(), text);
        }
        object = QFuture<QJsonObject>();
        logged->finish();
        done();
    });
    const auto deliver = [message, parsed, done]() {
        parsed->addResult(parse(message));
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
