#pragma once

#include "PictureShape.h"
#include "ScenarioStep.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// Reads a message file or a JSON Lines scenario and checks all of it before
// anything is sent, so that a broken file never leaves a display half-fed.
// What can be sent but that the display will warn about (the display's own
// check, raw lines included) is collected as warnings, one per line, with
// promo pictures of the scenario's own that the slideshow crops by more than half.
//
// Keys of our own, taken out of each line before it is sent:
//   "delay_ms"    pause before the message, in milliseconds
//   "raw"         send this string's UTF-8 bytes instead of the line (only warned about)
//   "raw_base64"  send these bytes instead of the line (for invalid UTF-8, empty messages)
//   "text_frame"  true: send as a text message rather than a binary one
// The placeholder ${SCENARIO_URL} in any string value becomes the file:// URL
// of the folder holding the file (or the base URL given instead).
class ScenarioLoader
{
public:
    static constexpr qint64 maxMessageSize = 16 * 1024 * 1024; // the display's cap
    static const QString placeholder;

    // jsonLines: one message per line; otherwise the whole input is one message.
    // raw: send the bytes as they are, with no check and no keys of our own.
    ScenarioLoader(bool jsonLines, bool raw);

    // Replaces what ${SCENARIO_URL} expands to (default: the file's folder).
    void setBaseUrl(const QString &url) { m_baseUrl = url; }

    // "-" reads standard input. On failure errorCode() and errorString() say why.
    bool loadFile(const QString &path);
    bool loadData(const QByteArray &data, const QString &sourceName, const QString &folder);

    const QList<ScenarioStep> &steps() const { return m_steps; }
    const QStringList &warnings() const { return m_warnings; }
    int errorCode() const { return m_errorCode; }
    QString errorString() const { return m_errorString; }

    static QString typeName(const QJsonValue &value);

private:
    bool addMessage(const QByteArray &text, int firstLine);
    bool addRaw(const QByteArray &bytes, int line);
    void addStep(const ScenarioStep &step);
    bool fail(int code, const QString &message);
    QJsonValue expand(const QJsonValue &value) const;

    bool m_jsonLines;
    bool m_raw;
    QString m_baseUrl;
    QString m_expansion;
    QString m_source;
    QList<ScenarioStep> m_steps;
    QStringList m_warnings;
    PictureShape m_pictureShape;
    int m_errorCode = 0;
    QString m_errorString;
};
