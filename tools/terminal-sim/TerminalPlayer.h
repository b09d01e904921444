#pragma once

#include "ScenarioStep.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

// Plays messages to a display the way a POS terminal does: one WebSocket
// connection, binary messages in file order with the given pauses. Ends with
// finished(exit code) once every byte is written and the socket is closed.
class TerminalPlayer : public QObject
{
    Q_OBJECT
public:
    TerminalPlayer(const QUrl &url, QList<ScenarioStep> steps, QObject *parent = nullptr);

    void setLoop(bool loop) { m_loop = loop; }
    void setKeepOpen(bool keepOpen) { m_keepOpen = keepOpen; }
    void setIgnoreDelays(bool ignore) { m_ignoreDelays = ignore; }
    void setWaitForDisplay(int ms) { m_waitMs = ms; }
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    void setVerbose(bool verbose) { m_verbose = verbose; }

    void start();

public slots:
    // Stops after what is already queued has been written; finishes with exit code 0.
    void stop();

signals:
    void finished(int exitCode);

private:
    enum class State { Idle, Connecting, Playing, Holding, Flushing, Closing, Done };

    void attemptConnection();
    void onConnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onBytesWritten();
    void scheduleNext();
    void sendNext();
    void finishPlaying();
    void flushAndClose(int exitCode);
    void closeNow();
    void done(int exitCode, const QString &message = QString());
    QString closeDetails() const;

    QUrl m_url;
    QList<ScenarioStep> m_steps;
    bool m_loop = false;
    bool m_keepOpen = false;
    bool m_ignoreDelays = false;
    bool m_verbose = false;
    int m_waitMs = 0;
    int m_connectTimeoutMs = 5000;

    State m_state = State::Idle;
    QWebSocket m_socket;
    QTimer m_stepTimer;
    QTimer m_attemptTimer;
    QTimer m_closeTimer;
    QElapsedTimer m_sinceStart;
    qsizetype m_next = 0;
    qint64 m_sent = 0;
    int m_round = 0;
    int m_exitCode = 0;
    bool m_retryPending = false;
    bool m_closedByDisplay = false;
};
