#include "ThunderbirdAddressBooks.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

namespace ThunderbirdAddressBooks {

namespace {

struct IniSection
{
    QString name;
    QHash<QString, QString> values;
};

QVector<IniSection> iniSections(const QByteArray& text)
{
    QVector<IniSection> sections;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            sections.append(IniSection{line.mid(1, line.size() - 2).trimmed(), {}});
        else if (!sections.isEmpty() && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char(';')) &&
                 !line.startsWith(QLatin1Char('#')))
            sections.last().values.insert(line.section(QLatin1Char('='), 0, 0).trimmed(),
                                          line.section(QLatin1Char('='), 1).trimmed());
    }
    return sections;
}

QString profilePath(const IniSection& profile, const QString& root)
{
    const QString path = profile.values.value(QStringLiteral("Path"));
    if (path.isEmpty())
        return QString();
    const QString relative = profile.values.value(QStringLiteral("IsRelative"));
    const bool isRelative = relative.isEmpty() ? QDir::isRelativePath(path) : relative == QLatin1String("1");
    return QDir::cleanPath(isRelative ? root + QLatin1Char('/') + path : path);
}

struct Card
{
    QString displayName, firstName, lastName, vCard;
    QStringList phones;
};

bool readCards(QSqlDatabase& db, QVector<Card>& cards, QString& error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT card, name, value FROM properties WHERE name IN ('DisplayName', "
                                   "'FirstName', 'LastName', 'WorkPhone', 'HomePhone', 'CellularNumber', "
                                   "'FaxNumber', 'PagerNumber', '_vCard')"))) {
        error = query.lastError().text();
        return false;
    }
    QHash<QString, int> byId;
    while (query.next()) {
        const QString id = query.value(0).toString();
        const QString name = query.value(1).toString();
        const QString value = query.value(2).toString();
        int at = byId.value(id, -1);
        if (at < 0) {
            at = cards.size();
            byId.insert(id, at);
            cards.append(Card());
        }
        Card& card = cards[at];
        if (name == QLatin1String("DisplayName"))
            card.displayName = value;
        else if (name == QLatin1String("FirstName"))
            card.firstName = value;
        else if (name == QLatin1String("LastName"))
            card.lastName = value;
        else if (name == QLatin1String("_vCard"))
            card.vCard = value;
        else if (!value.trimmed().isEmpty())
            card.phones.append(value);
    }
    // A database damaged beyond its first pages fails while stepping, not at exec().
    if (query.lastError().type() != QSqlError::NoError) {
        error = query.lastError().text();
        return false;
    }
    return true;
}

} // namespace

QString defaultProfile(const QByteArray& profilesIni, const QString& root)
{
    const QVector<IniSection> sections = iniSections(profilesIni);
    QVector<const IniSection*> profiles;
    for (const IniSection& section : sections) {
        // An install's default is written as its profile's Path is.
        const QString installDefault = section.values.value(QStringLiteral("Default"));
        if (section.name.startsWith(QLatin1String("Install")) && !installDefault.isEmpty())
            return profilePath(IniSection{section.name, {{QStringLiteral("Path"), installDefault}}}, root);
        if (section.name.startsWith(QLatin1String("Profile")))
            profiles.append(&section);
    }
    for (const IniSection* profile : profiles) {
        if (profile->values.value(QStringLiteral("Default")) == QLatin1String("1"))
            return profilePath(*profile, root);
    }
    return profiles.size() == 1 ? profilePath(*profiles.first(), root) : QString();
}

QStringList addressBooks(const QString& profileDir)
{
    QStringList books;
    const QDir dir(profileDir);
    if (dir.exists(QStringLiteral("abook.sqlite")))
        books.append(dir.filePath(QStringLiteral("abook.sqlite")));
    for (const QString& name : dir.entryList({QStringLiteral("abook-*.sqlite")}, QDir::Files, QDir::Name))
        books.append(dir.filePath(name));
    return books;
}

bool read(const QString& path, const QString& connectionName, QVector<VCard::Contact>& contacts, QString& error)
{
    const QTemporaryDir copyDir; // owner-only, in the user's temporary directory
    if (!copyDir.isValid()) {
        error = copyDir.errorString();
        return false;
    }
    const QString copy = copyDir.filePath(QStringLiteral("abook.sqlite"));
    QFile original(path);
    if (!original.copy(copy)) {
        error = original.errorString();
        return false;
    }
    // What Thunderbird wrote last may still be in the write-ahead log only.
    if (QFile::exists(path + QStringLiteral("-wal")))
        QFile::copy(path + QStringLiteral("-wal"), copy + QStringLiteral("-wal"));

    QVector<Card> cards;
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(copy);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open())
            ok = readCards(db, cards, error);
        else
            error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    if (!ok)
        return false;

    for (const Card& card : cards) {
        VCard::Contact contact{VCard::oneLine(card.displayName), card.phones};
        if (contact.name.isEmpty())
            contact.name = VCard::oneLine(card.firstName + QLatin1Char(' ') + card.lastName);
        if (!card.vCard.isEmpty()) {
            const VCard::ReadResult inner = VCard::read(card.vCard.toUtf8());
            if (!inner.contacts.isEmpty()) {
                contact.numbers += inner.contacts.first().numbers;
                if (contact.name.isEmpty())
                    contact.name = inner.contacts.first().name;
            }
        }
        if (!contact.numbers.isEmpty())
            contacts.append(contact);
    }
    return true;
}

} // namespace ThunderbirdAddressBooks
