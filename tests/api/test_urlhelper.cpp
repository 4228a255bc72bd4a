// Query building: rendering, whitespace rules, wire encoding, and the small
// pure helpers of the request side (dialled digits, log masking, list order).
#include "KarvelonApi.h"
#include "UrlHelper.h"

#include <QJsonDocument>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Pairs)

class TestUrlHelper : public QObject
{
    Q_OBJECT

private slots:
    void rendering_data();
    void rendering();
    void addKeyValue_stripsWhitespaceFromValueOnly();
    void lookupAndRemoval();
    void toUrl_percentEncodesWhileSigningTextStaysRaw_data();
    void toUrl_percentEncodesWhileSigningTextStaysRaw();
    void toUrl_roundTripsThroughQUrlQuery();
    void maskedForLog_hidesPasswordDigestOnly_data();
    void maskedForLog_hidesPasswordDigestOnly();
    void dialledDigits_data();
    void dialledDigits();
    void parseSipAccounts_ordersMembersAsText();
};

static UrlHelper helperOf(const Pairs& pairs)
{
    UrlHelper helper;
    for (const auto& pair : pairs)
        helper.addKeyValue(pair.first, pair.second);
    return helper;
}

void TestUrlHelper::rendering_data()
{
    QTest::addColumn<Pairs>("pairs");
    QTest::addColumn<QStringList>("excluded");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("signing");

    const auto p = [](const char* k, const char* v) { return qMakePair(QString::fromUtf8(k), QString::fromUtf8(v)); };
    QTest::newRow("empty") << Pairs{} << QStringList{} << QString() << QString();
    QTest::newRow("in order") << Pairs{p("a", "1"), p("b", "2")} << QStringList{} << QStringLiteral("a=1&b=2")
                              << QStringLiteral("a1b2");
    QTest::newRow("excluded key") << Pairs{p("a", "1"), p("b", "2"), p("c", "3")} << QStringList{QStringLiteral("c")}
                                  << QStringLiteral("a=1&b=2") << QStringLiteral("a1b2");
    QTest::newRow("excluded first, no leading &")
        << Pairs{p("options", "msoutlook"), p("apiID", "x")} << QStringList{QStringLiteral("options")}
        << QStringLiteral("apiID=x") << QStringLiteral("apiIDx");
    QTest::newRow("exclusion is case-sensitive") << Pairs{p("Options", "o")} << QStringList{QStringLiteral("options")}
                                                 << QStringLiteral("Options=o") << QStringLiteral("Optionso");
    QTest::newRow("everything excluded") << Pairs{p("a", "1"), p("b", "2")}
                                         << QStringList{QStringLiteral("a"), QStringLiteral("b")} << QString()
                                         << QString();
    QTest::newRow("empty value") << Pairs{p("sipacc", ""), p("f", "json")} << QStringList{}
                                 << QStringLiteral("sipacc=&f=json") << QStringLiteral("sipaccfjson");
    QTest::newRow("duplicate keys kept") << Pairs{p("a", "1"), p("a", "2")} << QStringList{}
                                         << QStringLiteral("a=1&a=2") << QStringLiteral("a1a2");
    QTest::newRow("unreserved characters stay literal")
        << Pairs{p("apiID", "Aa-0._~"), p("ts", "1700000000")} << QStringList{}
        << QStringLiteral("apiID=Aa-0._~&ts=1700000000") << QStringLiteral("apiIDAa-0._~ts1700000000");
}

void TestUrlHelper::rendering()
{
    QFETCH(Pairs, pairs);
    QFETCH(QStringList, excluded);
    QFETCH(QString, query);
    QFETCH(QString, signing);
    const UrlHelper helper = helperOf(pairs);
    QCOMPARE(helper.toUrl(excluded), query);
    QCOMPARE(helper.toConcatenatedString(excluded), signing);
}

