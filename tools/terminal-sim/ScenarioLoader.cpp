#include "ScenarioLoader.h"

#include "ExitCode.h"
#include "protocol/MessageCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrl>

#include <cmath>

namespace {

const QString kDelay = QStringLiteral("delay_ms");
const QString kRaw = QStringLiteral("raw");
const QString kRawBase64 = QStringLiteral("raw_base64");
const QString kTextFrame = QStringLiteral("text_frame");

} // namespace

const QString ScenarioLoader::placeholder = QStringLiteral("${SCENARIO_URL}");

ScenarioLoader::ScenarioLoader(bool jsonLines, bool raw) : m_jsonLines(jsonLines), m_raw(raw) {}

QString ScenarioLoader::typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

bool ScenarioLoader::loadFile(const QString &path)
{
    QFile file;
    QString folder;
    QString name = path;
    if (path == QLatin1String("-")) {
        name = QStringLiteral("<stdin>");
        folder = QDir::currentPath();
        if (!file.open(stdin, QIODevice::ReadOnly))
            return fail(ExitCode::Unreadable, QStringLiteral("cannot read standard input"));
    } else {
        const QFileInfo info(path);
        if (info.isDir())
            return fail(ExitCode::Unreadable, QStringLiteral("%1: is a folder, not a file").arg(path));
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(ExitCode::Unreadable,
                        QStringLiteral("%1: cannot read: %2").arg(path, file.errorString()));
        folder = info.absolutePath();
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(ExitCode::Unreadable,
                    QStringLiteral("%1: cannot read: %2").arg(name, file.errorString()));
    return loadData(data, name, folder);
}

bool ScenarioLoader::loadData(const QByteArray &input, const QString &sourceName, const QString &folder)
{
    m_source = sourceName;
    m_steps.clear();
    m_warnings.clear();
    m_expansion = m_baseUrl.isEmpty() ? QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded) : m_baseUrl;
    while (m_expansion.endsWith(QLatin1Char('/')) && !m_expansion.endsWith(QLatin1String(":///")))
        m_expansion.chop(1);

    QByteArray data = input;
    // Editors on some systems put a byte order mark in front; JSON has no use for it.
    if (!m_raw && data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);

    if (!m_jsonLines) {
        if (m_raw)
            return addRaw(data, 1);
        return addMessage(data, 1);
    }

    const QList<QByteArray> lines = data.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        const bool ok = m_raw ? addRaw(line, int(i + 1)) : addMessage(line, int(i + 1));
        if (!ok)
            return false;
    }
    if (m_steps.isEmpty())
        return fail(ExitCode::InvalidMessage, QStringLiteral("%1: holds no message").arg(m_source));
    return true;
}

bool ScenarioLoader::addRaw(const QByteArray &bytes, int line)
{
    ScenarioStep step;
    step.line = line;
    step.payload = bytes;
    addStep(step);
    return true;
}

void ScenarioLoader::addStep(const ScenarioStep &step)
{
    // What the display will warn about, as it will word it.
    const QStringList problems =
        step.textFrame ? QStringList{MessageCheck::textFrameProblem()} : MessageCheck::check(step.payload);
    for (const QString &problem : problems)
        m_warnings.append(QStringLiteral("%1:%2: warning: %3").arg(m_source).arg(step.line).arg(problem));
    m_steps.append(step);
}

