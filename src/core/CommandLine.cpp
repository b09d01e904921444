#include "CommandLine.h"

#include "kiosk/RendererChoice.h"
#include "kiosk/ScreenChoice.h"
#include "network/TerminalAccess.h"

#include <QCommandLineParser>

#ifdef QV4_HAVE_X11
#include <X11/Xlib.h>
#endif

namespace {

const QString fullScreenName = QStringLiteral("use-fullscreen");
const QString blankingName = QStringLiteral("allow-screen-blanking");
const QString terminalName = QStringLiteral("allow-terminal");
const QString listenName = QStringLiteral("listen");
const QString rendererName = QStringLiteral("renderer");
const QString helpName = QStringLiteral("help");
const QString versionName = QStringLiteral("version");
const QString checkName = QStringLiteral("check-options");
const QString settingsName = QStringLiteral("settings");
const QString screenOptionName = QStringLiteral("screen");
const QString scaleOptionName = QStringLiteral("scale");

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Customer-facing order display: shows the order that a POS terminal sends to it\n"
                       "over a WebSocket on TCP port 30058."));
    parser.addOption({fullScreenName, QStringLiteral("Cover the whole screen (kiosk mode). The mouse cursor "
                                                     "hides after 3 s without movement and the screen does "
                                                     "not blank.")});
    parser.addOption({blankingName, QStringLiteral("With --use-fullscreen, let the screen saver and power "
                                                   "saving blank the screen as usual.")});
    parser.addOption({terminalName,
                      QStringLiteral("Accept terminals from ADDRESS only: an IPv4 or IPv6 address, or a "
                                     "subnet in CIDR form (192.168.1.20, 192.168.1.0/28, fd00::/64). "
                                     "Repeat it for more. Without it, any host on the network can drive "
                                     "the display."),
                      QStringLiteral("ADDRESS")});
    parser.addOption({listenName,
                      QStringLiteral("Listen on this one local IPv4 or IPv6 address instead of every "
                                     "interface."),
                      QStringLiteral("ADDRESS")});
    parser.addOption({rendererName,
                      QStringLiteral("Which scene graph draws the window: auto (the default) takes the "
                                     "software one where OpenGL runs on the CPU or is missing, OpenGL "
                                     "where a GPU draws; opengl or software force one. QT_QUICK_BACKEND "
                                     "or QSG_RHI_BACKEND, when set, win."),
                      QStringLiteral("auto|opengl|software")});
    parser.addOption({screenOptionName,
                      QStringLiteral("Open the window on the screen of this name only, as xrandr "
                                     "--listmonitors shows it (HDMI-1, DP-2, ...); while it is missing the "
                                     "display shows nothing, and comes back when it returns. "
                                     "--check-options lists the screens."),
                      QStringLiteral("NAME")});
    parser.addOption({scaleOptionName,
                      QStringLiteral("Size of the interface: dpi (the default) follows the screen's dots "
                                     "per inch; fit scales the design to fill the window; a number from "
                                     "0.25 to 8 fixes the factor."),
                      QStringLiteral("dpi|fit|FACTOR")});
    parser.addOption({checkName, QStringLiteral("Check the other options as a start would, say what it would "
                                                "do with them, and exit without a window: 0 when they are "
                                                "sound, 1 when some would be ignored, 2 when the display "
                                                "would not start.")});
    parser.addOption({settingsName,
                      QStringLiteral("Read options (QV4_OPTIONS) and environment from FILE, as the start at "
                                     "login does (see qv4-autostart(1)). With --use-fullscreen, a line it "
                                     "cannot read or a malformed option shows a service screen instead "
                                     "of ending."),
                      QStringLiteral("FILE")});
    parser.addOption({{QStringLiteral("h"), helpName}, QStringLiteral("Show this help and exit.")});
    parser.addOption({{QStringLiteral("v"), versionName}, QStringLiteral("Print the version and exit.")});
}

bool takesValue(const QString &name)
{
    return name == terminalName || name == listenName || name == rendererName || name == settingsName ||
           name == screenOptionName || name == scaleOptionName;
}

bool isOwnLongOption(const QString &name)
{
    return name == fullScreenName || name == blankingName || takesValue(name) || name == helpName ||
           name == versionName || name == checkName;
}

