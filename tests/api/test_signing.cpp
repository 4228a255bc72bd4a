// Password digests and request signatures, checked against values computed
// with standard tools, never with our own code.
#include "KarvelonApi.h"

#include <QtTest>

class TestSigning : public QObject
{
    Q_OBJECT

private slots:
    void hashPassword_data();
    void hashPassword();
    void hashUriString_data();
    void hashUriString();
};

void TestSigning::hashPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("digest");

    // mode 2: M=$(printf '<password>' | md5sum | cut -c1-32); printf "$M" | sha256sum
    QTest::newRow("api, empty") << QString() << 2
                                << QStringLiteral("f215faf9d88b7f0a881632ee22459ee452a296c808d261b6cc993d3a1fd0600e");
    QTest::newRow("api, demo") << QStringLiteral("demo-wachtwoord") << 2
                               << QStringLiteral("0ee67019ae9cd01d608876af5cb90c1d3efbad6f63196f26efc0f466eaac5cd5");
    // Latin-1 bytes: printf 'caf\xe9'
    QTest::newRow("api, Latin-1") << QStringLiteral("caf\u00e9") << 2
                                  << QStringLiteral("1e8152018e692c7590a612910bae58d0da556cde5711305e81a480b9b9371ee9");
    // Outside Latin-1 the character becomes '?': printf 'wachtwoord?'
    QTest::newRow("api, euro sign") << QStringLiteral("wachtwoord\u20ac") << 2
                                    << QStringLiteral("314aeefabd3cff25cfd1e6c83146c5e93ec3519d2a65dcea3feef4f2fac083c6");
    QTest::newRow("api, other non-Latin-1") << QStringLiteral("wachtwoord\u0416") << 2
                                            << QStringLiteral("314aeefabd3cff25cfd1e6c83146c5e93ec3519d2a65dcea3feef4f2fac083c6");

    // other modes: printf '<password>' | sha256sum
    QTest::newRow("plain, empty") << QString() << 1
                                  << QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("plain, demo") << QStringLiteral("demo-wachtwoord") << 1
                                 << QStringLiteral("3f1baef71dc65092d7a859b7932998f6c15903f9e8ca5899d9e055e30a4b4f66");
    QTest::newRow("plain, mode 0") << QStringLiteral("demo-wachtwoord") << 0
                                   << QStringLiteral("3f1baef71dc65092d7a859b7932998f6c15903f9e8ca5899d9e055e30a4b4f66");
    QTest::newRow("plain, Latin-1") << QStringLiteral("caf\u00e9") << 1
                                    << QStringLiteral("dafd66c0b98965e688be1fc12942c09f0350e6be0685017c3f234e97d0adc92e");
    QTest::newRow("plain, euro sign") << QStringLiteral("wachtwoord\u20ac") << 1
                                      << QStringLiteral("c487b5e1182de4d4700a63d92a324b6cc7333ac0b5e724debc0cbd51b678b6b0");
}

void TestSigning::hashPassword()
{
    QFETCH(QString, password);
    QFETCH(int, mode);
    QFETCH(QString, digest);
    QCOMPARE(KarvelonApi::hashPassword(password, mode), digest);
}

void TestSigning::hashUriString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("signature");

    // printf '<text>' | openssl dgst -sha256 -hmac '<key>'
    QTest::newRow("empty text, empty key") << QString() << QString()
                                           << QStringLiteral("b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
    QTest::newRow("text, empty key") << QStringLiteral("apiIDc2d-demo") << QString()
                                     << QStringLiteral("766f6cef9479afe7f33cb892ef1078e80f8223b3d37d1c9ab227b05dca10cdbe");
    QTest::newRow("empty text, key") << QString() << QStringLiteral("sleutel")
                                     << QStringLiteral("7af317d0b26590cd485fdd2dcd808dec70c4d03ef55ac3e9e081b2c7d5cb819d");
    QTest::newRow("ordinary") << QStringLiteral("a1b2") << QStringLiteral("key")
                              << QStringLiteral("98da0419af285a0d9e9e151eaf49ecedff43c1e090e256c2b249a7dc8bfe328a");
    // printf 'na\xefef' | openssl dgst -sha256 -hmac 'sleutel'
    QTest::newRow("Latin-1 text") << QStringLiteral("na\u00efef") << QStringLiteral("sleutel")
                                  << QStringLiteral("b6e4fbf7e10c4cc6aa2ec406e2a07a0d2e0eaf5d4e0354f8b1513196be190cf8");
    // non-Latin-1 in text and key become '?': printf 'telnr?' | openssl dgst -sha256 -hmac 'sleutel?'
    QTest::newRow("non-Latin-1 text and key") << QStringLiteral("telnr\u20ac") << QStringLiteral("sleutel\u4e2d")
                                              << QStringLiteral("ca3c437157c880ccf47c4c19bdd4e700a27fe89f093f88eca66aedec95c14c94");
}

void TestSigning::hashUriString()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, signature);
    QCOMPARE(KarvelonApi::hashUriString(text, key), signature);
}

QTEST_GUILESS_MAIN(TestSigning)
#include "test_signing.moc"
