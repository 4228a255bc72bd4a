// Finding the telephone numbers in selected text: 4 KB of an e-mail thread
// (target: at most 1 ms), the same at 1 MB (the finder reads only the start),
// and 4 KB built to make it work hardest. Prints figures; never fails for being slow.

#include "NumberFinder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char s_mail[] =
    "Beste Jan,\n\nDank voor uw bestelling van 12-03-2024 (bestelnummer: 0201234567). De factuur 2024-0012 "
    "van EUR 1.234,56 volgt per post naar Kerkstraat 12, 1234 AB Amsterdam. Betalen kan op IBAN NL91 ABNA "
    "0417 1643 00 t.n.v. Voorbeeld B.V., KvK 12345678, BTW NL123456789B01.\nVoor vragen zijn wij ma-vr "
    "09.00-17.30 uur bereikbaar op 020 - 123 45 67 of via tel:+31%2020%20765%204321.\n\nMet vriendelijke "
    "groet,\n\nPiet Pietersen\nT +31 (0)20-123 45 67\nM 06-12 34 56 78\nF 020 765\n43 21\n"
    "Vestiging Brussel: +32 2 123 45 67\n\n> Op 11-03-2024 om 16.45 schreef Jan:\n> Kunt u mij terugbellen op "
    "0031 6 8765 4321? Mijn klantnummer is 0612345678.\n\n";

QString repeated(const QString& piece, int size)
{
    QString text;
    while (text.size() < size)
        text += piece;
    text.truncate(size);
    return text;
}

// Median and best of `rounds` runs, in microseconds.
std::pair<double, double> measure(const QString& text, int rounds, int& found)
{
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        found = NumberFinder::findPhoneNumbers(text).size();
        micros.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros.front()};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString mail = QString::fromUtf8(s_mail);
    const struct { const char* name; QString text; } cases[] = {
        {"e-mail thread, 4 KB", repeated(mail, NumberFinder::ScanLimit)},
        {"e-mail thread, 1 MB", repeated(mail, 1024 * 1024)},
        {"runs of digits, 4 KB", repeated(QStringLiteral("0 06 12 34 "), NumberFinder::ScanLimit)},
        {"dates and numbers, 4 KB", repeated(QStringLiteral("01-03-2024 06-1234 5678\n"), NumberFinder::ScanLimit)},
    };
    std::printf("bench_numberfinder: findPhoneNumbers() (target: 4 KB in at most 1000 us)\n");
    for (const auto& c : cases) {
        int found = 0;
        const auto [median, best] = measure(c.text, 201, found);
        std::printf("  %-24s %8.1f us median (best %.1f us), %d numbers\n", c.name, median, best, found);
    }
    return 0;
}
