// qv4-terminal-sim: drives an order display the way a POS terminal does.

#include "ExitCode.h"
#include "ScenarioLoader.h"
#include "SignalWatcher.h"
#include "TerminalPlayer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QUrl>

#include <cstdio>

namespace {

constexpr quint16 displayPort = 30058;

const char *const description = R"(Sends terminal messages to an order display over WebSocket (binary JSON).

FILE is one message (a JSON object with "path" and "content"), or, with
--scenario or a name ending in .jsonl, a scenario: one message per line, blank
lines and lines starting with # skipped. Use - for standard input.

Keys of our own in a message line (removed before sending):
  "delay_ms": N        wait N milliseconds before sending this line
  "raw": "TEXT"        send TEXT as it is instead of a message (not refused)
  "raw_base64": "B64"  send these bytes as they are (invalid UTF-8, empty)
  "text_frame": true   send as a text message, not a binary one
${SCENARIO_URL} in any string becomes the file:// URL of the file's folder.

Before anything is sent, each message goes through the display's own check:
what the display would log as a warning (category qv4.link) is printed here
first, with the line it came from, and so is a promo picture the scenario
serves (a file or a data: URL) whose shape the slideshow crops by more than
half. --check stops there; --strict refuses to send (exit 8) if there is any
warning.

The display resets its receipt and promo images when the connection closes;
use --keep-open to look at the result of a single message.

Exit codes:
  0  sent (or checked); also a stop by SIGINT or SIGTERM
  2  usage error
  3  the file cannot be read
  4  invalid JSON (line and column given)
  5  not a message: not an object with string "path" and object "content"
  6  the display cannot be reached
  7  the display closed the connection before everything was sent
  8  --strict: the display would warn about a message; nothing was sent)";

void complain(const QString &text)
{
    std::fprintf(stderr, "qv4-terminal-sim: %s\n", qPrintable(text));
}

int usageError(const QString &text)
{
    complain(text);
    complain(QStringLiteral("try --help"));
    return ExitCode::Usage;
}

// --host as an installer writes it: a bare host or address, host:port
// ([v6]:port), or the terminal's setting whole, ws://host:port/. A port
// written there must agree with --port if both are given. Returns the
// display's URL, or an invalid one with *error set.
QUrl displayUrl(const QString &hostText, quint16 port, bool portGiven, QString *error)
{
    QUrl url;
    QString text = hostText.trimmed();
    if (text.contains(QLatin1String("://"))) {
        url = QUrl(text, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != QLatin1String("ws")) {
            *error = QStringLiteral("--host \"%1\": the display speaks plain WebSocket, give ws://HOST:PORT/")
                         .arg(hostText);
            return {};
        }
    } else {
        // host:port, unless it is a bare IPv6 address (more than one colon).
        url.setScheme(QStringLiteral("ws"));
        const bool bracketed = text.startsWith(u'[');
        const qsizetype colon = text.lastIndexOf(u':');
        if (colon > 0 && (bracketed ? text.at(colon - 1) == u']' : text.count(u':') == 1)) {
            bool ok = false;
            const uint number = text.mid(colon + 1).toUInt(&ok);
            if (!ok || number == 0 || number > 65535) {
                *error = QStringLiteral("--host \"%1\": port must be a number from 1 to 65535").arg(hostText);
                return {};
            }
            url.setPort(int(number));
            text.truncate(colon);
        }
        if (text.startsWith(u'[') && text.endsWith(u']'))
            text = text.mid(1, text.size() - 2);
        url.setHost(text, QUrl::StrictMode);
    }
    if (url.host().isEmpty()) {
        *error = QStringLiteral("--host \"%1\": no host or address in it").arg(hostText);
        return {};
    }
    if (url.port() > 0 && portGiven && url.port() != port) {
        *error =
            QStringLiteral("--host \"%1\" names port %2, --port %3").arg(hostText).arg(url.port()).arg(port);
        return {};
    }
    if (url.port() <= 0)
        url.setPort(port);
    return url;
}

