// libFuzzer harness: arbitrary bytes through the real message dispatch of
// NetworkService into a real AppEnv and its models, waiting each time until
// every step (pool loads and their continuations included) has taken effect.
// An input holds one or more messages separated by "\n\0\n"; a message that
// is exactly "\0disconnect" stands for a terminal disconnecting.
#include "network/JsonDebugText.h"
#include "network/NetworkService.h"
#include "state/AppEnv.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QCoreApplication *g_app = nullptr;
AppEnv *g_env = nullptr;
NetworkService *g_service = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Format the line as the default handler would, then drop it.
    (void)qFormatLogMessage(type, context, text).toLocal8Bit();
}

void settle()
{
    for (;;) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (g_service->pendingMessageCount() == 0 &&
            QThreadPool::globalInstance()->activeThreadCount() == 0) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            if (g_service->pendingMessageCount() == 0)
                return;
        }
    }
}

// Qt's text kept to `maxBytes` of UTF-8 and ended as the log ends a cut line.
QString cutLikeTheLog(const QString &text, qsizetype maxBytes)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= maxBytes)
        return text;
    qsizetype at = maxBytes;
    while ((uchar(utf8.at(at)) & 0xc0) == 0x80)
        --at;
    return QString::fromUtf8(utf8.left(at)) + JsonDebugText::moreText(utf8.size() - at);
}

void differs(const char *what, const QString &ours, const QString &qts)
{
    std::fprintf(stderr, "%s differs from Qt's:\n  ours %s\n  Qt's %s\n", what, qPrintable(ours),
                 qPrintable(qts));
    std::abort();
}

// The log line is written by our own writers; whatever they write must be what
// Qt's debug stream prints for the parsed object, cut where a line is cut.
void checkLogText(const QByteArray &message)
{
    const QJsonObject object = QJsonDocument::fromJson(message).object();
    if (object.isEmpty())
        return;
    QString qts;
    QDebug(&qts).nospace() << object;
    // The cap is 64 KiB; a short one here cuts inputs of any size somewhere.
    const qsizetype maxBytes = 1 + message.size() % 251;
    const QString cut = JsonDebugText::fromObject(object, {}, maxBytes);
    if (cut != cutLikeTheLog(qts, maxBytes))
        differs("cut log text", cut, cutLikeTheLog(qts, maxBytes));
    // Counted from the bytes, duplicate keys as often as they came: never less than Qt's.
    if (JsonDebugText::textBytes(message) < qts.toUtf8().size())
        differs("log text length", QString::number(JsonDebugText::textBytes(message)),
                QString::number(qts.toUtf8().size()));
    const QString ours = JsonDebugText::fromMessage(message);
    if (ours.isNull())
        return;
    if (ours != qts) {
        std::fprintf(stderr, "log text differs from Qt's:\n  ours %s\n  Qt's %s\n", qPrintable(ours),
                     qPrintable(qts));
        std::abort();
    }
}

void deliver(const QByteArray &message)
{
    checkLogText(message);
    if (message == QByteArrayLiteral("\0disconnect"))
        QMetaObject::invokeMethod(g_service, "onTerminalDisconnected", Qt::DirectConnection);
    else
        QMetaObject::invokeMethod(g_service, "binaryMessageRecived", Qt::DirectConnection,
                                  Q_ARG(QByteArray, message));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    Q_UNUSED(argc);
    g_app = new QCoreApplication(qtArgc, qtArgv);
    qInstallMessageHandler(quietHandler);
    g_env = new AppEnv;
    g_service = new NetworkService(g_env); // never listens: messages come from the fuzzer
    // libFuzzer ends with exit(): the message check's thread must be done
    // before the static tables it reads are destroyed.
    std::atexit([] {
        delete g_service;
        g_service = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    static const QByteArray separator = QByteArrayLiteral("\n\0\n");
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = input.indexOf(separator, from);
        deliver(input.mid(from, at < 0 ? -1 : at - from));
        if (at < 0)
            break;
        from = at + separator.size();
    }
    settle();
    return 0;
}
