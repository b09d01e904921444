// The full-screen kiosk: the cursor out of sight until a mouse moves, the
// screen kept awake through the desktop session, the scene graph that fits
// the machine, and the heartbeat that stops while the GUI thread is stuck.

#include "kiosk/Heartbeat.h"
#include "kiosk/KioskCursor.h"
#include "kiosk/RendererChoice.h"
#include "kiosk/ScreenAwake.h"
#include "kiosk/ScreenChoice.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QPointingDevice>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString g_busAddress; // a private session bus; empty when dbus-daemon is missing

// Stands in for a desktop session's screen saver.
class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList applications;
public slots:
    uint Inhibit(const QString &application, const QString &)
    {
        applications << application;
        return 7;
    }
};

} // namespace

Q_DECLARE_METATYPE(RendererChoice::Renderer)

class TestKiosk : public QObject
{
    Q_OBJECT
private slots:
    void cursor_data();
    void cursor();
    void desktopSession_data();
    void desktopSession();
    void xServerResetInterval_data();
    void xServerResetInterval();
    void renderer_data();
    void renderer();
    void heartbeat();
    void screenChoice_data();
    void screenChoice();
};

void TestKiosk::cursor_data()
{
    QTest::addColumn<QList<QPoint>>("moves"); // from where the pointer was at start
    QTest::addColumn<bool>("touch");
    QTest::addColumn<bool>("shown"); // before the idle time hides it again

    QTest::newRow("hidden from the start") << QList<QPoint>{} << false << false;
    QTest::newRow("a mouse move shows it") << QList<QPoint>{{5, 0}, {9, 4}} << false << true;
    QTest::newRow("a move event without movement") << QList<QPoint>{{0, 0}} << false << false;
    QTest::newRow("a finger on a touch screen") << QList<QPoint>{{5, 0}} << true << false;
}

void TestKiosk::cursor()
{
    QFETCH(QList<QPoint>, moves);
    QFETCH(bool, touch);
    QFETCH(bool, shown);

    QWindow window;
    window.show();
    const QPointF start = QCursor::pos();
    QPointingDevice finger(QStringLiteral("finger"), 1001, QInputDevice::DeviceType::TouchScreen,
                           QPointingDevice::PointerType::Finger, QInputDevice::Capability::Position, 1, 0);
    {
        KioskCursor cursor(&window, std::chrono::milliseconds(150));
        for (const QPoint &offset : moves) {
            QMouseEvent move(QEvent::MouseMove, window.mapFromGlobal(start + offset), start + offset,
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier,
                             touch ? &finger : QPointingDevice::primaryPointingDevice());
            QCoreApplication::sendEvent(&window, &move);
        }
        QCOMPARE(QGuiApplication::overrideCursor() == nullptr, shown);
        QTRY_VERIFY(QGuiApplication::overrideCursor()); // hidden again after the idle time
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
    }
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr); // given back, once
}

void TestKiosk::renderer_data()
{
    using RendererChoice::Renderer;
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("userBackend");
    QTest::addColumn<bool>("contextCreated"); // the probe's answer
    QTest::addColumn<QString>("glRenderer");
    QTest::addColumn<Renderer>("chosen");
    QTest::addColumn<bool>("probed");

    const QString llvmpipe = QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)");
    const QString gpu = QStringLiteral("Mesa Intel(R) UHD Graphics 620 (KBL GT2)");
    QTest::newRow("auto, llvmpipe") << "auto"
                                    << "" << true << llvmpipe << Renderer::Software << true;
    QTest::newRow("auto, softpipe") << "auto"
                                    << "" << true << "softpipe" << Renderer::Software << true;
    QTest::newRow("auto, old swrast") << "auto"
                                      << "" << true << "Mesa X11 swrast" << Renderer::Software << true;
    QTest::newRow("auto, a GPU") << "auto"
                                 << "" << true << gpu << Renderer::OpenGL << true;
    QTest::newRow("auto, no OpenGL") << "auto"
                                     << "" << false << "" << Renderer::Software << true;
    QTest::newRow("forced OpenGL on llvmpipe") << "opengl"
                                               << "" << true << llvmpipe << Renderer::OpenGL << false;
    QTest::newRow("forced software on a GPU") << "software"
                                              << "" << true << gpu << Renderer::Software << false;
    QTest::newRow("the user's QT_QUICK_BACKEND wins")
        << "opengl"
        << "QT_QUICK_BACKEND=software" << true << gpu << Renderer::Environment << false;
    QTest::newRow("the user's QSG_RHI_BACKEND wins")
        << "auto"
        << "QSG_RHI_BACKEND=opengl" << true << llvmpipe << Renderer::Environment << false;
}

void TestKiosk::renderer()
{
    QFETCH(QString, option);
    QFETCH(QString, userBackend);
    QFETCH(bool, contextCreated);
    QFETCH(QString, glRenderer);
    QFETCH(RendererChoice::Renderer, chosen);
    QFETCH(bool, probed);

    bool ran = false;
    const auto decision = RendererChoice::decide(option, userBackend, [&] {
        ran = true;
        return RendererChoice::ProbeAnswer{contextCreated, glRenderer};
    });
    QCOMPARE(decision.renderer, chosen);
    QCOMPARE(ran, probed);
    QVERIFY2(!decision.reason.isEmpty(), "the log line says why");
}

