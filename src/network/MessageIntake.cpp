#include "MessageIntake.h"

#include <QDebug>
#include <QJsonDocument>
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
    // Default category, no source location, whatever the build type.
    QMessageLogger(nullptr, 0, nullptr).debug()
        << "void NetworkService::binaryMessageRecived(const QByteArray&)" << object;
}

} // namespace

MessageIntake::MessageIntake()
{
    m_thread.setMaxThreadCount(1);
    m_thread.setExpiryTimeout(-1);
    m_thread.setObjectName(QStringLiteral("MessageIntake"));
}

MessageIntake::~MessageIntake()
{
    m_thread.waitForDone();
}

QFuture<QJsonObject> MessageIntake::take(const QByteArray &message)
{
    if (message.size() <= inlineLimit && m_queued.loadAcquire() == 0) {
        const QJsonObject object = parse(message);
        log(object);
        return QtFuture::makeReadyFuture(object);
    }

    auto parsed = std::make_shared<QPromise<QJsonObject>>();
    QFuture<QJsonObject> future = parsed->future();
    parsed->start();
    m_queued.ref();
    m_thread.start([this, message, parsed]() {
        const QJsonObject object = parse(message);
        parsed->addResult(object);
        parsed->finish();
        log(object);
        m_queued.deref();
    });
    return future;
}
