#include "NumberFinder.h"

#include "PhoneNumber.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <vector>

namespace NumberFinder {

namespace {

// How a run of digits hangs on to the run before it.
enum class Joint
{
    None,   // not at all: a new stretch of text
    Weak,   // a blank, "-", "." or "/" as inside one number
    Strong, // a line break, a tab or a wide gap: a number may go on, a list may too
};

struct Group
{
    int start = 0; // where a number beginning here starts ("+" included)
    int begin = 0; // its digits
    int end = 0;
    Joint joint = Joint::None;
    bool plus = false;    // a "+" in front: always the start of a number
    bool glued = false;   // a word runs into it from the left
    bool mayEnd = true;   // no word runs on from its right
    bool blocked = false; // part of a date, time range, postcode, IBAN or a labelled number
};

constexpr int kMaxRawDigits = 18; // "00", fifteen digits and a "(0)"

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isDash(QChar c)
{
    return c == QLatin1Char('-') || c == QChar(0x2010) || c == QChar(0x2011) || c == QChar(0x2013);
}

bool isMark(QChar c)
{
    return isDash(c) || c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char('(') ||
           c == QLatin1Char(')');
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber();
}

// "tel:" and "callto:" links decoded, so that "tel:+31%2020%20123%204567"
// reads as "tel:+31 20 123 4567".
QString withLinksDecoded(const QString& text)
{
    QString out;
    int copied = 0;
    for (int colon = text.indexOf(QLatin1Char(':')); colon >= 0; colon = text.indexOf(QLatin1Char(':'), colon + 1)) {
        if (!text.leftRef(colon).endsWith(QLatin1String("tel"), Qt::CaseInsensitive) &&
            !text.leftRef(colon).endsWith(QLatin1String("callto"), Qt::CaseInsensitive))
            continue;
        int end = colon + 1;
        while (end < text.size() && !text.at(end).isSpace() && !QStringLiteral("<>\"',").contains(text.at(end)))
            ++end;
        out += text.midRef(copied, colon + 1 - copied);
        out += PhoneNumber::percentDecoded(text.mid(colon + 1, end - colon - 1));
        copied = end;
        colon = end - 1;
    }
    return copied == 0 ? text : out + text.midRef(copied);
}

// The separators between two digit runs: Joint::None when they cannot belong
// to one number.
Joint jointOf(const QStringRef& run)
{
    int lineBreaks = 0;
    bool strong = false, blankBefore = false;
    for (const QChar c : run) {
        const bool blank = c == QLatin1Char(' ') || c == QChar(0x00a0) || c == QLatin1Char('\t');
        if (blank) {
            strong = strong || blankBefore || c == QLatin1Char('\t');
        } else if (c == QLatin1Char('\n')) {
            ++lineBreaks;
            strong = true;
        } else if (!isMark(c) && c != QLatin1Char('\r')) {
            return Joint::None;
        }
        blankBefore = blank;
    }
    if (run.isEmpty() || lineBreaks > 1)
        return Joint::None;
    return strong ? Joint::Strong : Joint::Weak;
}

// A word in front that says the digits are something else than a telephone
// number: "Bestelnummer: ", "Klantnr. ", "Order #", "KvK ", "BTW-nummer ".
bool isLabelledOther(const QString& text, int start)
{
    static const QSet<QString> labels{
        QStringLiteral("order"),      QStringLiteral("bestel"),     QStringLiteral("bestelling"),
        QStringLiteral("factuur"),    QStringLiteral("invoice"),    QStringLiteral("klant"),
        QStringLiteral("customer"),   QStringLiteral("kvk"),        QStringLiteral("btw"),
        QStringLiteral("vat"),        QStringLiteral("iban"),       QStringLiteral("rekening"),
        QStringLiteral("referentie"), QStringLiteral("ref"),        QStringLiteral("kenmerk"),
        QStringLiteral("dossier"),    QStringLiteral("zaak"),       QStringLiteral("ticket"),
        QStringLiteral("artikel"),    QStringLiteral("pakket"),     QStringLiteral("zending"),
        QStringLiteral("tracking"),   QStringLiteral("transactie"), QStringLiteral("polis"),
        QStringLiteral("contract"),   QStringLiteral("lid"),        QStringLiteral("pas"),
        QStringLiteral("serie"),      QStringLiteral("bsn"),        QStringLiteral("postcode")};
    static const QStringList suffixes{QStringLiteral("nummer"), QStringLiteral("number"), QStringLiteral("nr"),
                                      QStringLiteral("no")};
    const int limit = qMax(0, start - 40);
    int i = start;
    QString word;
    for (int words = 0; words < 2; ++words) {
        while (i > limit && !text.at(i - 1).isLetterOrNumber() && text.at(i - 1) != QLatin1Char('\n'))
            --i;
        const int wordEnd = i;
        while (i > limit && text.at(i - 1).isLetter())
            --i;
        word = text.mid(i, wordEnd - i).toLower();
        // "Order nr. 123": the word before the "nr" names it.
        if (!suffixes.contains(word))
            break;
    }
    for (const QString& suffix : suffixes) {
        if (word.size() > suffix.size() && word.endsWith(suffix)) {
            word.chop(suffix.size());
            break;
        }
    }
    return labels.contains(word);
}

class Finder
{
public:
    explicit Finder(const QString& text)
        : m_text(withLinksDecoded(text.left(ScanLimit))), m_truncated(text.size() > ScanLimit)
    {
        split();
        blockDates();
        blockPostcodesAndIbans();
        blockLabelled();
    }

