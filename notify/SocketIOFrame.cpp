#include "SocketIOFrame.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <limits>

namespace {

// A heartbeat setting as the server sent it: a JSON number of at least 1 ms,
// clamped so that odd values cannot overflow the timer arithmetic.
int positiveMsecs(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double msecs = value.toDouble();
    if (!(msecs >= 1.0))
        return 0;
    if (msecs >= double(std::numeric_limits<int>::max() / 4))
        return std::numeric_limits<int>::max() / 4;
    return int(msecs);
}

} // namespace

SocketIOFrame SocketIOFrame::parse(const QString& frame)
{
    SocketIOFrame result;

    int digits = 0;
    while (digits < frame.size() && frame.at(digits) >= QLatin1Char('0') && frame.at(digits) <= QLatin1Char('9'))
        ++digits;
    result.code = frame.left(digits);
    if (result.code.isEmpty())
        return result;

    const QByteArray payload = frame.mid(digits).toUtf8();
    const QJsonDocument document = payload.isEmpty() ? QJsonDocument() : QJsonDocument::fromJson(payload);

    switch (result.code.at(0).unicode()) {
    case '0': {
        result.type = Open;
        if (document.isObject()) {
            const QJsonObject open = document.object();
            result.pingTimeoutMsecs = positiveMsecs(open.value(QStringLiteral("pingTimeout")));
            result.pingIntervalMsecs = positiveMsecs(open.value(QStringLiteral("pingInterval")));
        }
        break;
    }
    case '3':
        result.type = Pong;
        break;
    case '4': {
        if (result.code.startsWith(QLatin1String("41"))) {
            result.type = Disconnect;
            break;
        }
        const QJsonArray array = document.array();
        if (!document.isArray() || array.isEmpty()) {
            result.type = Ignored;
            break;
        }
        result.type = Event;
        result.eventName = array.at(0).toString();
        if (array.size() == 2)
            result.eventData = array.at(1).toObject();
        break;
    }
    default:
        break;
    }
    return result;
}

QString SocketIOFrame::textOfBinary(const QByteArray& data)
{
    const int end = data.indexOf('\0');
    return QString::fromUtf8(end < 0 ? data : data.left(end));
}

QString SocketIOFrame::pingFrame()
{
    return QStringLiteral("20");
}

QString SocketIOFrame::eventFrame(const QString& event, const QJsonObject& data)
{
    const QJsonArray array{event, data};
    return QStringLiteral("42") + QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}