bool ScenarioLoader::addMessage(const QByteArray &text, int firstLine)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt's parser refuses a bare number or string at the top; that is JSON all the same.
        const QJsonDocument wrapped = QJsonDocument::fromJson('[' + text + ']');
        if (wrapped.isArray() && wrapped.array().size() == 1)
            return fail(ExitCode::InvalidMessage,
                        QStringLiteral("%1:%2: not a message: expected a JSON object, got %3")
                            .arg(m_source)
                            .arg(firstLine)
                            .arg(typeName(wrapped.array().at(0))));
        // Report where, as an editor counts: line and column of the offending byte.
        const int offset = int(qBound(0, error.offset, int(text.size())));
        const QByteArray before = text.left(offset);
        const int line = firstLine + int(before.count('\n'));
        const int column = offset - int(before.lastIndexOf('\n'));
        return fail(ExitCode::InvalidJson, QStringLiteral("%1:%2:%3: invalid JSON: %4")
                                               .arg(m_source)
                                               .arg(line)
                                               .arg(column)
                                               .arg(error.errorString()));
    }

    const QString where = QStringLiteral("%1:%2").arg(m_source).arg(firstLine);
    if (!document.isObject()) {
        return fail(ExitCode::InvalidMessage,
                    QStringLiteral("%1: not a message: expected a JSON object, got an array").arg(where));
    }
    QJsonObject object = document.object();

    ScenarioStep step;
    step.line = firstLine;

    if (object.contains(kDelay)) {
        const QJsonValue delay = object.take(kDelay);
        const double ms = delay.toDouble(-1);
        if (!delay.isDouble() || !std::isfinite(ms) || ms < 0 || ms > 24.0 * 3600 * 1000)
            return fail(
                ExitCode::InvalidMessage,
                QStringLiteral("%1: \"%2\" must be a number of milliseconds from 0 to 86400000, got %3")
                    .arg(where, kDelay, typeName(delay)));
        step.delayMs = qint64(ms);
    }
    if (object.contains(kTextFrame)) {
        const QJsonValue frame = object.take(kTextFrame);
        if (!frame.isBool())
            return fail(ExitCode::InvalidMessage,
                        QStringLiteral("%1: \"%2\" must be true or false").arg(where, kTextFrame));
        step.textFrame = frame.toBool();
    }

    // A raw line stands for bytes that need not be a message at all: nothing else may ride along.
    const bool hasRaw = object.contains(kRaw);
    const bool hasRawBase64 = object.contains(kRawBase64);
    if (hasRaw || hasRawBase64) {
        if (hasRaw && hasRawBase64)
            return fail(
                ExitCode::InvalidMessage,
                QStringLiteral("%1: use either \"%2\" or \"%3\", not both").arg(where, kRaw, kRawBase64));
        const QString key = hasRaw ? kRaw : kRawBase64;
        const QJsonValue value = object.take(key);
        if (!object.isEmpty())
            return fail(ExitCode::InvalidMessage,
                        QStringLiteral("%1: a line with \"%2\" carries no other keys (found \"%3\")")
                            .arg(where, key, object.keys().constFirst()));
        if (!value.isString())
            return fail(
                ExitCode::InvalidMessage,
                QStringLiteral("%1: \"%2\" must be a string, got %3").arg(where, key, typeName(value)));
        if (hasRaw) {
            step.payload = value.toString().toUtf8();
        } else {
            const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                                QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                return fail(ExitCode::InvalidMessage,
                            QStringLiteral("%1: \"%2\" is not valid Base64").arg(where, kRawBase64));
            step.payload = *decoded;
        }
        addStep(step);
        return true;
    }

    const QJsonValue path = object.value(QLatin1String("path"));
    const QJsonValue content = object.value(QLatin1String("content"));
    if (path.isUndefined())
        return fail(ExitCode::InvalidMessage, QStringLiteral("%1: not a message: no \"path\"").arg(where));
    if (!path.isString())
        return fail(ExitCode::InvalidMessage,
                    QStringLiteral("%1: not a message: \"path\" must be a string, got %2")
                        .arg(where, typeName(path)));
    if (content.isUndefined())
        return fail(ExitCode::InvalidMessage, QStringLiteral("%1: not a message: no \"content\"").arg(where));
    if (!content.isObject())
        return fail(ExitCode::InvalidMessage,
                    QStringLiteral("%1: not a message: \"content\" must be an object, got %2")
                        .arg(where, typeName(content)));

    step.kind = path.toString();

    const QJsonObject expanded = expand(object).toObject();
    step.payload = QJsonDocument(expanded).toJson(QJsonDocument::Compact);
    if (step.payload.size() > maxMessageSize)
        return fail(ExitCode::InvalidMessage,
                    QStringLiteral("%1: the message is %2 bytes; the display accepts at most %3")
                        .arg(where)
                        .arg(step.payload.size())
                        .arg(maxMessageSize));
    addStep(step);
    // Not a warning of the display's: it cannot know how a picture will look.
    if (step.kind == QLatin1String("promo_image")) {
        const QStringList problems =
            m_pictureShape.check(expanded.value(QLatin1String("content")).toObject());
        for (const QString &problem : problems)
            m_warnings.append(QStringLiteral("%1: warning: %2").arg(where, problem));
    }
    return true;
}

QJsonValue ScenarioLoader::expand(const QJsonValue &value) const
{
    if (value.isString()) {
        QString text = value.toString();
        return text.replace(placeholder, m_expansion);
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            array[i] = expand(array.at(i));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = expand(it.value());
        return object;
    }
    return value;
}

bool ScenarioLoader::fail(int code, const QString &message)
{
    m_errorCode = code;
    m_errorString = message;
    return false;
}
