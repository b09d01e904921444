// A month of a busy till, replayed into the real display (core and window,
// offscreen) as fast as it takes the messages: each is sent once the one
// before was applied. Sales whose receipts grow line by line, loyalty
// clients, bonuses, card and QR payments; the catalogue (logo and promo
// pictures) re-sent every hour and after every reconnect; a reconnect every
// few hundred messages. After each day it samples resident memory and open
// descriptors; at the end it checks what the last screen shows.
//   bench_month [DAYS [MESSAGES_PER_DAY [SCREENSHOT.png]]]   (30 days of 6 700 by default)
// Exit status 1 when the last screen is wrong, 2 when the display stalled.
#include "core/AllocatorTuning.h"
#include "core/AppCore.h"
#include "core/AppStartup.h"
#include "core/CachingNetworkAccessManagerFactory.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

#include <atomic>
#include <cstdio>

namespace {

template <typename Predicate> bool waitFor(Predicate predicate, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

std::atomic<int> g_messageLines{0};
QMutex g_warningsMutex;
QStringList g_warnings; // not provoked by the replay
int g_linkComings = 0;  // connect and disconnect lines, which the replay provokes

void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg) {
        if (text.startsWith(QLatin1String("void NetworkService::binaryMessageRecived")))
            ++g_messageLines;
        return;
    }
    QMutexLocker lock(&g_warningsMutex);
    if (text.endsWith(QLatin1String(": connected")) || text.contains(QLatin1String(": disconnected, ")))
        ++g_linkComings;
    else if (!text.contains(QLatin1String("any host on the network can drive the display")))
        g_warnings.append(text.left(300));
}

qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

int openDescriptors()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

QByteArray envelope(const char *path, const QJsonObject &content)
{
    return QJsonDocument(QJsonObject{{"path", path}, {"content", content}}).toJson(QJsonDocument::Compact);
}

const char *const menu[] = {
    "Капучино 0,3 л",        "Латте 0,4 л", "Американо 0,3 л",     "Раф ванильный 0,4 л",
    "Чай облепиховый 0,5 л", "Круассан",    "Сырники со сметаной", "Чизкейк",
    "Флэт уайт 0,2 л",       "Какао 0,3 л", "Сэндвич с курицей",   "Морс клюквенный 0,5 л"};
const char *const extras[] = {"Сироп ваниль", "Сироп карамель", "Овсяное молоко", "Двойной эспрессо"};

class Replay
{
public:
    Replay(AppCore &core, const QString &pictures) : m_core(core), m_pictures(pictures) {}

