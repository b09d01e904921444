#pragma once

#include <QObject>
#include <QTimer>

// Tells a supervisor that the GUI thread still turns its event loop, so that
// a display frozen for good is killed and started again: systemd's service
// watchdog (READY=1 once, then WATCHDOG=1) and, for the XDG launcher, the
// modification time of the file that QV4_HEARTBEAT_FILE names.
class Heartbeat : public QObject
{
    Q_OBJECT
public:
    // Beats from the GUI thread's event loop, the first time once it runs.
    explicit Heartbeat(QObject *parent = nullptr);

    // One beat now; also before the application object exists (while
    // waiting for the X server).
    static void beat();

private:
    QTimer m_timer;
};