bool parseSeconds(const QString &text, int *ms)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds >= 0) || seconds > 24 * 3600)
        return false;
    *ms = int(seconds * 1000);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv4-terminal-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QV4_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption host({QStringLiteral("H"), QStringLiteral("host")},
                                  QStringLiteral("The display: a host or address, HOST:PORT, or "
                                                 "ws://HOST:PORT/ as a terminal is given it (default "
                                                 "127.0.0.1)."),
                                  QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("Display port (default %1).").arg(displayPort),
                                  QStringLiteral("port"), QString::number(displayPort));
    const QCommandLineOption scenario({QStringLiteral("s"), QStringLiteral("scenario")},
                                      QStringLiteral("FILE is JSON Lines, one message per line."));
    const QCommandLineOption loop(
        {QStringLiteral("l"), QStringLiteral("loop")},
        QStringLiteral("Play the scenario again and again until SIGINT or SIGTERM."));
    const QCommandLineOption keepOpen(QStringLiteral("keep-open"),
                                      QStringLiteral("After the last message stay connected until SIGINT or "
                                                     "SIGTERM."));
    const QCommandLineOption raw(QStringLiteral("raw"),
                                 QStringLiteral("Send the file (or each line) byte for byte, unchecked."));
    const QCommandLineOption noDelay(QStringLiteral("no-delay"),
                                     QStringLiteral("Ignore the delay_ms pauses."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Only read and check FILE; connect to nothing."));
    const QCommandLineOption strict(QStringLiteral("strict"),
                                    QStringLiteral("Exit 8, sending nothing, if the display would warn about "
                                                   "any message."));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Keep trying to connect for up to this many seconds "
                                                 "(default 0: one attempt)."),
                                  QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Give up one connection attempt after this many seconds "
                                                    "(default 5)."),
                                     QStringLiteral("seconds"), QStringLiteral("5"));
    const QCommandLineOption baseUrl(
        QStringLiteral("base-url"),
        QStringLiteral("What ${SCENARIO_URL} expands to instead of the file's "
                       "folder, e.g. file:///usr/share/qv4-order-screen/examples."),
        QStringLiteral("url"));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Report each message sent."));
    parser.addOptions(
        {host, port, scenario, loop, keepOpen, raw, noDelay, check, strict, wait, timeout, baseUrl, verbose});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Message or scenario file; - for stdin."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return ExitCode::Ok;
    }
    if (parser.isSet(versionOption)) {
        std::printf("qv4-terminal-sim %s\n", QV4_VERSION);
        return ExitCode::Ok;
    }

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return usageError(files.isEmpty() ? QStringLiteral("no FILE given (use - for standard input)")
                                          : QStringLiteral("one FILE at a time, got %1").arg(files.size()));
    const QString file = files.constFirst();
    const bool jsonLines =
        parser.isSet(scenario) || file.endsWith(QLatin1String(".jsonl"), Qt::CaseInsensitive);

    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber == 0 || portNumber > 65535)
        return usageError(
            QStringLiteral("port must be a number from 1 to 65535, got \"%1\"").arg(parser.value(port)));
    QString hostError;
    const QUrl url = displayUrl(parser.value(host), quint16(portNumber), parser.isSet(port), &hostError);
    if (!url.isValid())
        return usageError(hostError);
    int waitMs = 0;
    if (!parseSeconds(parser.value(wait), &waitMs))
        return usageError(
            QStringLiteral("--wait takes a number of seconds, got \"%1\"").arg(parser.value(wait)));
    int timeoutMs = 0;
    if (!parseSeconds(parser.value(timeout), &timeoutMs) || timeoutMs == 0)
        return usageError(QStringLiteral("--timeout takes a positive number of seconds, got \"%1\"")
                              .arg(parser.value(timeout)));
    if (parser.isSet(loop) && !jsonLines)
        return usageError(QStringLiteral("--loop plays a scenario: add --scenario or use a .jsonl file"));
    if (parser.isSet(loop) && parser.isSet(noDelay))
        return usageError(QStringLiteral("--loop with --no-delay would flood the display"));
    if (parser.isSet(loop) && parser.isSet(keepOpen))
        return usageError(QStringLiteral("--keep-open has no end to wait for with --loop"));

    ScenarioLoader loader(jsonLines, parser.isSet(raw));
    if (parser.isSet(baseUrl))
        loader.setBaseUrl(parser.value(baseUrl));
    const bool loaded = loader.loadFile(file);
    for (const QString &warning : loader.warnings())
        complain(warning);
    if (!loaded) {
        complain(loader.errorString());
        return loader.errorCode();
    }
    const QString shownName = file == QLatin1String("-") ? QStringLiteral("<stdin>") : file;
    if (parser.isSet(strict) && !loader.warnings().isEmpty()) {
        complain(QStringLiteral("%1: %2 warning(s); nothing sent (--strict)")
                     .arg(shownName)
                     .arg(loader.warnings().size()));
        return ExitCode::Warnings;
    }
    if (parser.isSet(check)) {
        if (loader.warnings().isEmpty())
            std::printf("%s: %lld message(s) OK\n", qPrintable(shownName), qlonglong(loader.steps().size()));
        else
            std::printf("%s: %lld message(s), %lld warning(s)\n", qPrintable(shownName),
                        qlonglong(loader.steps().size()), qlonglong(loader.warnings().size()));
        return ExitCode::Ok;
    }

    TerminalPlayer player(url, loader.steps());
    player.setLoop(parser.isSet(loop));
    player.setKeepOpen(parser.isSet(keepOpen));
    player.setIgnoreDelays(parser.isSet(noDelay));
    player.setWaitForDisplay(waitMs);
    player.setConnectTimeout(timeoutMs);
    player.setVerbose(parser.isSet(verbose));

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::stopRequested, &player, &TerminalPlayer::stop);
    QObject::connect(&player, &TerminalPlayer::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    player.start();
    return QCoreApplication::exec();
}
