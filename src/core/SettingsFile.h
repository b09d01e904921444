#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct CommandLine;

// The administrator's settings of a start at login (/etc/default/qv4-order-screen),
// read the way systemd's EnvironmentFile reads them, never run as shell:
// VARIABLE=value lines, the value bare or in quotes, '#' and ';' comment lines.
// A line that cannot be read is an error of the whole file: nothing of it is used.
struct SettingsFile
{
    static SettingsFile parse(const QByteArray &text);
    // A missing file is no settings at all; an unreadable one is an error.
    static SettingsFile read(const QString &path);

    // --settings: reads the file the command line names, puts its variables
    // into the environment and appends the words of QV4_OPTIONS to the
    // arguments. A complaint names the file and the line or QV4_OPTIONS, and
    // becomes the command line's error. Before anything of Qt starts.
    static CommandLine apply(const CommandLine &commandLine, QStringList &arguments);

    // Appends the options to the argument vector Qt gets, so that the
    // settings' Qt options (-platform, ...) reach it as the command line's do.
    static void extendArguments(int &argc, char **&argv, const QStringList &options);

    QList<QPair<QString, QString>> variables; // in the order of the file
    QString error;                            // "line N: why"; empty when read

    QString value(const QString &name) const;
};