// The options QGuiApplication, its xcb platform and the QML debugger read
// from the command line, with one dash or two as Qt accepts them.
struct QtOption
{
    QLatin1String name;
    bool takesValue;
};
const QtOption qtOptions[] = {
    {QLatin1String("platform"), true},
    {QLatin1String("platformpluginpath"), true},
    {QLatin1String("platformtheme"), true},
    {QLatin1String("plugin"), true},
    {QLatin1String("qwindowgeometry"), true},
    {QLatin1String("qwindowicon"), true},
    {QLatin1String("qwindowtitle"), true},
    {QLatin1String("style"), true},
    {QLatin1String("session"), true},
    {QLatin1String("qmljsdebugger"), true},
    {QLatin1String("display"), true},
    {QLatin1String("name"), true},
    {QLatin1String("title"), true},
    {QLatin1String("geometry"), true},
    {QLatin1String("icon"), true},
    {QLatin1String("visual"), true},
    {QLatin1String("reverse"), false},
    {QLatin1String("testability"), false},
    {QLatin1String("nograb"), false},
    {QLatin1String("dograb"), false},
};

// The Qt option an argument is, if it is one; *attached tells whether its value came with it.
const QtOption *qtOption(const QString &argument, bool *attached)
{
    if (argument.size() < 2 || argument.front() != u'-')
        return nullptr;
    QStringView name = QStringView(argument).mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    *attached = false;
    const qsizetype equals = name.indexOf(u'=');
    if (equals >= 0) {
        // Only these two take "-name=value".
        name = name.left(equals);
        if (name != QLatin1String("style") && name != QLatin1String("qmljsdebugger"))
            return nullptr;
        *attached = true;
    }
    for (const QtOption &option : qtOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

QString valueWanted(const QString &name)
{
    if (name == rendererName)
        return QStringLiteral("auto, opengl or software");
    if (name == screenOptionName)
        return QStringLiteral("a screen NAME");
    if (name == scaleOptionName)
        return QStringLiteral("dpi, fit or a FACTOR");
    if (name == settingsName)
        return QStringLiteral("a FILE");
    return QStringLiteral("an ADDRESS");
}

std::optional<QHostAddress> parseListenAddress(const QString &text)
{
    if (text.contains(u'/') || !TerminalAccess::parseEntry(text))
        return std::nullopt;
    // Checked strictly above; parsed again to keep a link-local address's scope.
    return QHostAddress(text.trimmed());
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine result;
    // What QCommandLineParser sees: our own options only, each with its value.
    QStringList own{arguments.value(0)};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        bool attached = false;
        if (argument == QLatin1String("--")) {
            // The rest are arguments, and the display takes none.
            result.ignored += arguments.mid(i);
            break;
        }
        if (const QtOption *option = qtOption(argument, &attached)) {
            const bool hasValue = option->takesValue && !attached && i + 1 < arguments.size();
            const QString value = hasValue ? arguments.at(++i) : QString();
            if (option->name == QLatin1String("platform"))
                result.platformArgument = value;
            else if (option->name == QLatin1String("display"))
                result.hasDisplayArgument = true;
            continue;
        }
        if (argument == QLatin1String("-h") || argument == QLatin1String("-v")) {
            own << argument;
            continue;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            result.ignored << argument;
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (!isOwnLongOption(name) || (equals >= 0 && !takesValue(name))) {
            result.ignored << argument;
            continue;
        }
        if (takesValue(name) && equals < 0 && i + 1 == arguments.size()) {
            // Still read the rest: --help goes before any complaint.
            result.error = QStringLiteral("%1 needs %2").arg(argument, valueWanted(name));
            continue;
        }
        own << argument;
        if (takesValue(name) && equals < 0)
            own << arguments.at(++i);
    }

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(own) && result.error.isEmpty())
        result.error = parser.errorText();
    result.helpRequested = parser.isSet(helpName);
    result.versionRequested = parser.isSet(versionName);
    result.checkOnly = parser.isSet(checkName);
    result.fullScreenRequests = int(parser.optionNames().count(fullScreenName));
    result.allowScreenBlanking = parser.isSet(blankingName);
    if (parser.isSet(settingsName))
        result.settingsFile = parser.values(settingsName).constLast();

    // The first complaint is the one reported.
    auto fail = [&result](const QString &message) {
        if (result.error.isEmpty())
            result.error = message;
        return result;
    };

    for (const QString &value : parser.values(terminalName)) {
        const auto subnet = TerminalAccess::parseEntry(value);
        if (!subnet) {
            return fail(QStringLiteral("--%1 \"%2\": not an IPv4 or IPv6 address, nor a subnet in CIDR form "
                                       "such as 192.168.1.0/24 or fd00::/64")
                            .arg(terminalName, value));
        }
        result.allowedTerminals << *subnet;
    }
    for (const QString &value : parser.values(listenName)) {
        const auto address = parseListenAddress(value);
        if (!address)
            return fail(QStringLiteral("--%1 \"%2\": not an IPv4 or IPv6 address").arg(listenName, value));
        if (!result.listenAddress.isNull() && result.listenAddress != *address) {
            return fail(QStringLiteral("--%1 given twice, as %2 and %3: the display listens on one address")
                            .arg(listenName, result.listenAddress.toString(), value));
        }
        result.listenAddress = *address;
    }
    if (parser.isSet(rendererName)) {
        const QString value = parser.values(rendererName).constLast();
        if (!RendererChoice::isOption(value))
            return fail(
                QStringLiteral("--%1 \"%2\": not one of auto, opengl, software").arg(rendererName, value));
        result.renderer = value;
    }
    if (parser.isSet(screenOptionName)) {
        const QString value = parser.values(screenOptionName).constLast().trimmed();
        if (value.isEmpty())
            return fail(QStringLiteral("--%1 needs %2").arg(screenOptionName, valueWanted(screenOptionName)));
        result.screenName = value;
    }
    if (parser.isSet(scaleOptionName)) {
        const QString value = parser.values(scaleOptionName).constLast().trimmed();
        if (!ScreenChoice::isScaleOption(value))
            return fail(QStringLiteral("--%1 \"%2\": not dpi, fit, nor a factor from 0.25 to 8")
                            .arg(scaleOptionName, value));
        result.scale = value;
    }
    return result;
}

QString CommandLine::helpText(const QString &program)
{
    QCommandLineParser parser;
    addOptions(parser);
    QString text = parser.helpText();
    // Qt names the program by the path it was started with, or not at all before the application exists.
    text.replace(0, text.indexOf(u'\n'), QStringLiteral("Usage: %1 [options]").arg(program));
    text +=
        QStringLiteral("\nQt's own options (-platform, -qwindowgeometry, -style, ...) are passed on to Qt.\n"
                       "Any other argument is ignored with a warning. A malformed value stops\n"
                       "start-up with exit status 2; without a display server the display exits\n"
                       "with status 1.\n");
    return text;
}

QString CommandLine::ignoredMessage(const QString &argument)
{
    return QStringLiteral("Ignoring \"%1\": not an option of this display (see --help)").arg(argument);
}

bool CommandLine::displayServerMissing() const
{
    const QString platforms =
        platformArgument.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platformArgument;
    // Unset, Qt picks xcb or Wayland here. A list ("wayland;xcb") is tried in order.
    for (const QString &entry : platforms.split(u';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u':', 0, 0).trimmed();
        if (!name.isEmpty() && name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland")))
            return false; // offscreen, eglfs, vnc, ...: no server needed, or Qt's own message
    }
    if (hasDisplayArgument)
        return false;
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return false;
    }
    return true;
}

QString CommandLine::unreachableXDisplay() const
{
    const QString platforms =
        platformArgument.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platformArgument;
    const QString first = platforms.section(u';', 0, 0).section(u':', 0, 0).trimmed();
    if (!first.isEmpty() && first != QLatin1String("xcb"))
        return {};
    // Unset, Qt may prefer Wayland; -display names a server we do not look for.
    if (first.isEmpty() &&
        (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_SOCKET")))
        return {};
    const QByteArray name = qgetenv("DISPLAY");
    if (hasDisplayArgument || name.isEmpty())
        return {};
#ifdef QV4_HAVE_X11
    if (Display *display = XOpenDisplay(name.constData())) {
        // The first one is kept open: an X server resets when its last client
        // leaves, and Qt's own connection, right after, would meet the reset.
        static Display *const kept = display;
        if (display != kept)
            XCloseDisplay(display);
        return {};
    }
    return QString::fromLocal8Bit(name);
#else
    return {};
#endif
}
