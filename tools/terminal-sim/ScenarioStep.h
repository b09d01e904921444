#pragma once

#include <QByteArray>
#include <QString>

// One message ready for the wire, with where it came from.
struct ScenarioStep
{
    int line = 0;           // line of the file it came from, counting from 1
    qint64 delayMs = 0;     // pause before it is sent
    QByteArray payload;     // exactly the bytes of the WebSocket message
    bool textFrame = false; // sent as a text message (which the display ignores)
    QString kind;           // its "path", for progress output; empty for raw bytes
};
