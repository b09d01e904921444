#include "ScreenAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <algorithm>

#ifdef QV4_HAVE_X11
#include <QtGui/qguiapplication_platform.h>
#endif
#if defined(QV4_HAVE_X11) && QT_CONFIG(xcb)
// Last: the X headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#define QV4_X11_RESET 1
#endif

Q_LOGGING_CATEGORY(lcKiosk, "qv4.kiosk", QtInfoMsg)

namespace {

const QString service = QStringLiteral("org.freedesktop.ScreenSaver");

#ifdef QV4_X11_RESET
Display *xDisplay()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}
#endif

} // namespace

ScreenAwake::ScreenAwake(QObject *parent) : QObject(parent)
{
    connect(&m_reset, &QTimer::timeout, this, &ScreenAwake::resetXServer);
    askDesktopSession();
}

ScreenAwake::~ScreenAwake() = default;

std::chrono::milliseconds ScreenAwake::resetInterval(const QList<int> &timeouts)
{
    using namespace std::chrono;
    milliseconds interval = seconds(30);
    for (int timeout : timeouts) {
        if (timeout > 0)
            interval = std::min<milliseconds>(interval, milliseconds(timeout * 1000LL / 2));
    }
    return std::max<milliseconds>(interval, seconds(1));
}

void ScreenAwake::askDesktopSession()
{
    // Only a bus that is there: without one, libdbus would try to launch its own.
    const QString runtimeBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && !QFile::exists(runtimeBus)) {
        useXServer(QStringLiteral("no session bus"));
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        useXServer(QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/ScreenSaver"), service, QStringLiteral("Inhibit"));
    call << QCoreApplication::applicationName() << QStringLiteral("Customer display in full screen");
    // Asynchronous: a slow session must not hold up the first frame.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            useXServer(QStringLiteral("%1 not offered (%2)").arg(service, reply.error().name()));
            return;
        }
        choose(Method::DesktopSession, QStringLiteral("the desktop session inhibits blanking (%1, cookie %2)")
                                           .arg(service)
                                           .arg(reply.value()));
    });
}

void ScreenAwake::useXServer(const QString &whyNotSession)
{
#ifdef QV4_X11_RESET
    if (xDisplay()) {
        resetXServer();
        choose(Method::XServer,
               QStringLiteral("the X server's screen saver and DPMS timers are reset every %1 s (%2)")
                   .arg(m_reset.interval() / 1000.0)
                   .arg(whyNotSession));
        return;
    }
#endif
    choose(Method::Unavailable,
           QStringLiteral("nothing to ask: %1, and not on an X server. The screen may blank")
               .arg(whyNotSession));
}

void ScreenAwake::resetXServer()
{
#ifdef QV4_X11_RESET
    Display *display = xDisplay();
    if (!display)
        return;
    // Read again each time: an administrator may change them while we run.
    int saverTimeout = 0, saverInterval = 0, preferBlanking = 0, allowExposures = 0;
    XGetScreenSaver(display, &saverTimeout, &saverInterval, &preferBlanking, &allowExposures);
    QList<int> timeouts{saverTimeout};
    int eventBase = 0, errorBase = 0;
    if (DPMSQueryExtension(display, &eventBase, &errorBase) && DPMSCapable(display)) {
        CARD16 level = 0;
        BOOL enabled = False;
        if (DPMSInfo(display, &level, &enabled) && enabled) {
            CARD16 standby = 0, suspend = 0, off = 0;
            DPMSGetTimeouts(display, &standby, &suspend, &off);
            timeouts << standby << suspend << off;
            if (level != DPMSModeOn)
                DPMSForceLevel(display, DPMSModeOn);
        }
    }
    XResetScreenSaver(display);
    XFlush(display);
    m_reset.start(resetInterval(timeouts));
#endif
}

void ScreenAwake::choose(Method method, const QString &description)
{
    m_method = method;
    qCInfo(lcKiosk, "Screen kept awake: %s", qUtf8Printable(description));
    emit methodChosen(method);
}
