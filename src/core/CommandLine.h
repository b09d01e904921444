#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The display's command line. main() reads it once, before the application
// object exists (help, version, malformed values, no display server), and
// hands it through AppCore to EnvService; a new option is one more field
// here, one more case in parse() and one more line in helpText(). Qt's own options are left to Qt; anything
// else that is not understood is only reported, since a kiosk must not stay dark over a stray argument.
struct CommandLine
{
    // arguments.first() is the program and is never an option.
    static CommandLine parse(const QStringList &arguments);

    // Usage line, every option and the rules for the rest, as --help prints them.
    static QString helpText(const QString &program);

    // The warning a start gives for an argument it ignores.
    static QString ignoredMessage(const QString &argument);

    bool helpRequested = false;
    bool versionRequested = false;
    bool checkOnly = false;     // --check-options: report on the rest and exit
    int fullScreenRequests = 0; // each --use-fullscreen sets the flag again
    bool allowScreenBlanking = false;
    QHostAddress listenAddress;                       // null: every interface
    QList<QPair<QHostAddress, int>> allowedTerminals; // empty: any host
    QString renderer = QStringLiteral("auto");        // --renderer: auto, opengl or software
    QString screenName;                               // --screen: empty, the first screen
    QString scale = QStringLiteral("dpi");            // --scale: dpi, fit or a factor
    QStringList ignored;                              // not understood, as given
    QString error; // a value that is not what its option takes: start-up stops
    QString settingsFile;        // --settings FILE, read by SettingsFile::apply()
    QStringList settingsOptions; // the words of its QV4_OPTIONS, appended to the arguments

    // -platform and -display as given to Qt, if they were.
    QString platformArgument;
    bool hasDisplayArgument = false;

    // Qt would pick xcb or Wayland and there is no server named to talk to,
    // so it would abort. Reads the environment.
    bool displayServerMissing() const;

    // Qt would talk to the X server that DISPLAY names and it does not answer
    // (not started yet, or gone), so it would abort: that name, else empty.
    // Tries a connection.
    QString unreachableXDisplay() const;
};
