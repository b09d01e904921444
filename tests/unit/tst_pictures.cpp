// What the screen shows of a picture, and what the log says, for each way a
// picture's source can fail: small HTTP servers on 127.0.0.1, local files,
// and the disk cache when the server has gone.
#include "LocalHttpServer.h"
#include "core/AppCore.h"
#include "core/CachingNetworkAccessManagerFactory.h"
#include "pictures/PictureGuard.h"
#include "pictures/PicturePreloader.h"
#include "pictures/QuotedUrlCut.h"
#include "state/AppEnv.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QJsonObject>
#include <QLocale>
#include <QMutex>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <QtConcurrent/QtConcurrentRun>

#include <memory>

#include <cerrno>
#include <sys/stat.h>

namespace {

QMutex g_mutex;
QStringList g_warnings;
QtMessageHandler g_previous = nullptr;

void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg) {
        QMutexLocker lock(&g_mutex);
        g_warnings.append(QString::fromLatin1(context.category) + QLatin1String(": ") + text);
    }
    g_previous(type, context, text);
}

QStringList peekWarnings()
{
    QMutexLocker lock(&g_mutex);
    return g_warnings;
}

QStringList takeWarnings()
{
    QMutexLocker lock(&g_mutex);
    return std::exchange(g_warnings, {});
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

// Answers every GET with one status and body, or, stalling, never answers.
class PictureServer : public LocalHttpServer
{
public:
    int status = 200;
    QByteArray body;
    bool stall = false;
    bool trickle = false; // 1100 bytes every 400 ms of a body that never ends
    int requests = 0;

    QString url(const QString &path = QStringLiteral("/picture.png")) const
    {
        return LocalHttpServer::url(path);
    }

protected:
    void answer(QTcpSocket *socket, const QByteArray &request) override
    {
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        if (stall)
            return;
        if (trickle) {
            socket->write("HTTP/1.1 200 X\r\nContent-Type: image/png\r\nContent-Length: 10000000\r\n\r\n");
            auto *drip = new QTimer(socket);
            QObject::connect(drip, &QTimer::timeout, socket,
                             [socket] { socket->write(QByteArray(1100, 'x')); });
            drip->start(400);
            return;
        }
        socket->write(QByteArrayLiteral("HTTP/1.1 ") + QByteArray::number(status) +
                      " X\r\nContent-Type: image/png\r\n"
                      // Changed five seconds ago: the cache holds it fresh for half a second.
                      "Last-Modified: " +
                      QLocale::c()
                          .toString(QDateTime::currentDateTimeUtc().addSecs(-5),
                                    QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                          .toLatin1() +
                      "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
};

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { qInstallMessageHandler(g_previous); }
    void init() { QDir(CachingNetworkAccessManagerFactory::cacheDirectory()).removeRecursively(); }
    void picture_data();
    void picture();
    void backOffAndRecovery();
    void eachShownEntryKeepsItsTimeout();
    void fewTransfersAtOnce();
    void qtWarningsCutLongAddresses();

private:
    // A display's picture side, started afresh as after a restart.
    struct Display
    {
        AppEnv env;
        CachingNetworkAccessManagerFactory factory;
        PicturePreloader pictures;
        Display(int firstRetryMs = 30000)
        {
            AppCore::feedPictures(env, pictures);
            pictures.setNetworkAccessManager(factory.create(&pictures));
            pictures.setDelays({firstRetryMs, firstRetryMs * 4});
        }
        void show(const QString &url)
        {
            env.setLogo(url);
            env.setPromoImagesToShow(QJsonArray{QJsonObject{{"url", url}, {"timeout", 5}}});
        }
    };

    QTemporaryDir m_dir;
};

void TestPictures::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    g_previous = qInstallMessageHandler(record);
    PictureGuard::Limits limits = PictureGuard::limits();
    limits.stallMs = 500; // a stall judged within half a second
    limits.transferMs = 2000;
    limits.box = QSize(1280, 776);
    PictureGuard::setLimits(limits);
}

// Each row: where the picture comes from, whether it shows, and the one
// warning it gives (empty: none).
void TestPictures::picture_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("warning");

    QTest::newRow("good") << "good" << true << "";
    QTest::newRow("404") << "404" << false << "failed: the server answered HTTP 404; next try in 30 s";
    QTest::newRow("unreachable") << "unreachable" << false << "failed: Connection refused; next try in 30 s";
    QTest::newRow("stalled") << "stalled" << false << "failed: refused: stalled";
    QTest::newRow("trickling, never stalled")
        << "trickle" << false << "failed: refused: stalled: not whole within";
    QTest::newRow("refused by the guard") << "long thin" << false << "would be scaled to";
    QTest::newRow("offline, with a cached copy")
        << "offline cached" << true
        << "failed: Connection refused; shown from the disk cache; next try in 30 s";
    QTest::newRow("offline, without a copy")
        << "offline" << false << "failed: Connection refused; next try in 30 s";
    QTest::newRow("local file") << "file" << true << "";
    QTest::newRow("local 1000x1 picture") << "file 1000x1" << false << "1000x1 would be scaled to";
    QTest::newRow("local heavy SVG") << "file svg" << false << "SVG of over 50000 elements";
    QTest::newRow("local file missing") << "file missing" << false << "cannot be read";
    // Readers of these block; while one blocks, the receipt loads must not wait.
    QTest::newRow("a terminal device") << "/dev/ptmx" << false << "not a regular file";
    QTest::newRow("a FIFO") << "fifo" << false << "not a regular file";
    // A valid header before a body that does not decode.
    QTest::newRow("a data: URL that does not decode")
        << "data broken" << false << "not a picture the display can decode";
    QTest::newRow("a local file that does not decode")
        << "file broken" << false << "not a picture the display can decode";
    QTest::newRow("an image provider's address")
        << "image" << false << "not an address the display loads pictures from";
    QTest::newRow("a file path of 4 MiB") << "long path" << false << "an address of 4194311 characters";
}

void TestPictures::picture()
{
    QFETCH(QString, source);
    QFETCH(bool, shown);
    QFETCH(QString, warning);

    PictureServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    server.body = png(64, 36);
    QString url = server.url();
    const QByteArray broken = png(640, 360).left(100) + QByteArray(20000, 'x');
    if (source == "404") {
        server.status = 404;
    } else if (source == "unreachable" || source == "offline") {
        url = QStringLiteral("http://127.0.0.1:%1/picture.png").arg(closedPort());
    } else if (source == "stalled") {
        server.stall = true;
    } else if (source == "trickle") {
        server.trickle = true;
    } else if (source == "long thin") {
        server.body = png(10000, 2);
    } else if (source == "offline cached") {
        // Shown once while the server was up, then the display restarts without it.
        {
            Display before;
            before.show(url);
            QTRY_VERIFY(before.pictures.isReady(url));
        }
        server.close();
        QTest::qWait(1000); // the copy is stale by now
    } else if (source.startsWith("file")) {
        const QString path = m_dir.filePath(source + ".png");
        url = QUrl::fromLocalFile(path).toString();
        QFile file(path);
        if (source != "file missing")
            QVERIFY(file.open(QIODevice::WriteOnly));
        if (source == "file")
            file.write(png(64, 36));
        else if (source == "file broken")
            file.write(broken);
        else if (source == "file 1000x1")
            file.write(png(1000, 1));
        else if (source == "file svg")
            file.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10">)" +
                       QByteArray("<rect width=\"1\" height=\"1\"/>").repeated(60000) + "</svg>");
    } else if (source == "data broken") {
        url = QStringLiteral("data:image/png;base64,") + QString::fromLatin1(broken.toBase64());
    } else if (source == "/dev/ptmx") {
        url = QStringLiteral("file:///dev/../dev/ptmx");
    } else if (source == "fifo") {
        const QString path = m_dir.filePath("fifo.png");
        QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0 || errno == EEXIST);
        url = QUrl::fromLocalFile(path).toString();
    } else if (source == "image") {
        url = QStringLiteral("image://qrcode/") + QString::fromLatin1(png(8, 8).toBase64());
    } else if (source == "long path") {
        url = QStringLiteral("file://") + QString(4 * 1024 * 1024, u'a');
    }
    takeWarnings();

    Display display;
    display.show(url);
    if (shown) {
        QTRY_COMPARE(display.pictures.logo(), url);
        QCOMPARE(display.pictures.promoImagesToShow().size(), 1);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!peekWarnings().isEmpty(), 10000);
        QCOMPARE(display.pictures.logo(), QString());
        QCOMPARE(display.pictures.promoImagesToShow(), QJsonArray());
    }
    // Whatever a picture does, the global pool (receipt loads) stays free.
    const QFuture<void> load = QtConcurrent::run([] {});
    QTRY_VERIFY_WITH_TIMEOUT(load.isFinished(), 2000);
    QTest::qWait(shown ? 100 : 600); // nothing more comes of it
    const QStringList warnings = takeWarnings();
    if (warning.isEmpty()) {
        QCOMPARE(warnings, QStringList());
    } else {
        QCOMPARE(warnings.size(), 1); // one per picture and attempt, in the display's own category
        QVERIFY2(warnings.at(0).startsWith(QLatin1String("qv4.images: Picture ")),
                 qPrintable(warnings.at(0)));
        QVERIFY2(warnings.at(0).contains(warning), qPrintable(warnings.at(0)));
        QVERIFY2(warnings.at(0).size() < 500, "the address is cut");
    }
    // Nothing of it is kept once it leaves the catalogue.
    display.show(QString());
    QVERIFY(!PictureGuard::servedFromCache(QUrl(url)));
}

