#include "TerminalPlayer.h"

#include "ExitCode.h"

#include <QNetworkProxy>

#include <cstdio>

namespace {

constexpr int retryPauseMs = 250;
constexpr int flushDeadlineMs = 10000;
constexpr int closeDeadlineMs = 3000;
// A looped scenario without pauses would flood the display.
constexpr int minimumRoundPauseMs = 1000;

void say(const QString &text)
{
    std::fprintf(stderr, "qv4-terminal-sim: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

TerminalPlayer::TerminalPlayer(const QUrl &url, QList<ScenarioStep> steps, QObject *parent)
    : QObject(parent), m_url(url), m_steps(std::move(steps))
{
    // A terminal talks to the display directly, never through a proxy.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_stepTimer.setSingleShot(true);
    m_attemptTimer.setSingleShot(true);
    m_closeTimer.setSingleShot(true);

    connect(&m_socket, &QWebSocket::connected, this, &TerminalPlayer::onConnected);
    connect(&m_socket, &QWebSocket::disconnected, this, &TerminalPlayer::onDisconnected);
    connect(&m_socket, &QWebSocket::bytesWritten, this, &TerminalPlayer::onBytesWritten);
    connect(&m_socket, &QWebSocket::aboutToClose, this, [this] {
        // Only a handshake that the display begins on a live link counts; a
        // failed attempt to connect emits this too.
        if (m_state == State::Playing || m_state == State::Holding || m_state == State::Flushing)
            m_closedByDisplay = true;
    });
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(&m_socket, &QWebSocket::errorOccurred, this, &TerminalPlayer::onSocketError);
#else
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &TerminalPlayer::onSocketError);
#endif
    connect(&m_stepTimer, &QTimer::timeout, this, &TerminalPlayer::sendNext);
    connect(&m_attemptTimer, &QTimer::timeout, this, [this] {
        if (m_state != State::Connecting)
            return;
        if (m_retryPending) {
            attemptConnection(); // the pause between two attempts is over
            return;
        }
        m_socket.abort();
        done(ExitCode::Unreachable, QStringLiteral("cannot reach the display at %1: no answer within %2 ms")
                                        .arg(m_url.toString())
                                        .arg(m_connectTimeoutMs));
    });
    connect(&m_closeTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Flushing) {
            done(ExitCode::ConnectionLost,
                 QStringLiteral("the display took no more data; %1 bytes not delivered")
                     .arg(m_socket.bytesToWrite()));
            m_socket.abort();
        } else if (m_state == State::Closing) {
            m_socket.abort();
            done(m_exitCode);
        }
    });
}

void TerminalPlayer::start()
{
    m_sinceStart.start();
    attemptConnection();
}

void TerminalPlayer::attemptConnection()
{
    m_state = State::Connecting;
    if (m_verbose)
        say(QStringLiteral("connecting to %1").arg(m_url.toString()));
    m_retryPending = false;
    m_attemptTimer.start(m_connectTimeoutMs); // before open(): it may fail at once
    m_socket.open(m_url);
}

void TerminalPlayer::onSocketError(QAbstractSocket::SocketError error)
{
    if (m_state != State::Connecting || m_retryPending)
        return; // a running link's failure is reported by onDisconnected
    m_attemptTimer.stop();
    // Reached, then closed before the handshake: that is how the display
    // turns away an address that its allow-list lacks.
    const QString reason =
        error == QAbstractSocket::RemoteHostClosedError
            ? QStringLiteral("it closed the connection before the WebSocket handshake; most "
                             "likely it does not accept terminals from this machine's "
                             "address: add the address to its --allow-terminal (127.0.0.1 "
                             "for a simulator on the display's own machine)")
            : m_socket.errorString();
    m_socket.abort();
    if (m_sinceStart.elapsed() + retryPauseMs < m_waitMs) {
        m_retryPending = true;
        m_attemptTimer.start(retryPauseMs);
        return;
    }
    done(ExitCode::Unreachable,
         QStringLiteral("cannot reach the display at %1: %2").arg(m_url.toString(), reason));
}

void TerminalPlayer::onConnected()
{
    if (m_state != State::Connecting)
        return;
    m_attemptTimer.stop();
    m_state = State::Playing;
    if (m_verbose)
        say(QStringLiteral("connected to %1").arg(m_url.toString()));
    m_next = 0;
    scheduleNext();
}

