#include "MessageIntake.h"

#include "JsonDebugText.h"

#include <QDebug>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

namespace {

QJsonObject parse(const QByteArray &message)
{
    return QJsonDocument::fromJson(message).object();
}

const char *const where = "void NetworkService::binaryMessageRecived(const QByteArray&)";

bool logEnabled()
{
    // Nothing is formatted when the line would be filtered out
    // (QT_LOGGING_RULES="default.debug=false").
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

// `text` is the object's debug text written from the message's bytes, or a
// null string; only a message that parsed into a non-empty object may use it.
void write(const QJsonObject &object, const QString &text)
{
    // Default category, no source location, whatever the build type.
    QMessageLogger logger(nullptr, 0, nullptr);
    if (text.isNull() || object.isEmpty())
        logger.debug() << where << object;
    else
        logger.debug().noquote() << where << text;
}

QString debugText(const QByteArray &message)
{
    return logEnabled() ? JsonDebugText::fromMessage(message) : QString();
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
            write(object, object.isEmpty() ? QString() : debugText(message));
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
    // Formatting starts at once, while the message is being parsed.
    m_logger.start([this, bytes = message, object = ticket.parsed, logged, cost]() mutable {
        if (logEnabled()) {
            const QString text = debugText(bytes);
            bytes = QByteArray();
            object.waitForFinished();
            write(object.result(), text);
        }
        // Not kept alive past the effect that waits for this line.
        bytes = QByteArray();
        object = QFuture<QJsonObject>();
        logged->finish();
        m_budget.release(cost);
        m_queued.deref();
    });
    const auto deliver = [message, parsed]() {
        parsed->addResult(parse(message));
        parsed->finish();
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
