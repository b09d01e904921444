#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QTimer>

#include <chrono>

Q_DECLARE_LOGGING_CATEGORY(lcKiosk)

// Keeps the screen from blanking or powering down while the display runs
// full screen: through the desktop session where it offers the freedesktop
// ScreenSaver interface on D-Bus, else by resetting the X server's idle time
// (which both its screen saver and DPMS count from). Neither outlives the
// process: the session drops an inhibition when its client goes away, and
// the X settings are never changed.
class ScreenAwake : public QObject
{
    Q_OBJECT
public:
    enum class Method { Pending, DesktopSession, XServer, Unavailable };
    Q_ENUM(Method)

    explicit ScreenAwake(QObject *parent = nullptr);
    ~ScreenAwake() override;

    Method method() const { return m_method; }

    // How often to reset the X server's idle time so that none of the given
    // timeouts (seconds, 0 = off) runs out: half the shortest, 1 to 30 s.
    static std::chrono::milliseconds resetInterval(const QList<int> &timeouts);

signals:
    void methodChosen(ScreenAwake::Method method);

private:
    void askDesktopSession();
    void useXServer(const QString &whyNotSession);
    void resetXServer();
    void choose(Method method, const QString &description);

    Method m_method = Method::Pending;
    QTimer m_reset;
};