void TestUrlHelper::addKeyValue_stripsWhitespaceFromValueOnly()
{
    UrlHelper helper;
    helper.addKeyValue(QStringLiteral("tel nr"), QStringLiteral(" 020\t123\n45\r67 \u00a0"));
    QCOMPARE(helper.size(), 1);
    QCOMPARE(helper.at(0).first, QStringLiteral("tel nr"));
    QCOMPARE(helper.at(0).second, QStringLiteral("0201234567"));
    // Nothing else is touched: case and punctuation stay.
    helper.addKeyValue(QStringLiteral("k"), QStringLiteral("A-b_C"));
    QCOMPARE(helper.value(QStringLiteral("k")), QStringLiteral("A-b_C"));
}

void TestUrlHelper::lookupAndRemoval()
{
    UrlHelper helper;
    helper.addKeyValue(QStringLiteral("a"), QStringLiteral("1"));
    helper.addKeyValue(QStringLiteral("b"), QStringLiteral("2"));
    helper.addKeyValue(QStringLiteral("a"), QStringLiteral("3"));
    helper.addKeyValue(QStringLiteral("c"), QStringLiteral("4"));

    QCOMPARE(helper.value(QStringLiteral("a")), QStringLiteral("1"));
    QCOMPARE(helper[QStringLiteral("a")], QStringLiteral("1"));
    QCOMPARE(helper.value(QStringLiteral("A")), QString());
    QCOMPARE(helper[QStringLiteral("absent")], QString());
    QCOMPARE(helper.size(), 4); // operator[] never inserts

    helper.removeKey(QStringLiteral("absent"));
    QCOMPARE(helper.size(), 4);
    helper.removeKey(QStringLiteral("a"));
    QCOMPARE(helper.toUrl(), QStringLiteral("b=2&c=4"));
}

void TestUrlHelper::toUrl_percentEncodesWhileSigningTextStaysRaw_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("signing");

    QTest::newRow("ampersand and equals") << QStringLiteral("apiID") << QStringLiteral("a&telnr=0900")
                                          << QStringLiteral("apiID=a%26telnr%3D0900")
                                          << QStringLiteral("apiIDa&telnr=0900");
    QTest::newRow("plus, hash, percent") << QStringLiteral("k") << QStringLiteral("1+2#3%4")
                                         << QStringLiteral("k=1%2B2%233%254") << QStringLiteral("k1+2#3%4");
    QTest::newRow("non-ASCII value as UTF-8") << QStringLiteral("k") << QStringLiteral("caf\u00e9\u20ac")
                                              << QStringLiteral("k=caf%C3%A9%E2%82%AC")
                                              << QStringLiteral("kcaf\u00e9\u20ac");
    // Keys keep their blanks, so the key is where a blank reaches the wire.
    QTest::newRow("blank and symbols in key") << QStringLiteral("my key&=\u00fc") << QStringLiteral("v")
                                              << QStringLiteral("my%20key%26%3D%C3%BC=v")
                                              << QStringLiteral("my key&=\u00fcv");
    QTest::newRow("slash, question mark, colon") << QStringLiteral("k") << QStringLiteral("a/b?c:d")
                                                  << QStringLiteral("k=a%2Fb%3Fc%3Ad")
                                                  << QStringLiteral("ka/b?c:d");
}

void TestUrlHelper::toUrl_percentEncodesWhileSigningTextStaysRaw()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, query);
    QFETCH(QString, signing);
    UrlHelper helper;
    helper.addKeyValue(key, value);
    QCOMPARE(helper.toUrl(), query);
    QCOMPARE(helper.toConcatenatedString(), signing);
}

void TestUrlHelper::toUrl_roundTripsThroughQUrlQuery()
{
    // Whatever the values hold, a standard parser sees exactly our pairs.
    UrlHelper helper;
    helper.addKeyValue(QStringLiteral("a"), QStringLiteral("x&b=injected"));
    helper.addKeyValue(QStringLiteral("c"), QStringLiteral("100%+#\u00e9"));
    const QUrlQuery query(helper.toUrl());
    const auto items = query.queryItems(QUrl::FullyDecoded);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(0), qMakePair(QStringLiteral("a"), QStringLiteral("x&b=injected")));
    QCOMPARE(items.at(1), qMakePair(QStringLiteral("c"), QStringLiteral("100%+#\u00e9")));
}

