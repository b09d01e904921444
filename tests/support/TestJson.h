#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QtGlobal>

// JSON written inside tests; a typo there is the test's fault, not the code's.
namespace TestJson {

inline QJsonDocument parse(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", json.constData());
    return document;
}

inline QJsonObject parseObject(const QByteArray &json)
{
    const QJsonDocument document = parse(json);
    if (!document.isObject())
        qFatal("test JSON is not an object: %s", json.constData());
    return document.object();
}

inline QJsonArray parseArray(const QByteArray &json)
{
    const QJsonDocument document = parse(json);
    if (!document.isArray())
        qFatal("test JSON is not an array: %s", json.constData());
    return document.array();
}

} // namespace TestJson