    QStringList numbers() const
    {
        QStringList found;
        QSet<QString> seen;
        for (int k = 0; k < int(m_groups.size());) {
            const int last = numberFrom(k);
            if (last < 0) {
                ++k;
                continue;
            }
            const QString number = numberText(k, last);
            const QString same = PhoneNumber::nationalForm(number);
            if (!seen.contains(same)) {
                seen.insert(same);
                found.append(number);
            }
            k = last + 1;
        }
        return found;
    }

private:
    void split()
    {
        const int n = m_text.size();
        for (int i = 0; i < n;) {
            if (!isAsciiDigit(m_text.at(i))) {
                ++i;
                continue;
            }
            Group g;
            g.begin = i;
            while (i < n && isAsciiDigit(m_text.at(i)))
                ++i;
            g.end = i;
            g.plus = g.begin > 0 && m_text.at(g.begin - 1) == QLatin1Char('+');
            g.start = g.plus ? g.begin - 1 : g.begin;
            if (!m_groups.empty())
                g.joint = jointOf(m_text.midRef(m_groups.back().end, g.start - m_groups.back().end));
            // A single letter in front is a signature's "T020 ..." or "M06-..."; more is a word ("NL91").
            const int before = g.start;
            if (before > 0 && isWordChar(m_text.at(before - 1)))
                g.glued = !m_text.at(before - 1).isLetter() || (before > 1 && isWordChar(m_text.at(before - 2)));
            g.mayEnd = i >= n || !isWordChar(m_text.at(i));
            m_groups.push_back(g);
        }
    }

    int length(int k) const { return m_groups[k].end - m_groups[k].begin; }
    int value(int k) const { return m_text.midRef(m_groups[k].begin, length(k)).toInt(); }
    // The one character between two runs of one chunk, or nothing.
    QChar separatorBefore(int k) const
    {
        const Group& g = m_groups[k];
        if (g.joint == Joint::None || g.plus || g.start - m_groups[k - 1].end != 1)
            return QChar();
        return m_text.at(g.start - 1);
    }
    void block(int from, int count)
    {
        for (int k = from; k < from + count; ++k)
            m_groups[k].blocked = true;
    }

    // 12-03-2024, 12.03.2024, 12/3/2024, 2024-03-12, and time ranges 09.00-17.30.
    void blockDates()
    {
        const int n = int(m_groups.size());
        for (int k = 0; k + 2 < n; ++k) {
            const QChar sep = separatorBefore(k + 1);
            if (sep.isNull() || !QStringLiteral("-./").contains(sep) || separatorBefore(k + 2) != sep)
                continue;
            const bool dayFirst = length(k) <= 2 && length(k + 1) <= 2 && length(k + 2) == 4;
            const bool yearFirst = length(k) == 4 && length(k + 1) == 2 && length(k + 2) == 2;
            const int day = value(dayFirst ? k : k + 2), month = value(k + 1);
            if ((dayFirst || yearFirst) && day >= 1 && day <= 31 && month >= 1 && month <= 12)
                block(k, 3);
        }
        const auto isTime = [this](int k) {
            return separatorBefore(k + 1) == QLatin1Char('.') && length(k) <= 2 && value(k) <= 23 && length(k + 1) == 2;
        };
        for (int k = 0; k + 3 < n; ++k) {
            const Group& to = m_groups[k + 2];
            if (to.joint == Joint::None || !isTime(k) || !isTime(k + 2))
                continue;
            const QStringRef between = m_text.midRef(m_groups[k + 1].end, to.start - m_groups[k + 1].end);
            if (std::any_of(between.begin(), between.end(), isDash))
                block(k, 4);
        }
    }

