#include "ContactPayload.h"

namespace ContactPayload {

Contact parse(const QString& rest, Origin origin)
{
    Contact contact;
    const int separator = rest.indexOf(QLatin1Char(';'));
    contact.name = separator < 0 ? rest : rest.left(separator);
    if (separator < 0 && origin == PluginSocket)
        return contact;
    const QString numberPart = separator < 0 ? QString() : rest.mid(separator + 1);

    // Empty pieces are kept: they are entries too.
    const QStringList pieces = numberPart.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    for (const QString& piece : pieces) {
        const int equals = piece.indexOf(QLatin1Char('='));
        if (origin == PluginSocket && (equals < 0 || piece.indexOf(QLatin1Char('='), equals + 1) >= 0)) {
            contact.numbers.append(piece);
            continue;
        }
        const QString number = equals < 0 ? piece : piece.left(equals);
        const QString label = equals < 0 ? piece : piece.mid(equals + 1);
        contact.numbers.append(QStringLiteral("%1 (%2)").arg(number, label));
    }
    return contact;
}

} // namespace ContactPayload
