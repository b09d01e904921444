// The debug line of a message, written as the intake writes it: from the
// message's bytes, or, past the cap, from the parsed object with the rest
// counted from the bytes. Floor: Qt's debug stream of the parsed object,
// the line the display would write without its own writer.
#include "BenchMessages.h"
#include "BenchStats.h"
#include "network/JsonDebugText.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr char lineStart[] = "void NetworkService::binaryMessageRecived(const QByteArray&) ";

QString ourLine(const QByteArray &message, const QJsonObject &object)
{
    const QLatin1StringView start(lineStart);
    const QString line = JsonDebugText::fromMessage(message, start, JsonDebugText::maxTextBytes);
    if (!line.isNull())
        return line;
    return JsonDebugText::fromObject(object, start, JsonDebugText::maxTextBytes,
                                     JsonDebugText::textBytes(message));
}

QString qtLine(const QJsonObject &object)
{
    QString text;
    QDebug(&text).noquote() << lineStart << object;
    return text;
}

// The same order with its keys as a till writes them: not in Qt's order.
QByteArray tillOrder(const QByteArray &message)
{
    const QJsonObject content = QJsonDocument::fromJson(message).object().value("content").toObject();
    const auto json = [&](const char *key) {
        const QJsonValue value = content.value(QLatin1StringView(key));
        return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                               : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    };
    return R"({"path":"order","content":{"receipt_items":)" + json("receipt_items") + R"(,"order":)" +
           json("order") + R"(,"guest":)" + json("guest") + "}}";
}

// Microseconds per line, one sample per batch, ours and Qt's alternating.
void measure(const char *name, const QByteArray &message, int rounds)
{
    const QJsonObject object = QJsonDocument::fromJson(message).object();
    const int batch = qMax(1, 2'000'000 / int(message.size()));
    QList<double> ours;
    QList<double> qts;
    qsizetype sink = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < batch; ++i)
            sink += ourLine(message, object).size();
        ours.append(double(timer.nsecsElapsed()) / 1000 / batch);
        timer.start();
        for (int i = 0; i < batch; ++i)
            sink += qtLine(object).size();
        qts.append(double(timer.nsecsElapsed()) / 1000 / batch);
    }
    char label[96];
    std::snprintf(label, sizeof label, "debug line, %s (%lld B)", name, qlonglong(message.size()));
    BenchStats::report(label, BenchStats::median(ours), BenchStats::median(qts), "us", sink > 0 ? "" : "?");
}

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = argc > 1 ? qMax(3, atoi(argv[1])) : 21;
    std::printf("# the intake's debug line against Qt's debug stream, median of %d rounds\n", rounds);
    for (const int lines : {10, 200, 2000}) {
        const QByteArray message = BenchMessages::order(lines, 1);
        const QByteArray name = QByteArray::number(lines) + " lines";
        measure(name.constData(), message, rounds);
        measure((name + ", till order").constData(), tillOrder(message), rounds);
    }
    return 0;
}
