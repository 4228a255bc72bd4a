#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Reading the user's own contacts from vCard text (RFC 2426 and 6350, and the
// older 2.1 that phones and Outlook still write) for the names of callers.
// Only what a caller's name needs is read: the name and the telephone numbers.
namespace VCard {

struct Contact
{
    QString name;        // FN, else N as "prefix given additional family suffix", else ORG's first part; one line
    QStringList numbers; // each TEL as written (a tel: URI's number part); not yet normalised

    bool operator==(const Contact& other) const { return name == other.name && numbers == other.numbers; }
};

struct ReadResult
{
    QVector<Contact> contacts; // every card that was closed, in the order of the text
    // The first line (counted from 1) that could not be read: junk, invalid UTF-8, a line outside a card, an END
    // without BEGIN, a card never closed. Bad lines are skipped and an unclosed card is dropped, so what could be
    // read is kept. 0 when the text was sound.
    int damagedLine = 0;

    bool isDamaged() const { return damagedLine > 0; }
};

// Reads every card of a file. Lines end in LF or CRLF; a line beginning with a blank or a tab continues the one
// before (RFC 6350 folding), as does the next line after a quoted-printable value ending in "=" (2.1). Property
// groups ("item1.TEL"), parameters with quoted values, the escapes \, \; \n \\, quoted-printable with CHARSET, and
// tel: URIs ("tel:+31-20-1234567;ext=1" gives "+31-20-1234567"; other URIs are no telephone number) are
// understood. Never fails: any bytes give a result.
ReadResult read(const QByteArray& text);

// A name as one line of text, as every address book's names are shown: control characters and line or paragraph
// separators become blanks, runs of blanks one, none at either end.
QString oneLine(QString text);

} // namespace VCard
