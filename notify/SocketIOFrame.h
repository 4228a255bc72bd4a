#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One received Engine.IO/Socket.IO frame, decoded without side effects, and the
// few frames the client sends. Kept apart from the socket so the wire format
// can be tested (and fuzzed) with plain strings.
class SocketIOFrame
{
public:
    enum Type
    {
        Open,        // "0": Engine.IO handshake with the heartbeat settings
        Pong,        // "3": answer to our ping
        Event,       // "4x" with an array payload: a named event
        Disconnect,  // "41...": the server ends the Socket.IO session
        Ignored,     // "4x" without an array payload (e.g. the "40" connect ack)
        Unrecognised // anything else, logged to the debug output only
    };

    Type type = Unrecognised;
    QString code; // the leading packet digits, empty when there are none
    // Open: the server's "pingTimeout" in ms when it is a number >= 1, else 0.
    int pingTimeoutMsecs = 0;
    // Open: the server's "pingInterval" in ms when it is a number >= 1, else 0.
    int pingIntervalMsecs = 0;
    // Event: the name (element 0) and, for a two-element array, element 1 as object.
    QString eventName;
    QJsonObject eventData;

    static SocketIOFrame parse(const QString& frame);
    // Binary frames are read as text: the bytes up to the first zero byte, as UTF-8.
    static QString textOfBinary(const QByteArray& data);

    static QString pingFrame();
    static QString eventFrame(const QString& event, const QJsonObject& data);
};
