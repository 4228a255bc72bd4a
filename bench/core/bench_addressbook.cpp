// The caller-name index: how long a folder of 10 000 vCard contacts (and a Thunderbird address book of as many)
// takes to be read in the background, what the GUI thread spends on it meanwhile, and what one lookup costs.
// Prints figures with ok/MISSED against the targets; never fails for being slow.

#include "AddressBook.h"
#include "ContactFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

const int kContacts = 10000;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

struct Build
{
    double wallMsecs = -1;   // made until indexReady
    double guiCpuMsecs = -1; // CPU time the GUI thread spent meanwhile (making the object, swapping the index in)
    int contacts = 0;
};

double threadCpuMsecs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

Build build(const AddressBookSources& sources)
{
    Build result;
    QEventLoop loop;
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuMsecs();
    AddressBook book(sources);
    QObject::connect(&book, &AddressBook::indexReady, [&](int contacts) {
        result.wallMsecs = wall.nsecsElapsed() / 1e6;
        result.guiCpuMsecs = threadCpuMsecs() - cpuStart;
        result.contacts = contacts;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

void report(const char* what, const std::vector<Build>& runs, double target, int contacts = kContacts)
{
    std::vector<double> wall, gui;
    for (const Build& run : runs)
        wall.push_back(run.wallMsecs), gui.push_back(run.guiCpuMsecs);
    const double w = median(wall);
    std::printf("  %-34s %8.1f ms (median of %zu; %d contacts; target <= %.0f ms) %s\n", what, w, runs.size(),
                runs.front().contacts, target,
                w >= 0 && w <= target && runs.front().contacts == contacts ? "ok" : "MISSED");
    std::printf("  %-34s %8.1f ms (CPU time of the GUI thread meanwhile; median)\n", "  of it on the GUI thread",
                median(gui));
}

// A Thunderbird profile whose abook.sqlite holds kContacts cards with a name and a number, made by the sqlite3 tool.
bool makeThunderbird(const QString& root)
{
    const QString profile = root + QStringLiteral("/p.default");
    QFile ini(root + QStringLiteral("/profiles.ini"));
    if (!QDir().mkpath(profile) || !ini.open(QIODevice::WriteOnly) ||
        ini.write("[Profile0]\nIsRelative=1\nPath=p.default\nDefault=1\n") < 0)
        return false;
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {profile + QStringLiteral("/abook.sqlite")});
    sqlite.write("CREATE TABLE properties (card TEXT, name TEXT, value TEXT);"
                 "CREATE INDEX properties_card ON properties(card); CREATE INDEX properties_name ON properties(name);"
                 "WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x < 9999) "
                 "INSERT INTO properties SELECT 'c' || x, 'DisplayName', 'Thunderbird ' || x FROM n "
                 "UNION ALL SELECT 'c' || x, 'CellularNumber', '+31 6 ' || (13000000 + x) FROM n "
                 "UNION ALL SELECT 'c' || x, 'PrimaryEmail', 'c' || x || '@example.org' FROM n;");
    sqlite.closeWriteChannel();
    return sqlite.waitForFinished() && sqlite.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Karvelon"));
    QCoreApplication::setApplicationName(QStringLiteral("Karvelon"));
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/contacts");
    if (!dir.isValid() || !ContactFolder::write(folder, kContacts)) {
        std::fprintf(stderr, "bench_addressbook: cannot write the contacts\n");
        return 1;
    }
    const int rounds = 5;
    std::printf("bench_addressbook: index built on a worker thread\n");

    AddressBookSources vCards;
    vCards.vCardPath = folder;
    vCards.thunderbird = false;
    std::vector<Build> runs;
    for (int round = 0; round < rounds; ++round)
        runs.push_back(build(vCards));
    report("10 000 vCard files", runs, 1000);

    // A folder small enough to have each file watched: what that costs the GUI thread.
    const QString small = dir.path() + QStringLiteral("/small");
    AddressBookSources watched = vCards;
    watched.vCardPath = small;
    if (ContactFolder::write(small, AddressBook::MaxWatchedFiles)) {
        runs.clear();
        for (int round = 0; round < rounds; ++round)
            runs.push_back(build(watched));
        report("256 vCard files, each watched", runs, 1000, AddressBook::MaxWatchedFiles);
    }

    AddressBookSources thunderbird;
    thunderbird.thunderbirdRoot = dir.path() + QStringLiteral("/thunderbird");
    if (makeThunderbird(thunderbird.thunderbirdRoot)) {
        runs.clear();
        for (int round = 0; round < rounds; ++round)
            runs.push_back(build(thunderbird));
        report("Thunderbird, 10 000 cards", runs, 1000);
    } else {
        std::printf("  Thunderbird: skipped (no sqlite3 tool)\n");
    }

    // Lookups in the notations callers arrive in, each timed in batches of 100.
    AddressBook book(vCards);
    QEventLoop loop;
    QObject::connect(&book, &AddressBook::indexReady, &loop, &QEventLoop::quit);
    loop.exec();
    QStringList numbers;
    for (int i = 0; i < 1000; ++i) {
        const QString nr = ContactFolder::mobile(i * 7).mid(1);
        numbers << QStringLiteral("+31") + nr << QStringLiteral("0031") + nr << QLatin1Char('0') + nr
                << QStringLiteral("+3220000") + QString::number(i); // unknown
    }
    std::vector<double> perLookup;
    int found = 0;
    for (int repeat = 0; repeat < 50; ++repeat) {
        for (int start = 0; start < numbers.size(); start += 100) {
            QElapsedTimer timer;
            timer.start();
            for (int i = start; i < start + 100; ++i)
                found += book.lookup(numbers.at(i)).isEmpty() ? 0 : 1;
            perLookup.push_back(timer.nsecsElapsed() / 100.0 / 1000.0);
        }
    }
    const double us = median(perLookup);
    std::printf("  lookup                             %8.2f us (median of %zu batches of 100; target <= 10 us) %s\n",
                us, perLookup.size(), us <= 10 && found == 50 * 3000 ? "ok" : "MISSED");
    return 0;
}
