#include "PluginCommand.h"

namespace {
// A field "number=label" becomes "number (label)"; anything else (no "=", or
// more than one) is passed on as received.
QString numberEntry(const QString& field)
{
    const QStringList parts = field.split(QLatin1Char('='), Qt::KeepEmptyParts);
    if (parts.size() == 2)
        return QStringLiteral("%1 (%2)").arg(parts.at(0), parts.at(1));
    return field;
}
} // namespace

PluginCommand PluginCommand::parse(const QByteArray& data)
{
    PluginCommand command;
    const int separator = data.indexOf(';');
    const QString word = QString::fromUtf8(separator < 0 ? data : data.left(separator));
    if (word != QLatin1String("ShowCallDialog")) {
        command.outcome = UnknownCommand;
        return command;
    }

    const QString rest = separator < 0 ? QString() : QString::fromUtf8(data.mid(separator + 1));
    const QStringList fields = rest.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    if (fields.size() < 2) {
        command.outcome = MissingNumbers;
        return command;
    }

    command.outcome = Valid;
    command.name = fields.at(0);
    for (int i = 1; i < fields.size(); ++i)
        command.numbers.append(numberEntry(fields.at(i)));
    return command;
}

QString PluginCommand::displayText(const QByteArray& data)
{
    const int nul = data.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? data : data.left(nul));
}
