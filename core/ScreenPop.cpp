#include "ScreenPop.h"

#include "Settings.h"
#include "SettingsKeys.h"

#include <QVector>

using namespace SettingsKeys;

namespace ScreenPop {

namespace {
const QString kNumber = QStringLiteral("{nummer}");
const QString kName = QStringLiteral("{naam}");
const QString kLine = QStringLiteral("{op}");

// The template with every placeholder replaced, in one pass so that nothing a
// value brings in is read as a placeholder again.
QString fill(const QString& urlTemplate, const QByteArray& number, const QByteArray& name, const QByteArray& line)
{
    QString result;
    result.reserve(urlTemplate.size() + number.size() + name.size() + line.size());
    for (int i = 0; i < urlTemplate.size();) {
        const QStringRef rest = urlTemplate.midRef(i);
        if (rest.startsWith(kNumber)) {
            result += QLatin1String(number);
            i += kNumber.size();
        } else if (rest.startsWith(kName)) {
            result += QLatin1String(name);
            i += kName.size();
        } else if (rest.startsWith(kLine)) {
            result += QLatin1String(line);
            i += kLine.size();
        } else {
            result += urlTemplate.at(i++);
        }
    }
    return result;
}

int firstPlaceholder(const QString& urlTemplate)
{
    int first = -1;
    for (const QString& placeholder : {kNumber, kName, kLine}) {
        const int at = urlTemplate.indexOf(placeholder);
        if (at >= 0 && (first < 0 || at < first))
            first = at;
    }
    return first;
}

// A "%" that does not start an escape of its own would join the value after
// it into one ("%4" and "1..." make "A...").
bool hasLoosePercent(const QString& urlTemplate)
{
    const auto isHex = [&](int i) {
        const QChar c = i < urlTemplate.size() ? urlTemplate.at(i).toLower() : QChar();
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    };
    for (int i = urlTemplate.indexOf(QLatin1Char('%')); i >= 0; i = urlTemplate.indexOf(QLatin1Char('%'), i + 1)) {
        if (!isHex(i + 1) || !isHex(i + 2))
            return true;
    }
    return false;
}

// The template as an address, with a harmless value in each placeholder.
QUrl sample(const QString& urlTemplate)
{
    const QByteArray zero("0");
    return QUrl(fill(urlTemplate, zero, zero, zero), QUrl::StrictMode);
}
} // namespace

Setup readSetup()
{
    Settings settings;
    return {settings.get(kScreenPopGroup, kUrl).toString(),
            modeFromName(settings.get(kScreenPopGroup, kMode).toString())};
}

void writeSetup(const Setup& setup)
{
    Settings settings;
    settings.set(kScreenPopGroup, kUrl, setup.urlTemplate.trimmed());
    settings.set(kScreenPopGroup, kMode, modeName(setup.mode));
}

QString modeName(Mode mode)
{
    return mode == Mode::Button ? QStringLiteral("button") : QStringLiteral("auto");
}

Mode modeFromName(const QString& name)
{
    return name == QLatin1String("button") ? Mode::Button : Mode::Automatic;
}

QString templateProblem(const QString& urlTemplate)
{
    const QString t = urlTemplate.trimmed();
    if (t.isEmpty())
        return QString();
    if (t.size() > MaxTemplateLength)
        return QStringLiteral("Het adres is te lang: ten hoogste %1 tekens.").arg(MaxTemplateLength);
    // Another scheme could run something on this machine (file:, javascript:, a program's own scheme).
    const int colon = t.indexOf(QLatin1Char(':'));
    const QString scheme = t.left(qMax(0, colon)).toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QStringLiteral("Alleen adressen die met http:// of https:// beginnen kunnen worden geopend.");
    const int first = firstPlaceholder(t);
    if (first < 0)
        return QStringLiteral("Het adres moet {nummer}, {naam} of {op} bevatten.");
    // A value in the server name would let a caller's name choose the server.
    // (Without "//" after the scheme there is no server name: refused below.)
    int hostEnd = t.size();
    for (const QChar end : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const int at = t.indexOf(end, colon + 3);
        if (at >= 0)
            hostEnd = qMin(hostEnd, at);
    }
    if (first < hostEnd)
        return QStringLiteral("{nummer}, {naam} en {op} kunnen niet in de servernaam staan.");
    const QUrl url = sample(t);
    if (!url.isValid() || url.host().isEmpty() || hasLoosePercent(t))
        return QStringLiteral("Dit is geen geldig webadres.");
    return QString();
}

QByteArray encodedValue(const QString& value)
{
    QVector<uint> kept;
    for (const uint c : value.toUcs4()) {
        // Controls, format characters (direction overrides) and unpaired surrogates.
        if (QChar::isPrint(c))
            kept.append(c);
    }
    const QString clean = QString::fromUcs4(kept.constData(), qMin(kept.size(), MaxValueLength)).trimmed();
    return QUrl::toPercentEncoding(clean);
}

QUrl pageFor(const QString& urlTemplate, const Caller& caller)
{
    if (!templateProblem(urlTemplate).isEmpty() || urlTemplate.trimmed().isEmpty())
        return QUrl();
    const QString filled = fill(urlTemplate.trimmed(), encodedValue(caller.number), encodedValue(caller.name),
                                encodedValue(caller.line));
    if (filled.size() > MaxUrlLength)
        return QUrl();
    const QUrl url(filled, QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

QString openInLabel(const QString& urlTemplate)
{
    if (!templateProblem(urlTemplate).isEmpty() || urlTemplate.trimmed().isEmpty())
        return QString();
    return QStringLiteral("Openen in %1").arg(sample(urlTemplate.trimmed()).host());
}

} // namespace ScreenPop