void TestUrlHelper::maskedForLog_hidesPasswordDigestOnly_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("masked");
    QTest::newRow("middle") << QStringLiteral("https://h/api/cltodlapp.php?apiID=x&knummer=1&pwd=abc123&sipacc=2&pass=ff")
                            << QStringLiteral("https://h/api/cltodlapp.php?apiID=x&knummer=1&pwd=***&sipacc=2&pass=ff");
    QTest::newRow("first") << QStringLiteral("https://h/api/x.php?pwd=abc&f=json")
                           << QStringLiteral("https://h/api/x.php?pwd=***&f=json");
    QTest::newRow("empty value") << QStringLiteral("x.php?a=1&pwd=&b=2") << QStringLiteral("x.php?a=1&pwd=***&b=2");
    QTest::newRow("similar keys untouched") << QStringLiteral("x.php?apwd=1&pwdx=2")
                                            << QStringLiteral("x.php?apwd=1&pwdx=2");
    QTest::newRow("last") << QStringLiteral("x.php?a=1&pwd=deadbeef") << QStringLiteral("x.php?a=1&pwd=***");
}

void TestUrlHelper::maskedForLog_hidesPasswordDigestOnly()
{
    QFETCH(QString, url);
    QFETCH(QString, masked);
    QCOMPARE(UrlHelper::maskedForLog(url), masked);
}

void TestUrlHelper::dialledDigits_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("digits");
    QTest::newRow("international with blanks") << QStringLiteral("+31 20 123 4567") << QStringLiteral("0031201234567");
    QTest::newRow("leading blanks before plus") << QStringLiteral("  \t+32 (0)2-555.12.34")
                                                << QStringLiteral("0032025551234");
    QTest::newRow("double zero kept") << QStringLiteral("0031 20 1234567") << QStringLiteral("0031201234567");
    QTest::newRow("national with punctuation") << QStringLiteral("(020) 123-45 67") << QStringLiteral("0201234567");
    QTest::newRow("plus inside is dropped") << QStringLiteral("020+123") << QStringLiteral("020123");
    QTest::newRow("plus after a digit is dropped") << QStringLiteral("0+31") << QStringLiteral("031");
    QTest::newRow("no digits") << QStringLiteral("geen nummer") << QString();
    QTest::newRow("only a plus") << QStringLiteral("+") << QStringLiteral("00");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("non-ASCII digits dropped") << QStringLiteral("\u0661\u0662 12") << QStringLiteral("12");
}

void TestUrlHelper::dialledDigits()
{
    QFETCH(QString, number);
    QFETCH(QString, digits);
    QCOMPARE(KarvelonApi::dialledDigits(number), digits);
}

void TestUrlHelper::parseSipAccounts_ordersMembersAsText()
{
    const QJsonObject reply = QJsonDocument::fromJson(
                                  R"({"2":{"logname":"Twee","SIPusername":"202"},
                                      "10":{"logname":"Tien","SIPusername":"210"},
                                      "1":{"logname":"Een","SIPusername":"201"},
                                      "x":"not an object",
                                      "y":{"logname":5}})")
                                  .object();
    const Pairs expected{
        qMakePair(QStringLiteral("Een"), QStringLiteral("201")),
        qMakePair(QStringLiteral("Tien"), QStringLiteral("210")),
        qMakePair(QStringLiteral("Twee"), QStringLiteral("202")),
        qMakePair(QString(), QString()),
        qMakePair(QString(), QString()),
    };
    QCOMPARE(KarvelonApi::parseSipAccounts(reply), expected);
    QVERIFY(KarvelonApi::parseSipAccounts(QJsonObject()).isEmpty());
}

QTEST_GUILESS_MAIN(TestUrlHelper)
#include "test_urlhelper.moc"