    void blockPostcodesAndIbans()
    {
        // "1234 AB": a Dutch postcode, never the tail of a number before it.
        for (int k = 0; k < int(m_groups.size()); ++k) {
            const Group& g = m_groups[k];
            if (length(k) != 4 || m_text.at(g.begin) == QLatin1Char('0'))
                continue;
            int i = g.end;
            if (i < m_text.size() && m_text.at(i) == QLatin1Char(' '))
                ++i;
            const QStringRef letters = m_text.midRef(i, 3);
            if (letters.size() >= 2 && letters.at(0).isUpper() && letters.at(1).isUpper() &&
                (letters.size() == 2 || !letters.at(2).isLetterOrNumber()))
                m_groups[k].blocked = true;
        }
        // "NL91 ABNA 0417 1643 00": its last digits would read as a national number.
        static const QRegularExpression iban(
            QStringLiteral("(?<![\\w])[A-Z]{2}[0-9]{2}(?: ?[A-Z0-9]{4}){2,7}(?: ?[A-Z0-9]{1,3})?(?![\\w])"),
            QRegularExpression::UseUnicodePropertiesOption);
        for (auto it = iban.globalMatch(m_text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            for (Group& g : m_groups) {
                if (g.begin >= match.capturedStart() && g.end <= match.capturedEnd())
                    g.blocked = true;
            }
        }
    }

    // A labelled number is no telephone number up to where its line or list goes on.
    void blockLabelled()
    {
        for (int k = 0; k < int(m_groups.size()); ++k) {
            if (m_groups[k].joint != Joint::None || !isLabelledOther(m_text, m_groups[k].start))
                continue;
            m_groups[k].blocked = true;
            while (k + 1 < int(m_groups.size()) && m_groups[k + 1].joint == Joint::Weak)
                m_groups[++k].blocked = true;
        }
    }

    bool mayStart(int k) const
    {
        const Group& g = m_groups[k];
        return !g.blocked && !g.glued && (g.plus || m_text.at(g.begin) == QLatin1Char('0'));
    }

    QString numberText(int first, int last) const
    {
        QString text = m_text.mid(m_groups[first].start, m_groups[last].end - m_groups[first].start);
        for (QChar& c : text) {
            if (c.isSpace())
                c = QLatin1Char(' ');
            else if (isDash(c))
                c = QLatin1Char('-');
        }
        return PhoneNumber::normalized(text);
    }

    // The runs first..last as one number, when its length is that of one.
    bool isNumber(int first, int last) const
    {
        if (!m_groups[last].mayEnd)
            return false;
        const QString number = numberText(first, last);
        const QString digits = number.startsWith(QLatin1Char('+')) ? number.mid(1) : number;
        if (number.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1String("00"))) {
            const QStringRef international = digits.midRef(number.startsWith(QLatin1Char('+')) ? 0 : 2);
            if (international.isEmpty() || international.at(0) == QLatin1Char('0'))
                return false;
            if (international.startsWith(QLatin1String(PhoneNumber::HomeCountryCode)))
                return international.size() == 11;
            return international.size() >= 8 && international.size() <= 15;
        }
        if (digits.size() == 10)
            return true;
        static const QStringList service{QStringLiteral("0800"), QStringLiteral("0900"), QStringLiteral("0906"),
                                         QStringLiteral("0909")};
        return (digits.size() == 8 || digits.size() == 11) && service.contains(digits.left(4));
    }

    // The runs from `first` on that may belong to one number with it.
    int reach(int first) const
    {
        int last = first, digits = length(first);
        while (last + 1 < int(m_groups.size())) {
            const Group& next = m_groups[last + 1];
            if (next.joint == Joint::None || next.plus || next.blocked || digits + length(last + 1) > kMaxRawDigits)
                break;
            digits += length(++last);
        }
        return last;
    }

    bool startsNumber(int first) const
    {
        if (first >= int(m_groups.size()) || !mayStart(first))
            return false;
        for (int last = first, end = reach(first); last <= end; ++last) {
            if (isNumber(first, last))
                return true;
        }
        return false;
    }

    // The last run of the number that starts at `first`, -1 when none does.
    // Where several lengths fit ("0800 1234 567"), the number ends where the
    // text says so: at a line break or gap, before a "+" or before another number.
    int numberFrom(int first) const
    {
        if (!mayStart(first))
            return -1;
        const int end = reach(first);
        // Runs up to the cut may go on behind it: no length can be trusted then.
        const bool cut = m_truncated && m_groups[end].end == m_text.size();
        int longest = -1;
        for (int last = first; last <= end; ++last) {
            if (!isNumber(first, last))
                continue;
            longest = last;
            if (last < end ? m_groups[last + 1].joint != Joint::Weak || startsNumber(last + 1) : !cut)
                return last;
        }
        return cut ? -1 : longest;
    }

    const QString m_text;
    const bool m_truncated;
    std::vector<Group> m_groups;
};

} // namespace

QStringList findPhoneNumbers(const QString& text)
{
    return Finder(text).numbers();
}

} // namespace NumberFinder
