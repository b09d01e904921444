#include "SettingsFile.h"

#include "CommandLine.h"

#include <QFile>
#include <QRegularExpression>

#include <optional>
#include <vector>

namespace {

// One value from where it starts to the end of its line; empty optional when
// it cannot be read, with *why saying so.
std::optional<QString> parseValue(QStringView text, QString *why)
{
    QString value;
    qsizetype i = 0;
    if (!text.isEmpty() && (text.front() == u'"' || text.front() == u'\'')) {
        const QChar quote = text.front();
        for (i = 1; i < text.size() && text.at(i) != quote; ++i) {
            // In double quotes a backslash keeps the next \ " $ or ` as it is.
            if (quote == u'"' && text.at(i) == u'\\' && i + 1 < text.size() &&
                QStringView(u"\\\"$`").contains(text.at(i + 1)))
                ++i;
            value += text.at(i);
        }
        if (i == text.size()) {
            *why = QStringLiteral("the quote %1 is not closed on this line").arg(quote);
            return std::nullopt;
        }
        if (!text.mid(i + 1).trimmed().isEmpty()) {
            *why = QStringLiteral("text after the closing quote (a comment goes on a line of its own)");
            return std::nullopt;
        }
        return value;
    }
    // Bare: up to the end of the line, without its trailing spaces; a
    // backslash keeps the next character as it is.
    for (; i < text.size(); ++i) {
        if (text.at(i) == u'\\') {
            if (++i == text.size()) {
                *why = QStringLiteral("a backslash at the end of the line (values take one line)");
                return std::nullopt;
            }
        }
        value += text.at(i);
    }
    return value;
}

} // namespace

SettingsFile SettingsFile::parse(const QByteArray &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    SettingsFile result;
    const QStringList lines = QString::fromUtf8(text).split(u'\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed();
        QString why;
        std::optional<QString> value;
        if (equals < 0 || !name.match(key).hasMatch())
            why = QStringLiteral("not VARIABLE=value");
        else
            value = parseValue(QStringView(line).mid(equals + 1).trimmed(), &why);
        if (!value) {
            result.variables.clear();
            result.error = QStringLiteral("line %1: %2: %3").arg(n + 1).arg(why, line);
            return result;
        }
        result.variables.append({key, *value});
    }
    return result;
}

SettingsFile SettingsFile::read(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        SettingsFile result;
        result.error = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return result;
    }
    return parse(file.readAll());
}

QString SettingsFile::value(const QString &name) const
{
    QString found;
    for (const auto &[key, value] : variables) {
        if (key == name)
            found = value; // the last one wins, as in the environment
    }
    return found;
}

CommandLine SettingsFile::apply(const CommandLine &commandLine, QStringList &arguments)
{
    if (commandLine.settingsFile.isEmpty() || commandLine.helpRequested || commandLine.versionRequested)
        return commandLine;
    const QString &path = commandLine.settingsFile;
    const SettingsFile settings = read(path);
    if (!settings.error.isEmpty()) {
        CommandLine result = commandLine;
        result.error = QStringLiteral("%1, %2").arg(path, settings.error);
        return result;
    }
    for (const auto &[key, value] : settings.variables)
        qputenv(qPrintable(key), value.toLocal8Bit());
    // Words, as systemd splits $QV4_OPTIONS: quotes inside the value are no help.
    const QStringList options = settings.value(QStringLiteral("QV4_OPTIONS"))
                                    .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    arguments += options;
    CommandLine result = CommandLine::parse(arguments);
    result.settingsOptions = options;
    if (commandLine.error.isEmpty() && !result.error.isEmpty())
        result.error = QStringLiteral("%1: QV4_OPTIONS: %2").arg(path, result.error);
    return result;
}

void SettingsFile::extendArguments(int &argc, char **&argv, const QStringList &options)
{
    if (options.isEmpty())
        return;
    // Qt keeps referring to them until the end of main().
    static std::vector<QByteArray> words;
    static std::vector<char *> vector;
    vector.assign(argv, argv + argc);
    for (const QString &option : options)
        words.push_back(option.toLocal8Bit());
    for (QByteArray &word : words)
        vector.push_back(word.data());
    argc = int(vector.size());
    vector.push_back(nullptr);
    argv = vector.data();
}
