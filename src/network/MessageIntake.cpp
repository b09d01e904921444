#include "MessageIntake.h"

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

void log(const QJsonObject &object)
{
    // Formatting the object costs more than parsing it: not when the line
    // would be filtered out anyway (QT_LOGGING_RULES="default.debug=false").
    if (!QLoggingCategory::defaultCategory()->isDebugEnabled())
        return;
    // Default category, no source location, whatever the build type.
    QMessageLogger(nullptr, 0, nullptr).debug()
        << "void NetworkService::binaryMessageRecived(const QByteArray&)" << object;
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

QFuture<QJsonObject> MessageIntake::take(const QByteArray &message)
{
    if (message.size() <= inlineLimit && m_queued.loadAcquire() == 0) {
        // Nothing ahead of it: parse here; the line still goes to the logger,
        // which is idle, so it keeps its place.
        const QJsonObject object = parse(message);
        m_queued.ref();
        m_logger.start([this, object]() {
            log(object);
            m_queued.deref();
        });
        return QtFuture::makeReadyFuture(object);
    }

    const int cost = int(qBound(qsizetype(1), message.size(), qsizetype(budget)));
    m_budget.acquire(cost);
    auto parsed = std::make_shared<QPromise<QJsonObject>>();
    QFuture<QJsonObject> future = parsed->future();
    parsed->start();
    m_queued.ref();
    m_parser.start([this, message, parsed, cost]() {
        const QJsonObject object = parse(message);
        parsed->addResult(object);
        parsed->finish();
        m_logger.start([this, object, cost]() {
            log(object);
            m_budget.release(cost);
            m_queued.deref();
        });
    });
    return future;
}