    bool connectTerminal()
    {
        m_socket = std::make_unique<QWebSocket>();
        m_socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_core.networkService()->serverPort())));
        if (!waitFor([&] { return m_socket->state() == QAbstractSocket::ConnectedState; }, 10000))
            return false;
        return send(logo()) && send(catalogue());
    }
    bool reconnect()
    {
        m_socket->close();
        if (!waitFor([&] { return m_core.networkService()->openSocketCount() == 0 && idle(); }, 10000))
            return false;
        return connectTerminal();
    }

    // Sends one message and waits until the display has applied it.
    bool send(const QByteArray &message)
    {
        const int line = ++m_sent;
        m_socket->sendBinaryMessage(message);
        return waitFor([&] { return g_messageLines >= line && idle(); }, 30000);
    }
    int sent() const { return m_sent; }

    QByteArray logo() const { return envelope("app_logo", {{"logo", pictureUrl(3)}}); }
    QByteArray catalogue() const
    {
        QJsonArray all{QJsonArray{"00:00", "23:59"}};
        QJsonObject week;
        for (const char *day : {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"})
            week.insert(QLatin1String(day), all);
        QJsonArray entries;
        for (int i = 0; i < 3; ++i) {
            entries.append(QJsonObject{{"uuid", QStringLiteral("promo-%1").arg(i)},
                                       {"name", QStringLiteral("Акция %1").arg(i)},
                                       {"is_active", true},
                                       {"is_order_screen", true},
                                       {"image", pictureUrl(i)},
                                       {"start_at", "2024-01-01T00:00:00+03:00"},
                                       {"schedule", week},
                                       {"timeout", 5}});
        }
        return envelope("promo_image", {{"promo_images", entries}});
    }

    // One sale: the receipt grows line by line, maybe with a loyalty client
    // and bonuses, then a card or QR payment, and back to the welcome screen.
    // Returns false when the display stalled.
    bool sale(int number)
    {
        QRandomGenerator &random = m_random;
        const QString receipt = QStringLiteral("receipt-%1").arg(number);
        const bool loyal = random.bounded(10) < 4;
        const QJsonObject guest =
            loyal ? QJsonObject{{"uuid", QStringLiteral("guest-%1").arg(random.bounded(500))},
                                {"client_name", "Анна"},
                                {"client_lastname", "Смирнова"},
                                {"discount_name", "Друг кофейни"},
                                {"discount_percent", 500},
                                {"bonus_count", random.bounded(100000)}}
                  : QJsonObject();
        QJsonArray lines;
        int total = 0;
        const int count = 1 + random.bounded(12);
        for (int i = 0; i < count; ++i) {
            const int price = 9900 + 1000 * random.bounded(20);
            const int quantity = 1 + random.bounded(3);
            QJsonArray changes;
            if (random.bounded(4) == 0)
                changes.append(QJsonObject{{"nomenclature", extras[random.bounded(4)]}, {"quantity", 1}});
            const int discount = loyal ? price / 20 : 0;
            total += (price - discount) * quantity;
            lines.append(QJsonObject{{"uuid", QStringLiteral("%1-%2").arg(receipt).arg(i)},
                                     {"menu_name", menu[random.bounded(12)]},
                                     {"quantity", quantity},
                                     {"menu_price", price},
                                     {"discount_amount", discount},
                                     {"discount_receipt", 0},
                                     {"total", (price - discount) * quantity},
                                     {"receipt_item_recipe_changes", changes},
                                     {"receipt_uuid", receipt}});
            if (!send(order(lines, total, guest)))
                return false;
        }
        if (loyal && random.bounded(2) == 0 &&
            !send(envelope("bonus", {{"count", random.bounded(5000)}, {"is_replenisment", false}})))
            return false;
        if (loyal && !send(envelope("bonus", {{"count", total / 100}, {"is_replenisment", true}})))
            return false;
        QJsonObject payment{{"amount", total}, {"receipt_uuid", receipt}};
        if (random.bounded(3) == 0)
            payment.insert("qrcode_table",
                           QStringLiteral("https://qr.example/BS1A%1?type=02&bank=100000000111&sum=%2"
                                          "&cur=RUB&crc=%3")
                               .arg(number, 12, 10, QLatin1Char('0'))
                               .arg(total)
                               .arg(random.bounded(0x10000), 4, 16, QLatin1Char('0')));
        return send(envelope("payment", payment)) && send(envelope("payment", {{"is_finished", true}})) &&
               send(envelope("order", {}));
    }

    static QByteArray order(const QJsonArray &lines, int total, const QJsonObject &guest)
    {
        return envelope("order", {{"receipt_items", lines},
                                  {"order", QJsonObject{{"to_payment", total}, {"total_amount", total}}},
                                  {"guest", guest}});
    }

private:
    bool idle() const { return m_core.networkService()->pendingMessageCount() == 0; }
    QString pictureUrl(int i) const
    {
        return QUrl::fromLocalFile(m_pictures + QStringLiteral("/picture-%1.png").arg(i)).toString();
    }

    AppCore &m_core;
    QString m_pictures;
    std::unique_ptr<QWebSocket> m_socket;
    QRandomGenerator m_random{20260101};
    int m_sent = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    AllocatorTuning::apply();
    // The display reads the command line too: it gets only the program's name.
    int appArgc = 1;
    QGuiApplication app(appArgc, argv);
    const int days = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    const int perDay = argc > 2 ? std::max(100, atoi(argv[2])) : 6700;
    const QString screenshot = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const int perHour = perDay / 14; // a shop open 14 hours
    const int reconnectEvery = 300;

    qInstallMessageHandler(handler);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir pictures;
    const QColor colours[] = {QColor("#c0392b"), QColor("#27ae60"), QColor("#2980b9"), QColor("#f39c12")};
    for (int i = 0; i < 4; ++i) {
        QImage picture(i == 3 ? 256 : 1280, i == 3 ? 256 : 800, QImage::Format_RGB32);
        picture.fill(colours[i]);
        picture.save(pictures.filePath(QStringLiteral("picture-%1.png").arg(i)));
    }

    AppStartup::configureApplication(app);
    NetworkService::setPortForTesting(0);
    AppCore core;
    CachingNetworkAccessManagerFactory factory;
    QQmlApplicationEngine engine;
    AppStartup::prepareEngine(engine, core, &factory);
    AppStartup::loadMain(engine);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window || !waitFor([&] { return window->isExposed(); }, 10000)) {
        std::fprintf(stderr, "month: no window\n");
        return 2;
    }

    Replay replay(core, pictures.path());
    if (!replay.connectTerminal())
        return 2;
    std::printf("# %d days of %d messages, the catalogue every %d, a reconnect every %d or so\n", days,
                perDay, perHour, reconnectEvery);
    // "trimmed": after the allocator returned its free pages, which tells
    // growth from what the allocator merely keeps.
    std::printf("%4s %9s %8s %8s %8s %5s %8s\n", "day", "messages", "RSS MB", "trimmed", "HWM MB", "fds",
                "seconds");
    QElapsedTimer clock;
    clock.start();
    qint64 firstDayKb = 0, firstDayTrimmedKb = 0;
    int firstDayFds = 0;
    int nextCatalogue = perHour, nextReconnect = reconnectEvery, number = 0;
    for (int day = 1; day <= days; ++day) {
        while (replay.sent() < day * perDay) {
            if (!replay.sale(++number)) {
                std::fprintf(stderr, "month: the display stalled at message %d\n", replay.sent());
                return 2;
            }
            if (replay.sent() >= nextReconnect) {
                nextReconnect += reconnectEvery;
                if (!replay.reconnect())
                    return 2;
            }
            if (replay.sent() >= nextCatalogue) {
                nextCatalogue += perHour;
                if (!replay.send(replay.logo()) || !replay.send(replay.catalogue()))
                    return 2;
            }
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const qint64 rss = statusKb("VmRSS:");
        AllocatorTuning::returnFreedMemory();
        const qint64 trimmed = statusKb("VmRSS:");
        const int fds = openDescriptors();
        if (day == 1) {
            firstDayKb = rss;
            firstDayTrimmedKb = trimmed;
            firstDayFds = fds;
        }
        std::printf("%4d %9d %8.1f %8.1f %8.1f %5d %8.0f\n", day, replay.sent(), rss / 1024.0,
                    trimmed / 1024.0, statusKb("VmHWM:") / 1024.0, fds, clock.elapsed() / 1000.0);
        std::fflush(stdout);
    }

    // The last screen: a known receipt, its total and its client.
    QJsonArray lines;
    for (int i = 0; i < 3; ++i)
        lines.append(QJsonObject{{"uuid", QStringLiteral("last-%1").arg(i)},
                                 {"menu_name", menu[i]},
                                 {"quantity", 1},
                                 {"menu_price", 10000},
                                 {"total", 10000},
                                 {"receipt_uuid", "last"}});
    const bool sent = replay.send(Replay::order(
        lines, 30000, {{"uuid", "guest-last"}, {"client_name", "Ольга"}, {"bonus_count", 700}}));
    waitFor([] { return false; }, 500); // drawn
    QStringList wrong;
    const auto text = [&](const char *name) {
        const QObject *item = window->findChild<QObject *>(QLatin1String(name));
        return item ? item->property("text").toString() : QStringLiteral("(missing)");
    };
    if (!sent)
        wrong << "the last order was not applied";
    if (core.appEnv()->receiptItemModel()->rowCount() != 3)
        wrong << QStringLiteral("%1 lines").arg(core.appEnv()->receiptItemModel()->rowCount());
    if (text("toPayLabel") != QStringLiteral("300,00"))
        wrong << "to pay: " + text("toPayLabel");
    if (!text("clientNameLabel").contains(QStringLiteral("Ольга")))
        wrong << "client: " + text("clientNameLabel");
    if (!screenshot.isEmpty())
        window->grabWindow().save(screenshot);

    const qint64 lastKb = statusKb("VmRSS:");
    AllocatorTuning::returnFreedMemory();
    const qint64 lastTrimmedKb = statusKb("VmRSS:");
    std::printf(
        "# after the month: RSS %.1f MB (day 1: %.1f MB, %+.1f MB), trimmed %.1f MB (day 1: %.1f MB, %+.1f "
        "MB), descriptors %d (day 1: %d)\n",
        lastKb / 1024.0, firstDayKb / 1024.0, (lastKb - firstDayKb) / 1024.0, lastTrimmedKb / 1024.0,
        firstDayTrimmedKb / 1024.0, (lastTrimmedKb - firstDayTrimmedKb) / 1024.0, openDescriptors(),
        firstDayFds);
    QMutexLocker lock(&g_warningsMutex);
    std::printf(
        "# %d messages in %.0f s (%.0f per second); %d connect/disconnect lines (provoked), %lld other "
        "warning(s)\n",
        replay.sent(), clock.elapsed() / 1000.0, replay.sent() * 1000.0 / clock.elapsed(), g_linkComings,
        qint64(g_warnings.size()));
    for (const QString &warning : std::as_const(g_warnings).mid(0, 10))
        std::printf("#   %s\n", qPrintable(warning));
    std::printf("# last screen: %s\n", wrong.isEmpty() ? "as sent" : qPrintable(wrong.join("; ")));
    return wrong.isEmpty() ? 0 : 1;
}