void TerminalPlayer::scheduleNext()
{
    qint64 extraPause = 0;
    if (m_next >= m_steps.size()) {
        if (!m_loop) {
            finishPlaying();
            return;
        }
        m_next = 0;
        ++m_round;
        qint64 roundDelay = 0;
        for (const ScenarioStep &step : std::as_const(m_steps))
            roundDelay += step.delayMs;
        if (roundDelay < minimumRoundPauseMs)
            extraPause = minimumRoundPauseMs - roundDelay;
        if (m_verbose)
            say(QStringLiteral("round %1").arg(m_round + 1));
    }
    const qint64 delay = m_ignoreDelays ? 0 : m_steps.at(m_next).delayMs + extraPause;
    m_stepTimer.start(std::chrono::milliseconds(delay));
}

void TerminalPlayer::sendNext()
{
    if (m_state != State::Playing)
        return;
    const ScenarioStep &step = m_steps.at(m_next++);
    if (step.textFrame)
        m_socket.sendTextMessage(QString::fromUtf8(step.payload));
    else
        m_socket.sendBinaryMessage(step.payload);
    ++m_sent;
    if (m_verbose)
        say(QStringLiteral("sent line %1: %2 (%3 bytes%4)")
                .arg(step.line)
                .arg(step.kind.isEmpty() ? QStringLiteral("raw") : step.kind)
                .arg(step.payload.size())
                .arg(step.textFrame ? QStringLiteral(", text frame") : QString()));
    scheduleNext();
}

void TerminalPlayer::finishPlaying()
{
    if (!m_keepOpen) {
        flushAndClose(ExitCode::Ok);
        return;
    }
    m_state = State::Holding;
    say(QStringLiteral("%1 message(s) sent; keeping the connection open until interrupted").arg(m_sent));
}

void TerminalPlayer::stop()
{
    switch (m_state) {
    case State::Idle:
    case State::Connecting:
        m_attemptTimer.stop();
        m_socket.abort();
        done(ExitCode::Ok);
        break;
    case State::Playing:
    case State::Holding:
        if (m_verbose)
            say(QStringLiteral("stopping after %1 message(s)").arg(m_sent));
        flushAndClose(ExitCode::Ok);
        break;
    case State::Flushing:
    case State::Closing:
    case State::Done:
        break;
    }
}

void TerminalPlayer::flushAndClose(int exitCode)
{
    m_exitCode = exitCode;
    m_stepTimer.stop();
    m_state = State::Flushing;
    if (m_socket.bytesToWrite() == 0) {
        closeNow();
        return;
    }
    m_closeTimer.start(flushDeadlineMs);
}

void TerminalPlayer::onBytesWritten()
{
    if (m_state == State::Flushing && m_socket.bytesToWrite() == 0)
        closeNow();
}

void TerminalPlayer::closeNow()
{
    m_state = State::Closing;
    m_closeTimer.stop();
    m_socket.close(QWebSocketProtocol::CloseCodeNormal);
    if (m_socket.state() == QAbstractSocket::UnconnectedState) {
        done(m_exitCode);
        return;
    }
    m_closeTimer.start(closeDeadlineMs);
}

void TerminalPlayer::onDisconnected()
{
    switch (m_state) {
    case State::Playing:
    case State::Holding:
    case State::Flushing:
        done(ExitCode::ConnectionLost,
             QStringLiteral("the display closed the connection%1 after %2 message(s)")
                 .arg(closeDetails())
                 .arg(m_sent));
        break;
    case State::Closing:
        if (m_closedByDisplay)
            done(ExitCode::ConnectionLost,
                 QStringLiteral("the display closed the connection%1 after %2 message(s)")
                     .arg(closeDetails())
                     .arg(m_sent));
        else
            done(m_exitCode);
        break;
    case State::Idle:
    case State::Connecting:
    case State::Done:
        break;
    }
}

QString TerminalPlayer::closeDetails() const
{
    const auto code = m_socket.closeCode();
    const QString reason = m_socket.closeReason();
    if (code == QWebSocketProtocol::CloseCodeNormal && reason.isEmpty())
        return QString();
    return QStringLiteral(" (close code %1%2)")
        .arg(int(code))
        .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

void TerminalPlayer::done(int exitCode, const QString &message)
{
    if (m_state == State::Done)
        return;
    m_state = State::Done;
    m_stepTimer.stop();
    m_attemptTimer.stop();
    m_closeTimer.stop();
    if (!message.isEmpty())
        say(message);
    if (m_verbose && exitCode == ExitCode::Ok)
        say(QStringLiteral("done: %1 message(s) sent").arg(m_sent));
    emit finished(exitCode);
}
