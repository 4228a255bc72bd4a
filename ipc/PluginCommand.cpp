#include "PluginCommand.h"

#include "ContactPayload.h"

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
    const ContactPayload::Contact contact = ContactPayload::parse(rest, ContactPayload::PluginSocket);
    if (contact.numbers.isEmpty()) {
        command.outcome = MissingNumbers;
        return command;
    }
    command.outcome = Valid;
    command.name = contact.name;
    command.numbers = contact.numbers;
    return command;
}

QString PluginCommand::displayText(const QByteArray& data)
{
    const int nul = data.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? data : data.left(nul));
}
