#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One command read from the plug-in socket: "ShowCallDialog;name;number=label;..."
// (UTF-8, no terminator). The wire format is fixed by the plug-ins.
struct PluginCommand
{
    enum Outcome {
        Valid,
        UnknownCommand, // the command word is not "ShowCallDialog"
        MissingNumbers, // a name without any number field
    };

    Outcome outcome = UnknownCommand;
    QString name;
    QStringList numbers;

    bool isValid() const { return outcome == Valid; }

    static PluginCommand parse(const QByteArray& data);
    // The command as text for the log: UTF-8 up to the first NUL byte.
    static QString displayText(const QByteArray& data);
};
