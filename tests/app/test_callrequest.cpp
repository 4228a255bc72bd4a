#include "CallRequest.h"

#include <QtTest>

class TestCallRequest : public QObject
{
    Q_OBJECT

private slots:
    void parseMessage_data();
    void parseMessage();
    void parseContact_data();
    void parseContact();
};

void TestCallRequest::parseMessage_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("rest");

    QTest::newRow("already started") << "AlreadyStarted|Karvelon is al actief" << "AlreadyStarted"
                                     << "Karvelon is al actief";
    QTest::newRow("call") << "ShowCallDialog|Helpdesk;0123=Werk" << "ShowCallDialog" << "Helpdesk;0123=Werk";
    QTest::newRow("only the first bar splits") << "ShowCallDialog|a|b;1=x|y" << "ShowCallDialog" << "a|b;1=x|y";
    QTest::newRow("empty rest") << "ShowCallDialog|" << "ShowCallDialog" << "";
    QTest::newRow("no bar") << "ShowCallDialog" << "ShowCallDialog" << "";
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("bar first") << "|rest" << "" << "rest";
}

void TestCallRequest::parseMessage()
{
    QFETCH(QString, message);
    QFETCH(QString, kind);
    QFETCH(QString, rest);

    const CallRequest::Message parsed = CallRequest::parseMessage(message);
    QCOMPARE(parsed.kind, kind);
    QCOMPARE(parsed.rest, rest);
}

void TestCallRequest::parseContact_data()
{
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("numbers");

    QTest::newRow("two numbers") << "Helpdesk;0123=Werk;0456=Mobiel" << "Helpdesk"
                                 << QStringList{"0123 (Werk)", "0456 (Mobiel)"};
    QTest::newRow("name only") << "Helpdesk" << "Helpdesk" << QStringList{" ()"};
    QTest::newRow("name and separator") << "Helpdesk;" << "Helpdesk" << QStringList{" ()"};
    QTest::newRow("piece without =") << "Helpdesk;0123" << "Helpdesk" << QStringList{"0123 (0123)"};
    // Only the first "=" splits: the label keeps the rest.
    QTest::newRow("piece with two =") << "Helpdesk;0123=Werk=Thuis" << "Helpdesk"
                                      << QStringList{"0123 (Werk=Thuis)"};
    QTest::newRow("empty pieces kept") << "Helpdesk;;0456=Mobiel;" << "Helpdesk"
                                       << QStringList{" ()", "0456 (Mobiel)", " ()"};
    QTest::newRow("plus sign and spaces") << "Jan de Vries;+31 (0)20 123 4567=Werk" << "Jan de Vries"
                                          << QStringList{"+31 (0)20 123 4567 (Werk)"};
    QTest::newRow("non-ascii") << QString::fromUtf8("Zoë Ærts;0123=Privé") << QString::fromUtf8("Zoë Ærts")
                               << QStringList{QString::fromUtf8("0123 (Privé)")};
    QTest::newRow("empty name") << ";0123=Werk" << "" << QStringList{"0123 (Werk)"};
}

void TestCallRequest::parseContact()
{
    QFETCH(QString, rest);
    QFETCH(QString, name);
    QFETCH(QStringList, numbers);

    const CallRequest::Contact contact = CallRequest::parseContact(rest);
    QCOMPARE(contact.name, name);
    QCOMPARE(contact.numbers, numbers);
}

QTEST_GUILESS_MAIN(TestCallRequest)
#include "test_callrequest.moc"
