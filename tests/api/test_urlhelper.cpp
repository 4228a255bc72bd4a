// The pure request-side helpers: query rendering and wire encoding, dialled digits,
// SIP list order, and digests checked against standard tools.
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
    void lookupRemovalAndRoundTrip();
    void dialledDigits_data();
    void dialledDigits();
    void parseSipAccounts_ordersMembersAsText();
    void digests_data();
    void digests();
};

static QPair<QString, QString> p(const char* k, const char* v)
{
    return qMakePair(QString::fromUtf8(k), QString::fromUtf8(v));
}

void TestUrlHelper::rendering_data()
{
    QTest::addColumn<Pairs>("pairs");
    QTest::addColumn<QStringList>("excluded");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("signing");

    QTest::newRow("empty") << Pairs{} << QStringList{} << QString() << QString();
    QTest::newRow("excluded first, no leading &, case-sensitive")
        << Pairs{p("options", "x"), p("a", "1"), p("Options", "o")} << QStringList{QStringLiteral("options")}
        << QStringLiteral("a=1&Options=o") << QStringLiteral("a1Optionso");
    QTest::newRow("empty value, duplicate keys") << Pairs{p("sipacc", ""), p("a", "1"), p("a", "2")} << QStringList{}
                                                 << QStringLiteral("sipacc=&a=1&a=2") << QStringLiteral("sipacca1a2");
    QTest::newRow("unreserved stay literal") << Pairs{p("apiID", "Aa-0._~")} << QStringList{}
                                             << QStringLiteral("apiID=Aa-0._~") << QStringLiteral("apiIDAa-0._~");
    // Whitespace leaves values only; a key keeps its blank, which is then encoded.
    QTest::newRow("whitespace") << Pairs{p("tel nr", " 020\t123\n45\r67 \xc2\xa0")} << QStringList{}
                                << QStringLiteral("tel%20nr=0201234567") << QStringLiteral("tel nr0201234567");
    QTest::newRow("& and =") << Pairs{p("apiID", "a&telnr=0900")} << QStringList{}
                             << QStringLiteral("apiID=a%26telnr%3D0900") << QStringLiteral("apiIDa&telnr=0900");
    QTest::newRow("+ # % / ? :") << Pairs{p("k", "1+2#3%4/?:")} << QStringList{}
                                 << QStringLiteral("k=1%2B2%233%254%2F%3F%3A") << QStringLiteral("k1+2#3%4/?:");
    QTest::newRow("non-ASCII as UTF-8") << Pairs{p("k&=\xc3\xbc", "caf\xc3\xa9\xe2\x82\xac")} << QStringList{}
                                        << QStringLiteral("k%26%3D%C3%BC=caf%C3%A9%E2%82%AC")
                                        << QStringLiteral("k&=\u00fccaf\u00e9\u20ac");
}

void TestUrlHelper::rendering()
{
    QFETCH(Pairs, pairs);
    QFETCH(QStringList, excluded);
    QFETCH(QString, query);
    QFETCH(QString, signing);
    UrlHelper helper;
    for (const auto& pair : pairs)
        helper.addKeyValue(pair.first, pair.second);
    QCOMPARE(helper.toUrl(excluded), query);
    QCOMPARE(helper.toConcatenatedString(excluded), signing);
}

void TestUrlHelper::lookupRemovalAndRoundTrip()
{
    UrlHelper helper;
    helper.addKeyValue(QStringLiteral("a"), QStringLiteral("x&b=injected"));
    helper.addKeyValue(QStringLiteral("c"), QStringLiteral("100%+#\u00e9"));
    helper.addKeyValue(QStringLiteral("a"), QStringLiteral("3"));
    QCOMPARE(helper[QStringLiteral("a")], QStringLiteral("x&b=injected"));
    QCOMPARE(helper.value(QStringLiteral("A")), QString());
    QCOMPARE(helper.size(), 3); // operator[] never inserts

    // A standard parser sees exactly our pairs, whatever the values hold.
    const auto items = QUrlQuery(helper.toUrl()).queryItems(QUrl::FullyDecoded);
    QCOMPARE(items, helper);

    helper.removeKey(QStringLiteral("a"));
    QCOMPARE(helper.toUrl(), QStringLiteral("c=100%25%2B%23%C3%A9"));
}

