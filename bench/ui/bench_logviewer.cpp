// Opens the log viewer over a busy week of records (140 000 in seven daily
// files) and times opening, filtering by component and re-sorting, each up to
// the next paint. Targets: open <= 1.0 s, filter and sort <= 0.3 s each.
#include "LogRecord.h"
#include "LogViewerDialog.h"
#include "Logger.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int RecordCount = 140000;
constexpr int Days = 7;
constexpr int Rounds = 5;

const char* const s_components[] = {"Karvelon",  "Notifier",     "Logger", "Applicatie",
                                    "Websocket", "Instellingen", "API",    "Click-to-dial",
                                    "msoutlook", "thunderbird",  ""};

bool writeWeek(const QString& dir)
{
    const QDate today = QDate::currentDate();
    const int perDay = RecordCount / Days;
    int written = 0;
    for (int day = Days - 1; day >= 0; --day) {
        const QDate date = today.addDays(-day);
        QFile file(dir + date.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        QByteArray bytes;
        const qint64 start = QDateTime(date, QTime(7, 0)).toMSecsSinceEpoch();
        for (int i = 0; i < perDay; ++i, ++written) {
            const int severity = (written % 10 == 0) ? 0 : 1 + (written % 7 == 0) + (written % 13 == 0);
            const QString component = QString::fromLatin1(s_components[(written * 7) % 11]);
            const QString msg = QStringLiteral("Gesprek %1 naar +31 20 %2 gestart via SIP account %3 (\"Kantoor\")")
                                    .arg(written)
                                    .arg(1000000 + (written * 7919) % 8999999)
                                    .arg(200 + written % 5);
            LogRecord::appendLine(bytes, severity, component, start + qint64(i) * 400, msg);
        }
        if (file.write(bytes) != bytes.size())
            return false;
    }
    return written == RecordCount;
}

double msSince(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

void paint(QWidget& widget)
{
    widget.repaint();
    QApplication::processEvents();
}

struct Figures
{
    std::vector<double> values;
    void add(double ms) { values.push_back(ms); }
    double median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

void report(const char* what, const Figures& f, double limitMs)
{
    std::printf("%-34s median %8.1f ms   max %8.1f ms   (limit %.0f ms) %s\n", what, f.median(), f.max(), limitMs,
                f.max() <= limitMs ? "ok" : "OVER");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Karvelon"));
    QCoreApplication::setApplicationName(QStringLiteral("Karvelon"));

    Logger* logger = Logger::instance();
    if (logger->logLocation().isEmpty() || !writeWeek(logger->logLocation())) {
        std::fprintf(stderr, "could not write the log files\n");
        return 1;
    }

    Figures read;
    Figures open;
    Figures filter;
    Figures unfilter;
    Figures sortComponent;
    Figures sortMessage;
    Figures sortDate;
    int rows = 0;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const int records = logger->readLogRecords().size();
        read.add(msSince(timer));
        if (records != RecordCount) {
            std::fprintf(stderr, "read %d records instead of %d\n", records, RecordCount);
            return 1;
        }

        timer.restart();
        LogViewerDialog dialog;
        dialog.show();
        paint(dialog);
        open.add(msSince(timer));

        auto* view = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbComponentFilter"));
        rows = view->model()->rowCount();

        timer.restart();
        combo->setCurrentText(QStringLiteral("Websocket"));
        paint(dialog);
        filter.add(msSince(timer));

        timer.restart();
        combo->setCurrentIndex(0);
        paint(dialog);
        unfilter.add(msSince(timer));

        timer.restart();
        view->sortByColumn(2, Qt::AscendingOrder);
        paint(dialog);
        sortComponent.add(msSince(timer));

        timer.restart();
        view->sortByColumn(3, Qt::AscendingOrder);
        paint(dialog);
        sortMessage.add(msSince(timer));

        timer.restart();
        view->sortByColumn(1, Qt::DescendingOrder);
        paint(dialog);
        sortDate.add(msSince(timer));
    }

    std::printf("Log viewer, %d records in %d files, %d rows shown (debug records left out), %d rounds\n", RecordCount,
                Days, rows, Rounds);
    std::printf("%-34s median %8.1f ms   max %8.1f ms   (part of opening)\n", "read records (log store)", read.median(),
                read.max());
    report("open viewer (incl. read, paint)", open, 1000);
    report("filter by component", filter, 300);
    report("filter back to Alles", unfilter, 300);
    report("sort by component", sortComponent, 300);
    report("sort by message", sortMessage, 300);
    report("sort by date (newest first)", sortDate, 300);
    return 0;
}
