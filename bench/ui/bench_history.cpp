// The call history's three moments a user could feel: recording a call (the
// notification handler waits for it; the count of new calls follows it), rebuilding "Recente gesprekken" from a
// full history, and opening the "Gesprekken" window over 1000 calls, up to its
// first paint. Targets: record <= 1 ms median, menu <= 10 ms, window <= 150 ms.
#include "CallHistory.h"
#include "CallJournalDialog.h"
#include "NewCallCount.h"
#include "RecentCallsMenu.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

void report(const char* what, const Figures& f, const char* unit, double limit)
{
    std::printf("%-40s median %8.2f %s   max %8.2f %s   (target %.0f %s) %s\n", what, f.median(), unit, f.max(), unit,
                limit, unit, f.median() <= limit ? "ok" : "OVER");
}

CallRecord someCall(int i)
{
    CallRecord call;
    call.direction = i % 3 ? CallRecord::Incoming : CallRecord::Outgoing;
    call.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch() - qint64(1000 - i) * 600000;
    call.number = QStringLiteral("+3120%1").arg(1000000 + (i * 7919) % 8999999);
    call.name = i % 4 ? QStringLiteral("Contact %1 & Zonen B.V.").arg(i) : QString();
    call.line = QStringLiteral("0201234567");
    call.source = QStringLiteral("ClickToDial");
    call.accepted = true;
    return call;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Karvelon"));
    QCoreApplication::setApplicationName(QStringLiteral("Karvelon"));
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }

    // Recording: 3000 calls into a history that keeps 1000, so the figures
    // include the appends that compact the file, and the count of new calls
    // that follows every change.
    CallHistory history(dir.filePath(QStringLiteral("calls.jsonl")));
    NewCallCount newCalls(&history);
    Figures record;
    for (int i = 0; i < 3 * CallHistory::DefaultMaxCalls; ++i) {
        const CallRecord call = someCall(i % CallHistory::DefaultMaxCalls);
        QElapsedTimer timer;
        timer.start();
        history.add(call);
        record.add(timer.nsecsElapsed() / 1e3);
    }

    RecentCallsMenu menu;
    Figures rebuild;
    for (int round = 0; round < 50; ++round) {
        QElapsedTimer timer;
        timer.start();
        menu.setCallHistory(&history);
        rebuild.add(timer.nsecsElapsed() / 1e6);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Figures open;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer timer;
        timer.start();
        CallJournalDialog journal(&history);
        journal.show();
        journal.repaint();
        QApplication::processEvents();
        open.add(timer.nsecsElapsed() / 1e6);
    }

    std::printf("Call history, %d calls kept\n", history.calls().size());
    report("record one call (incl. compaction, new-call count)", record, "us", 1000);
    report("build \"Recente gesprekken\"", rebuild, "ms", 10);
    report("open \"Gesprekken\" with all calls", open, "ms", 150);
    return 0;
}