void TestUrlHelper::dialledDigits_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("digits");
    QTest::newRow("international") << QStringLiteral("+31 20 123 4567") << QStringLiteral("0031201234567");
    QTest::newRow("blanks before plus") << QStringLiteral("  \t+32 (0)2-555.12.34") << QStringLiteral("0032025551234");
    QTest::newRow("plus after a digit dropped") << QStringLiteral("0+31") << QStringLiteral("031");
    QTest::newRow("only a plus") << QStringLiteral("+") << QStringLiteral("00");
    QTest::newRow("no digits") << QStringLiteral("geen nummer") << QString();
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
    const QJsonObject reply = QJsonDocument::fromJson(R"({"2":{"logname":"Twee","SIPusername":"202"},
        "10":{"logname":"Tien","SIPusername":"210"}, "x":"not an object", "y":{"logname":5}})")
                                  .object();
    const Pairs expected{p("Tien", "210"), p("Twee", "202"), qMakePair(QString(), QString()),
                         qMakePair(QString(), QString())};
    QCOMPARE(KarvelonApi::parseSipAccounts(reply), expected);
}

void TestUrlHelper::digests_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("mode"); // -1: hashUriString(text, key)
    QTest::addColumn<QString>("digest");

    // mode 2: M=$(printf '<text>' | md5sum | cut -c1-32); printf "$M" | sha256sum
    QTest::newRow("pwd2 empty") << QString() << QString() << 2
                                << "f215faf9d88b7f0a881632ee22459ee452a296c808d261b6cc993d3a1fd0600e";
    // Latin-1 bytes (printf 'caf\xe9'); outside Latin-1 a character becomes '?' (printf 'wachtwoord?')
    QTest::newRow("pwd2 Latin-1") << "caf\u00e9" << QString() << 2
                                  << "1e8152018e692c7590a612910bae58d0da556cde5711305e81a480b9b9371ee9";
    QTest::newRow("pwd2 euro") << "wachtwoord\u20ac" << QString() << 2
                               << "314aeefabd3cff25cfd1e6c83146c5e93ec3519d2a65dcea3feef4f2fac083c6";
    // other modes: printf '<text>' | sha256sum
    QTest::newRow("pwd1 empty") << QString() << QString() << 1
                                << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    QTest::newRow("pwd0 demo") << "demo-wachtwoord" << QString() << 0
                               << "3f1baef71dc65092d7a859b7932998f6c15903f9e8ca5899d9e055e30a4b4f66";
    QTest::newRow("pwd1 euro") << "wachtwoord\u20ac" << QString() << 1
                               << "c487b5e1182de4d4700a63d92a324b6cc7333ac0b5e724debc0cbd51b678b6b0";
    // printf '<text>' | openssl dgst -sha256 -hmac '<key>' (same byte rules)
    QTest::newRow("hmac empty, empty key") << QString() << QString() << -1
                                           << "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad";
    QTest::newRow("hmac empty key") << "apiIDc2d-demo" << QString() << -1
                                    << "766f6cef9479afe7f33cb892ef1078e80f8223b3d37d1c9ab227b05dca10cdbe";
    QTest::newRow("hmac empty text") << QString() << "sleutel" << -1
                                     << "7af317d0b26590cd485fdd2dcd808dec70c4d03ef55ac3e9e081b2c7d5cb819d";
    QTest::newRow("hmac Latin-1") << "na\u00efef" << "sleutel" << -1
                                  << "b6e4fbf7e10c4cc6aa2ec406e2a07a0d2e0eaf5d4e0354f8b1513196be190cf8";
    QTest::newRow("hmac non-Latin-1") << "telnr\u20ac" << "sleutel\u4e2d" << -1
                                      << "ca3c437157c880ccf47c4c19bdd4e700a27fe89f093f88eca66aedec95c14c94";
}

void TestUrlHelper::digests()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(int, mode);
    QFETCH(QString, digest);
    QCOMPARE(mode < 0 ? KarvelonApi::hashUriString(text, key) : KarvelonApi::hashPassword(text, mode), digest);
}

QTEST_GUILESS_MAIN(TestUrlHelper)
#include "test_urlhelper.moc"