void TestKiosk::desktopSession_data()
{
    QTest::addColumn<bool>("offered");
    QTest::addColumn<QString>("logged");

    // Offscreen there is no X server to fall back on.
    QTest::newRow("not offered")
        << false << "Screen kept awake: nothing to ask: org.freedesktop.ScreenSaver not offered";
    QTest::newRow("offered") << true << "Screen kept awake: the desktop session inhibits blanking";
}

void TestKiosk::desktopSession()
{
    QFETCH(bool, offered);
    QFETCH(QString, logged);
    if (g_busAddress.isEmpty())
        QSKIP("dbus-daemon is not installed");

    // A connection of its own per row, so that the service goes with it.
    QDBusConnection desktop = QDBusConnection::connectToBus(g_busAddress, QTest::currentDataTag());
    auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(QTest::currentDataTag()); });
    FakeScreenSaver saver;
    QVERIFY(!offered || desktop.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                               QDBusConnection::ExportAllSlots));
    QVERIFY(!offered || desktop.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));

    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QRegularExpression::escape(logged)));
    ScreenAwake awake;
    QSignalSpy chosen(&awake, &ScreenAwake::methodChosen);
    QTRY_COMPARE(chosen.count(), 1);
    QCOMPARE(awake.method(),
             offered ? ScreenAwake::Method::DesktopSession : ScreenAwake::Method::Unavailable);
    QCOMPARE(saver.applications, offered ? QStringList{QCoreApplication::applicationName()} : QStringList{});
}

void TestKiosk::heartbeat()
{
    // A datagram socket stands in for systemd's NOTIFY_SOCKET, a file for the launcher's.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("heartbeat"));
    const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    auto closeListener = qScopeGuard([&] { ::close(listener); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    qputenv("NOTIFY_SOCKET", socketPath);
    qputenv("WATCHDOG_USEC", "400000"); // a beat every 200 ms
    qputenv("QV4_HEARTBEAT_FILE", QFile::encodeName(file));
    auto received = [&] {
        QByteArrayList notices;
        char buffer[64];
        for (ssize_t n; (n = ::recv(listener, buffer, sizeof buffer, 0)) > 0;)
            notices << QByteArray(buffer, int(n));
        return notices;
    };

    Heartbeat heartbeat;
    QTest::qWait(1000);
    QByteArrayList notices = received();
#ifdef QV4_HAVE_SYSTEMD
    QVERIFY2(notices.value(0) == "WATCHDOG=1" || notices.value(0) == "READY=1", notices.join(' '));
    QCOMPARE(notices.count("READY=1"), 1);
    QVERIFY2(notices.count("WATCHDOG=1") >= 3, notices.join(' '));
#endif
    QVERIFY(QFileInfo::exists(file));

    // The GUI thread stuck: no notice, and the file ages.
    const QDateTime before = QFileInfo(file).lastModified();
    QThread::msleep(1000);
    QCOMPARE(received(), QByteArrayList{});
    QCOMPARE(QFileInfo(file).lastModified(), before);
    // Turning again, it beats again.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).lastModified() > before, 7000);
#ifdef QV4_HAVE_SYSTEMD
    QVERIFY(received().contains("WATCHDOG=1"));
#endif
}

void TestKiosk::screenChoice_data()
{
    QTest::addColumn<QString>("name"); // --screen
    QTest::addColumn<bool>("shown");

    QTest::newRow("no --screen: left where it is") << QString() << true;
    // Never on another screen, the cashier's: hidden, and the log names the screens there are.
    QTest::newRow("a screen that is not there") << QStringLiteral("HDMI-9") << false;
}

void TestKiosk::screenChoice()
{
    QFETCH(QString, name);
    QFETCH(bool, shown);

    QWindow window;
    window.resize(200, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!shown) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "Screen \"HDMI-9\" \\(--screen\\) is not connected: the display "
                                 "shows nothing until it returns; screens now: \\(unnamed\\) \\d+x\\d+")));
    }
    ScreenChoice choice(name, QStringLiteral("dpi"), true);
    choice.attach(&window);
    QCOMPARE(window.isVisible(), shown);
}

void TestKiosk::xServerResetInterval_data()
{
    QTest::addColumn<QList<int>>("timeouts"); // seconds: the saver's, then DPMS standby, suspend, off
    QTest::addColumn<int>("resetMs");

    QTest::newRow("no timeouts") << QList<int>{} << 30000;
    QTest::newRow("long saver: the cap") << QList<int>{600} << 30000;
    QTest::newRow("the shortest wins") << QList<int>{600, 20, 14, 900} << 7000;
    QTest::newRow("saver under 30 s") << QList<int>{10} << 5000;
    QTest::newRow("disabled saver ignored") << QList<int>{0, 8, 0, 0} << 4000;
    QTest::newRow("all disabled") << QList<int>{0, 0, 0, 0} << 30000;
    QTest::newRow("1 s saver: the floor") << QList<int>{1} << 1000;
}

void TestKiosk::xServerResetInterval()
{
    QFETCH(QList<int>, timeouts);
    QFETCH(int, resetMs);
    QCOMPARE(ScreenAwake::resetInterval(timeouts).count(), resetMs);
}

int main(int argc, char *argv[])
{
    // A session bus of the test's own, before anything in Qt looks for one.
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (bus.waitForStarted() && bus.waitForReadyRead(10000))
        g_busAddress = QString::fromLocal8Bit(bus.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", g_busAddress.toLocal8Bit());

    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("QUORVEX ORDER SCREEN"));
    TestKiosk test;
    const int result = QTest::qExec(&test, argc, argv);
    bus.kill();
    bus.waitForFinished();
    return result;
}

#include "tst_kiosk.moc"