// A picture that keeps failing is tried again later each time, with one
// warning per attempt and one request per attempt; once its server mends,
// it joins what is shown.
void TestPictures::backOffAndRecovery()
{
    PictureServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    server.status = 404;
    server.body = png(64, 36);
    takeWarnings();
    Display display(100);
    display.show(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(peekWarnings().size(), 4, 5000);
    const QStringList warnings = takeWarnings();
    const QStringList steps = {"0.1 s", "0.2 s", "0.4 s", "0.4 s"};
    for (int i = 0; i < steps.size(); ++i)
        QVERIFY2(warnings.at(i).endsWith(QLatin1String("next try in ") + steps.at(i)),
                 qPrintable(warnings.at(i)));
    QCOMPARE(server.requests, 4);
    QCOMPARE(display.pictures.logo(), QString());

    server.status = 200;
    QTRY_COMPARE_WITH_TIMEOUT(display.pictures.logo(), server.url(), 5000);
    QCOMPARE(display.pictures.promoImagesToShow().size(), 1);
    QTest::qWait(500);
    QCOMPARE(takeWarnings(), QStringList());

    // One the slideshow cannot decode after all fails the same way.
    display.pictures.failedToShow(server.url());
    QCOMPARE(display.pictures.promoImagesToShow().size(), 0);
    const QStringList failed = takeWarnings();
    QCOMPARE(failed.size(), 1);
    QVERIFY2(failed.at(0).endsWith(QLatin1String("in the slideshow; next try in 0.1 s")),
             qPrintable(failed.at(0)));
    QTRY_COMPARE_WITH_TIMEOUT(display.pictures.promoImagesToShow().size(), 1, 5000);
}

// What is shown is what is due, less what has not loaded: the others keep
// their place and their own timeout.
void TestPictures::eachShownEntryKeepsItsTimeout()
{
    PictureServer good;
    QVERIFY(good.listen(QHostAddress::LocalHost, 0));
    good.body = png(64, 36);
    PictureServer missing;
    QVERIFY(missing.listen(QHostAddress::LocalHost, 0));
    missing.status = 404;
    Display display;
    const QJsonArray due{QJsonObject{{"url", good.url("/a.png")}, {"timeout", 3}},
                         QJsonObject{{"url", missing.url()}, {"timeout", 9}},
                         QJsonObject{{"url", good.url("/c.png")}, {"timeout", 7}}};
    display.env.setPromoImagesToShow(due);
    const QJsonArray shown{due.at(0), due.at(2)};
    QTRY_COMPARE(display.pictures.promoImagesToShow(), shown);
    takeWarnings();
}

// A catalogue of many pictures is fetched a few at a time: each transfer
// may hold a picture's worth of memory until it is judged.
void TestPictures::fewTransfersAtOnce()
{
    PictureServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    server.stall = true;
    Display display;
    QJsonArray due;
    for (int i = 0; i < 10; ++i)
        due.append(QJsonObject{{"url", server.url(QStringLiteral("/%1.png").arg(i))}, {"timeout", 5}});
    display.env.setPromoImagesToShow(due);
    QTRY_COMPARE(server.requests, PicturePreloader::maximumFetches);
    QTest::qWait(200);
    QCOMPARE(server.requests, PicturePreloader::maximumFetches);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests, 2 * PicturePreloader::maximumFetches,
                              5000); // after the stall limit
    takeWarnings();
}

// Qt's own lines (here one as a QML Image writes it) quote no address whole.
void TestPictures::qtWarningsCutLongAddresses()
{
    QuotedUrlCut::install();
    takeWarnings();
    const QString url =
        QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png(640, 360).toBase64());
    qWarning().noquote() << "QML Image: Error decoding:" << url + QLatin1String(": Unsupported image format");
    const QStringList warnings = takeWarnings();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.at(0).size() < 300, qPrintable(warnings.at(0)));
    QVERIFY2(warnings.at(0).endsWith(
                 QStringLiteral("… (%1 characters) Unsupported image format").arg(url.size() + 1)),
             qPrintable(warnings.at(0)));
}

QTEST_MAIN(TestPictures)

#include "tst_pictures.moc"
