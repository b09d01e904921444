#include "AllocatorTuning.h"
#include "AppCore.h"
#include "AppStartup.h"
#include "CachingNetworkAccessManagerFactory.h"
#include "CommandLine.h"
#include "ServiceScreen.h"
#include "SettingsFile.h"
#include "kiosk/Heartbeat.h"
#include "kiosk/KioskCursor.h"
#include "kiosk/RendererChoice.h"
#include "kiosk/ScreenAwake.h"
#include "kiosk/ScreenChoice.h"
#include "state/AppEnv.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QNetworkInterface>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

namespace {

// --check-options: what a start would make of the options, without a window.
// The warnings go where a start's go; the summary to standard output.
int checkOptions(const CommandLine &commandLine, const QString &program, int argc, char *argv[])
{
    for (const QString &argument : commandLine.ignored) {
        const QString where = commandLine.settingsOptions.contains(argument)
                                  ? commandLine.settingsFile + QStringLiteral(": QV4_OPTIONS: ")
                                  : QString();
        qWarning("%s", qUtf8Printable(where + CommandLine::ignoredMessage(argument)));
    }
    QStringList terminals;
    for (const auto &[address, length] : commandLine.allowedTerminals) {
        const bool host = length == (address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
        terminals << (host ? address.toString()
                           : QStringLiteral("%1/%2").arg(address.toString()).arg(length));
    }
    QString listen = QStringLiteral("every interface");
    if (!commandLine.listenAddress.isNull()) {
        listen = commandLine.listenAddress.toString();
        if (!QNetworkInterface::allAddresses().contains(commandLine.listenAddress))
            listen += QStringLiteral(", which this machine does not have yet: the display waits for it");
    }
    if (!commandLine.settingsFile.isEmpty()) {
        std::printf("%s: options from %s: %s\n", qPrintable(program), qPrintable(commandLine.settingsFile),
                    commandLine.settingsOptions.isEmpty()
                        ? "(none)"
                        : qPrintable(commandLine.settingsOptions.join(u' ')));
    }
    std::printf("%s: options %s: terminals from %s; listening on %s\n", qPrintable(program),
                commandLine.ignored.isEmpty() ? "OK" : "ignored in part",
                terminals.isEmpty() ? "any host (no --allow-terminal)" : qPrintable(terminals.join(u", ")),
                qPrintable(listen));
    // The names --screen takes, where a display server answers to ask it.
    if (!commandLine.displayServerMissing() && commandLine.unreachableXDisplay().isEmpty()) {
        QGuiApplication app(argc, argv);
        const QStringList screens = ScreenChoice::screenList();
        std::printf("%s: screens: %s\n", qPrintable(program), qPrintable(screens.join(u", ")));
        if (!commandLine.screenName.isEmpty() && !ScreenChoice::hasScreen(commandLine.screenName))
            std::printf("%s: screen \"%s\" (--screen) is not connected now: the display shows nothing "
                        "until it is\n",
                        qPrintable(program), qPrintable(commandLine.screenName));
    }
    return commandLine.ignored.isEmpty() ? 0 : 1;
}

// An X server started with the session may not answer yet: it gets 30 s,
// with one line to say so. True once it answers.
bool waitForXServer(const CommandLine &commandLine, const QString &program, const QString &name)
{
    std::fprintf(stderr,
                 "%s: the X display \"%s\" (DISPLAY) does not answer yet; waiting up to 30 s for it\n",
                 qPrintable(program), qPrintable(name));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        Heartbeat::beat();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (commandLine.unreachableXDisplay().isEmpty())
            return true;
    }
    return false;
}

// Help, version and malformed values are answered before anything needs a
// screen; returns the exit code, or -1 to go on.
int answerBeforeStart(const CommandLine &commandLine, const QStringList &arguments, int argc, char *argv[])
{
    const QString program = QFileInfo(arguments.value(0, QStringLiteral("appqv4App"))).fileName();

    if (commandLine.helpRequested || commandLine.versionRequested) {
        // The version string is formed by AppEnv from the application's identity.
        QCoreApplication info(argc, argv);
        AppStartup::configureApplication(info);
        const QString text =
            commandLine.helpRequested ? CommandLine::helpText(program) : AppEnv().longVersionString() + u'\n';
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    // Started at login with its settings, full screen, the display says on the
    // screen why it does not run (a restart would not help); from a terminal it exits.
    const bool serviceScreen = !commandLine.settingsFile.isEmpty() && commandLine.fullScreenRequests > 0;
    if (!commandLine.error.isEmpty() && (commandLine.checkOnly || !serviceScreen)) {
        std::fprintf(stderr, "%s: %s (see --help)\n", qPrintable(program), qPrintable(commandLine.error));
        return 2;
    }
    if (commandLine.checkOnly)
        return checkOptions(commandLine, program, argc, argv);
    QString missing;
    if (commandLine.displayServerMissing())
        missing = QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    else if (const QString name = commandLine.unreachableXDisplay();
             !name.isEmpty() && !waitForXServer(commandLine, program, name))
        missing = QStringLiteral("cannot open the X display \"%1\" (DISPLAY)").arg(name);
    if (!missing.isEmpty()) {
        // xinit takes a client only by its path.
        QString path = arguments.value(0);
        if (!path.contains(u'/'))
            path = QStandardPaths::findExecutable(path);
        std::fprintf(stderr,
                     "%s: no display server: %s. Start it in a graphical session, on a bare X server with "
                     "\"xinit %s --use-fullscreen\", or without a screen with QT_QPA_PLATFORM=offscreen.\n",
                     qPrintable(program), qPrintable(missing),
                     qPrintable(QFileInfo(path).absoluteFilePath()));
        return 1;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    AllocatorTuning::apply();
    // Read once, here, before the application object exists; the services get it from AppCore.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = SettingsFile::apply(CommandLine::parse(arguments), arguments);
    SettingsFile::extendArguments(argc, argv, commandLine.settingsOptions);
    if (const int exitCode = answerBeforeStart(commandLine, arguments, argc, argv); exitCode >= 0)
        return exitCode;
    if (!commandLine.error.isEmpty())
        return ServiceScreen::run(argc, argv, commandLine.error);

    // Before Qt starts its threads; answered before the window.
    RendererChoice::Probe rendererProbe = RendererChoice::start(commandLine.renderer, argc, argv);
    QGuiApplication app(argc, argv);
    AppStartup::configureApplication(app);

    int exitCode = 0;
    {
        AppCore core(commandLine);
        CachingNetworkAccessManagerFactory factory;
        // The engine goes first at shutdown so no document outlives what it binds to.
        auto engine = std::make_unique<QQmlApplicationEngine>();
        AppStartup::prepareEngine(*engine, core, &factory);
        // The scene graph is chosen once, for the whole run, before the window.
        RendererChoice::finish(rendererProbe);
        ScreenChoice screenChoice(commandLine.screenName, commandLine.scale, core.appEnv()->useFullScreen());
        engine->setInitialProperties(screenChoice.initialProperties());
        AppStartup::loadMain(*engine);

        // A kiosk has nobody to move the cursor away or wake the screen.
        std::optional<KioskCursor> cursor;
        std::optional<ScreenAwake> awake;
        auto *window = qobject_cast<QQuickWindow *>(engine->rootObjects().value(0));
        screenChoice.attach(window);
        if (window && core.appEnv()->useFullScreen()) {
            cursor.emplace(window);
            if (core.envService()->allowScreenBlanking())
                qCInfo(lcKiosk, "Screen blanking allowed (--allow-screen-blanking)");
            else
                awake.emplace();
        }

        Heartbeat heartbeat;
        exitCode = QGuiApplication::exec();
        awake.reset();
        cursor.reset();
        engine.reset();
    }
    return exitCode;
}
