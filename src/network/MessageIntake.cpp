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

void log(const QByteArray &message, const QJsonObject &object)
{
    // Not even formatted when the line would be filtered out
    // (QT_LOGGING_RULES="default.debug=false").
    if (!QLoggingCategory::defaultCategory()->isDebugEnabled())
        return;
    const char *const where = "void NetworkService::binaryMessageRecived(const QByteArray&)";
    // The same text Qt's stream gives for the object, at a fraction of its cost.
    const QString text = object.isEmpty() ? QString() : JsonDebugText::fromMessage(message);
    // Default category, no source location, whatever the build type.
    QMessageLogger logger(nullptr, 0, nullptr);
    if (text.isNull())
        logger.debug() << where << object;
    else
        logger.debug().noquote() << where << text;
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
    // The parser hands each message on to the logger: parser first.
    m_parser.waitForDone();
    m_logger.waitForDone();
}

MessageIntake::Ticket MessageIntake::take(const QByteArray &message)
{
    if (message.size() <= inlineLimit && m_queued.loadAcquire() == 0) {
        const QJsonObject object = parse(message);
        log(message, object);
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
    m_parser.start([this, message, parsed, logged, cost]() {
        const QJsonObject object = parse(message);
        parsed->addResult(object);
        parsed->finish();
        m_logger.start([this, bytes = message, line = object, logged, cost]() mutable {
            log(bytes, line);
            // Not kept alive past the effect that waits for this line.
            line = QJsonObject();
            bytes = QByteArray();
            logged->finish();
            m_budget.release(cost);
            m_queued.deref();
        });
    });
    return ticket;
}

QFuture<void> MessageIntake::logged()
{
    if (m_queued.loadAcquire() == 0)
        return QtFuture::makeReadyFuture();
    auto done = std::make_shared<QPromise<void>>();
    QFuture<void> future = done->future();
    done->start();
    // Through both threads, so that it comes after whatever is on its way.
    m_parser.start([this, done]() { m_logger.start([done]() { done->finish(); }); });
    return future;
}
