// Telephone links ("tel:", "callto:") handed to "--call" by a browser or the
// desktop, and the launcher's bare "--call" of a start from the menu.
#include "CommandLine.h"

#include <QtTest>

class TestPhoneLink : public QObject
{
    Q_OBJECT

private slots:
    void isPhoneLink_data();
    void isPhoneLink();
    void callRequest_data();
    void callRequest();
    void withoutEmptyLinkOption_data();
    void withoutEmptyLinkOption();
};

void TestPhoneLink::isPhoneLink_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("link");

    QTest::newRow("tel") << "tel:0201234567" << true;
    QTest::newRow("callto") << "callto:0201234567" << true;
    QTest::newRow("upper case scheme") << "TEL:0201234567" << true;
    QTest::newRow("mixed case callto") << "CallTo://0201234567" << true;
    QTest::newRow("plug-in request") << "Jan;0201234567=Werk" << false;
    QTest::newRow("name that starts like a scheme") << "Telma;0201234567=Werk" << false;
    QTest::newRow("sip is not handled") << "sip:201@example.nl" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPhoneLink::isPhoneLink()
{
    QFETCH(QString, value);
    QFETCH(bool, link);
    QCOMPARE(CommandLine::isPhoneLink(value), link);
}

void TestPhoneLink::callRequest_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("request");

    QTest::newRow("international, encoded blanks, extension")
        << "tel:+31%2020-123%204567;ext=12" << "+31201234567;+31201234567=tel";
    QTest::newRow("plain national") << "tel:0201234567" << "0201234567;0201234567=tel";
    QTest::newRow("dots and parentheses") << "tel:(020)%20123.45.67" << "0201234567;0201234567=tel";
    QTest::newRow("encoded plus") << "tel:%2B31201234567" << "+31201234567;+31201234567=tel";
    QTest::newRow("phone-context parameter") << "tel:1234;phone-context=+31-20" << "1234;1234=tel";
    QTest::newRow("callto with slashes") << "callto://+31201234567" << "+31201234567;+31201234567=tel";
    QTest::newRow("callto without slashes") << "callto:020-1234567" << "0201234567;0201234567=tel";
    QTest::newRow("query dropped") << "callto:0201234567?type=phone" << "0201234567;0201234567=tel";
    QTest::newRow("slash separator") << "tel:020/1234567" << "0201234567;0201234567=tel";
    QTest::newRow("star and hash kept") << "tel:*31%230201234567" << "*31#0201234567;*31#0201234567=tel";
    QTest::newRow("raw blanks") << "tel:+31 20 123 4567" << "+31201234567;+31201234567=tel";
    QTest::newRow("no-break space") << QString::fromUtf8("tel:020\xc2\xa0" "1234567") << "0201234567;0201234567=tel";

    // Nothing that could be dialled: no request at all.
    QTest::newRow("empty number") << "tel:" << "";
    QTest::newRow("only parameters") << "tel:;ext=1" << "";
    QTest::newRow("only a plus") << "tel:+" << "";
    QTest::newRow("plus in the middle") << "tel:0031+20" << "";
    QTest::newRow("letters") << "tel:1-800-FLOWERS" << "";
    QTest::newRow("skype name") << "callto:jan.jansen" << "";
    QTest::newRow("encoded separator cannot smuggle a label") << "tel:0201%3Bx%3Dy" << "";
    QTest::newRow("encoded equals sign") << "tel:0201%3D5" << "";
    QTest::newRow("broken encoding") << "tel:0201%zz" << "";
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("tel:\xd9\xa1\xd9\xa2") << "";
    QTest::newRow("not a link") << "Jan;0201234567=Werk" << "";
}

void TestPhoneLink::callRequest()
{
    QFETCH(QString, link);
    QFETCH(QString, request);
    QCOMPARE(CommandLine::callRequestFromPhoneLink(link), request);
}

void TestPhoneLink::withoutEmptyLinkOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("menu start of --call %u")
        << QStringList{"karvelon", "--call"} << QStringList{"karvelon"};
    QTest::newRow("link given") << QStringList{"karvelon", "--call", "tel:020"}
                                << QStringList{"karvelon", "--call", "tel:020"};
    QTest::newRow("empty value kept") << QStringList{"karvelon", "--call", ""}
                                      << QStringList{"karvelon", "--call", ""};
    QTest::newRow("call as value of call") << QStringList{"karvelon", "--debug", "--call"}
                                           << QStringList{"karvelon", "--debug"};
    QTest::newRow("program name alone") << QStringList{"--call"} << QStringList{"--call"};
    QTest::newRow("nothing") << QStringList{} << QStringList{};
}

void TestPhoneLink::withoutEmptyLinkOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QCOMPARE(CommandLine::withoutEmptyLinkOption(arguments), expected);
}

QTEST_GUILESS_MAIN(TestPhoneLink)
#include "test_phonelink.moc"
