#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>

// Reads the stored SIP account list straight from the settings file with a
// reader that never trusts a count or length in the data. Qt's own reader
// reserves room for as many list entries as the stored count claims, so a
// damaged count could make it allocate gigabytes or abort; this reader is
// asked first, and Qt's only when the value is sound.
namespace StoredSipAccounts {

// The raw text of `key` in `[section]` of an INI file, as written (escaped,
// possibly quoted); found is false when the key is not there.
QByteArray findIniValue(const QByteArray& iniText, const QString& section, const QString& key, bool& found);

// The INI text without the line of `key` in `[section]`; unchanged when absent.
QByteArray withoutIniValue(const QByteArray& iniText, const QString& section, const QString& key);

// Undoes the INI escaping as QSettings does (quotes, \a \b \f \n \r \t \v
// \" \' \? \\, \x hex, \0 octal, spaces around items). An unquoted comma
// makes it a list of texts (isList); otherwise the result has one item.
QStringList unescapeIniValue(const QByteArray& raw, bool& isList);

struct ParseResult
{
    QVariantList accounts; // SipAccount values that could be read, in order
    bool isVariant = false; // the text was an "@Variant(...)" value at all
    bool complete = false;  // every entry read, nothing left over
};

// Parses the stored texts. QSettings writes a list of several values as one
// "@Variant(...)" text per SipAccount value, and a list of one value as a
// single "@Variant(...)" holding the whole list; "@Invalid()" is the empty
// list. Entries that cannot be read are left out (in a single list text,
// everything from the first damaged entry on).
ParseResult parseTexts(const QStringList& texts, bool isList);

// The whole road: settings file contents to result.
ParseResult parseIni(const QByteArray& iniText, const QString& section, const QString& key, bool& found);

} // namespace StoredSipAccounts
