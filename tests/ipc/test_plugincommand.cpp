#include "PluginCommand.h"

#include <QtTest>

class TestPluginCommand : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void displayText_stopsAtNul();
};

void TestPluginCommand::parse_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("numbers");

    QTest::newRow("two numbers") << QByteArray("ShowCallDialog;Helpdesk;0123=Werk;0456=Mobiel") << int(PluginCommand::Valid)
                                 << "Helpdesk" << QStringList{"0123 (Werk)", "0456 (Mobiel)"};
    QTest::newRow("field without =") << QByteArray("ShowCallDialog;Helpdesk;0123") << int(PluginCommand::Valid)
                                     << "Helpdesk" << QStringList{"0123"};
    QTest::newRow("field with two =") << QByteArray("ShowCallDialog;Helpdesk;0123=Werk=Thuis")
                                      << int(PluginCommand::Valid) << "Helpdesk" << QStringList{"0123=Werk=Thuis"};
    QTest::newRow("empty fields kept") << QByteArray("ShowCallDialog;Helpdesk;;0456=Mobiel;")
                                       << int(PluginCommand::Valid) << "Helpdesk"
                                       << QStringList{"", "0456 (Mobiel)", ""};
    QTest::newRow("empty number and label") << QByteArray("ShowCallDialog;Helpdesk;=") << int(PluginCommand::Valid)
                                            << "Helpdesk" << QStringList{" ()"};
    QTest::newRow("empty name") << QByteArray("ShowCallDialog;;0123=Werk") << int(PluginCommand::Valid) << ""
                                << QStringList{"0123 (Werk)"};
    QTest::newRow("plus sign and spaces") << QByteArray("ShowCallDialog;Jan;+31 20 123 4567=Werk")
                                          << int(PluginCommand::Valid) << "Jan" << QStringList{"+31 20 123 4567 (Werk)"};
    QTest::newRow("utf-8 name") << QByteArray("ShowCallDialog;Zo\xc3\xab M\xc3\xbcller;0123=Priv\xc3\xa9")
                                << int(PluginCommand::Valid) << QString::fromUtf8("Zoë Müller")
                                << QStringList{QString::fromUtf8("0123 (Privé)")};
    // Two commands in one read are one command: the second word ends up in the last field.
    QTest::newRow("two commands in one read")
        << QByteArray("ShowCallDialog;A;1=x" "ShowCallDialog;B;2=y") << int(PluginCommand::Valid) << "A"
        << QStringList{"1 (xShowCallDialog)", "B", "2 (y)"};
    QTest::newRow("name only") << QByteArray("ShowCallDialog;Helpdesk") << int(PluginCommand::MissingNumbers) << ""
                               << QStringList();
    QTest::newRow("word only") << QByteArray("ShowCallDialog") << int(PluginCommand::MissingNumbers) << ""
                               << QStringList();
    QTest::newRow("word and separator") << QByteArray("ShowCallDialog;") << int(PluginCommand::MissingNumbers) << ""
                                        << QStringList();
    QTest::newRow("lower-case word") << QByteArray("showcalldialog;Helpdesk;0123=Werk")
                                     << int(PluginCommand::UnknownCommand) << "" << QStringList();
    QTest::newRow("other word") << QByteArray("Dial;0123") << int(PluginCommand::UnknownCommand) << ""
                                << QStringList();
    QTest::newRow("empty") << QByteArray() << int(PluginCommand::UnknownCommand) << "" << QStringList();
    QTest::newRow("leading blank") << QByteArray(" ShowCallDialog;A;1=x") << int(PluginCommand::UnknownCommand) << ""
                                   << QStringList();
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x00;\x01", 5) << int(PluginCommand::UnknownCommand) << ""
                                    << QStringList();
}

void TestPluginCommand::parse()
{
    QFETCH(QByteArray, data);
    QFETCH(int, outcome);
    QFETCH(QString, name);
    QFETCH(QStringList, numbers);

    const PluginCommand command = PluginCommand::parse(data);
    QCOMPARE(int(command.outcome), outcome);
    QCOMPARE(command.isValid(), outcome == PluginCommand::Valid);
    if (command.isValid()) {
        QCOMPARE(command.name, name);
        QCOMPARE(command.numbers, numbers);
    }
}

void TestPluginCommand::displayText_stopsAtNul()
{
    QCOMPARE(PluginCommand::displayText(QByteArray("ShowCallDialog;A\0;hidden", 24)), QStringLiteral("ShowCallDialog;A"));
    QCOMPARE(PluginCommand::displayText(QByteArray("Zo\xc3\xab")), QString::fromUtf8("Zoë"));
}

QTEST_GUILESS_MAIN(TestPluginCommand)
#include "test_plugincommand.moc"
