#include "Clock.h"
#include "LogExporter.h"
#include "LogRecord.h"
#include "LogTableModel.h"
#include "LogViewerDialog.h"
#include "Logger.h"
#include "MessageBox.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

namespace {

struct Record
{
    int severity;
    QString component;
    qint64 msecs;
    QString msg;
};

// 2024-03-12 is "today" for the logger in this test.
const QDateTime s_now(QDate(2024, 3, 12), QTime(12, 0), Qt::LocalTime);
const QString s_today = QStringLiteral("20240312.txt");
const QString s_yesterday = QStringLiteral("20240311.txt");
const QString s_failureHeadline = QStringLiteral("Exporteren van de log bestanden is mislukt.");

qint64 at(int hour, int minute, int msec = 0)
{
    return QDateTime(QDate(2024, 3, 12), QTime(hour, minute, 0, msec), Qt::LocalTime).toMSecsSinceEpoch();
}

QString logDir()
{
    return Logger::instance()->logLocation();
}

void appendRecords(const QString& fileName, const QList<Record>& records)
{
    QByteArray bytes;
    for (const Record& r : records)
        bytes += LogRecord::formatLine(r.severity, r.component, r.msecs, r.msg);
    QFile file(logDir() + fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QAbstractItemModel* tableModel(LogViewerDialog& dialog)
{
    return dialog.findChild<QTableView*>(QStringLiteral("tableView"))->model();
}

QStringList column(LogViewerDialog& dialog, int col)
{
    QAbstractItemModel* model = tableModel(dialog);
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, col).data().toString();
    return texts;
}

QStringList comboItems(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
}

void press(LogViewerDialog& dialog, const char* name)
{
    auto* button = dialog.findChild<QPushButton*>(QLatin1String(name));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList filesIn(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Entry names and contents of an archive, read back with QuaZip.
QMap<QString, QByteArray> readArchive(const QString& path, bool& ok)
{
    QMap<QString, QByteArray> entries;
    ok = false;
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return entries;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::ReadOnly))
            return entries;
        entries.insert(file.getActualFileName(), file.readAll());
        file.close();
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info) || info.method != Z_DEFLATED)
            return entries;
    }
    ok = zip.getZipError() == UNZ_OK;
    return entries;
}

// The archive as the stock unzip tool lists it (entry names, one a line).
QStringList unzipList(const QString& path)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), path});
    if (!unzip.waitForFinished(30000) || unzip.exitStatus() != QProcess::NormalExit || unzip.exitCode() != 0)
        return {QStringLiteral("unzip failed: ") + QString::fromUtf8(unzip.readAllStandardError())};
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    return names;
}

} // namespace

class TestLogViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void timestampsAndIcons_pureHelpers_data();
    void timestampsAndIcons_pureHelpers();
    void severities_showThreeRowsWithTheirIcons();
    void unknownSeverity_rowWithoutIcon();
    void filterList_inOrderOfFirstAppearance_andFilters();
    void newestRecordFirst_headerClicksResort();
    void sorting_keepsTheSelectedRecord();
    void purge_withNoKeepsEverything_withYesEmptiesLogAndTable();
    void export_twoDailyFiles_givesTwoEqualEntries();
    void export_nonAsciiTargetAndFileName();
    void export_fromNonAsciiLogDirectory();
    void export_cancelledSaveDialog_writesNothing();
    void export_unwritableTarget_warnsAndLeavesNoFile();
    void export_unreadableLogFile_keepsOldArchive();

private:
    FixedClock m_clock{s_now};
    QString m_exportDir;
};

void TestLogViewer::initTestCase()
{
    TestSupport::setApplicationIdentity();
    QVERIFY2(!TestSupport::testHome().isEmpty(), "run through the test wrapper");
    Clock::setInstance(&m_clock);
    QVERIFY(!Logger::instance()->logLocation().isEmpty());
    m_exportDir = TestSupport::testHome() + QStringLiteral("/exports");
    QVERIFY(QDir().mkpath(m_exportDir));
}

void TestLogViewer::init()
{
    Logger::instance()->purge(0);
    QCOMPARE(filesIn(logDir()), QStringList{s_today});
    MessageBox::clearAnswers();
    LogViewerDialog::setSaveFileNameProviderForTesting({});
}

void TestLogViewer::cleanup()
{
    QCOMPARE(MessageBox::pendingAnswers(), 0);
    MessageBox::clearAnswers();
    LogViewerDialog::setSaveFileNameProviderForTesting({});
    QDir(m_exportDir).removeRecursively();
    QVERIFY(QDir().mkpath(m_exportDir));
}

void TestLogViewer::timestampsAndIcons_pureHelpers_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<qint64>("msecs");
    QTest::addColumn<QString>("shown");

    const qint64 noon = at(12, 0, 7);
    QTest::newRow("number") << QString::number(noon) << noon << QStringLiteral("2024-03-12 12:00:00.007");
    const QString epoch =
        QDateTime::fromMSecsSinceEpoch(0, Qt::LocalTime).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    QTest::newRow("not a number") << QStringLiteral("gisteren") << qint64(0) << epoch;
    QTest::newRow("empty") << QString() << qint64(0) << epoch;
}

void TestLogViewer::timestampsAndIcons_pureHelpers()
{
    QFETCH(QString, date);
    QFETCH(qint64, msecs);
    QFETCH(QString, shown);
    QCOMPARE(LogTableModel::parseTimestamp(date), msecs);
    QCOMPARE(LogTableModel::formatTimestamp(msecs), shown);

    QCOMPARE(LogTableModel::severityIconPath(0), QString());
    QCOMPARE(LogTableModel::severityIconPath(1), QStringLiteral(":/icons/info16"));
    QCOMPARE(LogTableModel::severityIconPath(2), QStringLiteral(":/icons/warning16"));
    QCOMPARE(LogTableModel::severityIconPath(3), QStringLiteral(":/icons/error16"));
    QCOMPARE(LogTableModel::severityIconPath(9), QString());
}

void TestLogViewer::severities_showThreeRowsWithTheirIcons()
{
    appendRecords(s_yesterday, {{0, QStringLiteral("API"), at(9, 0), QStringLiteral("spoor")},
                                {1, QStringLiteral("API"), at(9, 1), QStringLiteral("info")},
                                {2, QStringLiteral("API"), at(9, 2), QStringLiteral("waarschuwing")},
                                {3, QStringLiteral("API"), at(9, 3), QStringLiteral("fout")}});
    LogViewerDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Karvelon - Log viewer"));
    QAbstractItemModel* model = tableModel(dialog);
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString());
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Datum"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Component"));
    QCOMPARE(model->headerData(3, Qt::Horizontal, Qt::EditRole).toString(), QStringLiteral("Bericht"));

    // Newest first: error, warning, info; the debug record is not there.
    QCOMPARE(column(dialog, 3),
             (QStringList{QStringLiteral("fout"), QStringLiteral("waarschuwing"), QStringLiteral("info")}));
    const QStringList icons{QStringLiteral(":/icons/error16"), QStringLiteral(":/icons/warning16"),
                            QStringLiteral(":/icons/info16")};
    for (int row = 0; row < 3; ++row) {
        const QModelIndex index = model->index(row, 0);
        QCOMPARE(index.data(Qt::DisplayRole).toString(), QString());
        const QImage shown = iconImage(qvariant_cast<QIcon>(index.data(Qt::DecorationRole)));
        QVERIFY(!shown.isNull());
        QCOMPARE(shown, iconImage(QIcon(icons.at(row))));
        QVERIFY(!model->index(row, 1).data(Qt::DecorationRole).isValid());
    }
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("2024-03-12 09:03:00.000"));
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("API"));
    QVERIFY(!(model->flags(model->index(0, 3)) & Qt::ItemIsEditable));
}

void TestLogViewer::unknownSeverity_rowWithoutIcon()
{
    appendRecords(s_today, {{7, QStringLiteral("API"), at(9, 0), QStringLiteral("onbekend")}});
    QFile file(logDir() + s_today);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write("{\"component\":\"API\",\"date\":\"geen getal\",\"msg\":\"zonder tijd\",\"severity\":2}\n");
    file.close();

    LogViewerDialog dialog;
    QAbstractItemModel* model = tableModel(dialog);
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("onbekend"));
    QVERIFY(qvariant_cast<QIcon>(model->index(0, 0).data(Qt::DecorationRole)).isNull());
    QCOMPARE(model->index(1, 3).data().toString(), QStringLiteral("zonder tijd"));
    QCOMPARE(model->index(1, 1).data().toString(), LogTableModel::formatTimestamp(0));
}

void TestLogViewer::filterList_inOrderOfFirstAppearance_andFilters()
{
    appendRecords(s_yesterday, {{1, QStringLiteral("Websocket"), at(8, 0), QStringLiteral("w1")},
                                {1, QStringLiteral("API"), at(8, 1), QStringLiteral("a1")},
                                {0, QStringLiteral("Verborgen"), at(8, 2), QStringLiteral("debug only")}});
    appendRecords(s_today, {{2, QStringLiteral("Websocket"), at(8, 3), QStringLiteral("w2")},
                            {3, QStringLiteral("MijnAPI"), at(8, 4), QStringLiteral("m1")},
                            {1, QStringLiteral("api"), at(8, 5), QStringLiteral("a2")}});
    LogViewerDialog dialog;
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbComponentFilter"));
    QVERIFY(combo);
    // The log store reads files in directory order; the list follows the records as read.
    QStringList expected{QStringLiteral("Alles")};
    for (const QJsonObject& record : Logger::instance()->readLogRecords()) {
        const QString component = record.value(QStringLiteral("component")).toString();
        if (record.value(QStringLiteral("severity")).toInt() != 0 && !expected.contains(component))
            expected << component;
    }
    QCOMPARE(expected.size(), 5);
    QCOMPARE(comboItems(combo), expected);

    combo->setCurrentText(QStringLiteral("Websocket"));
    QCOMPARE(column(dialog, 3), (QStringList{QStringLiteral("w2"), QStringLiteral("w1")}));

    // Case-insensitive and "contains": API also shows MijnAPI and api.
    combo->setCurrentText(QStringLiteral("API"));
    QCOMPARE(column(dialog, 3), (QStringList{QStringLiteral("a2"), QStringLiteral("m1"), QStringLiteral("a1")}));

    combo->setCurrentText(QStringLiteral("Alles"));
    QCOMPARE(column(dialog, 3).size(), 5);
}

void TestLogViewer::newestRecordFirst_headerClicksResort()
{
    appendRecords(s_yesterday, {{1, QStringLiteral("B"), at(10, 0, 5), QStringLiteral("tweede")},
                                {1, QStringLiteral("C"), at(11, 0), QStringLiteral("derde")}});
    appendRecords(s_today, {{1, QStringLiteral("A"), at(9, 59, 999), QStringLiteral("eerste")},
                            {1, QStringLiteral("D"), at(10, 0, 4), QStringLiteral("tussen")}});
    LogViewerDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(column(dialog, 3), (QStringList{QStringLiteral("derde"), QStringLiteral("tweede"),
                                             QStringLiteral("tussen"), QStringLiteral("eerste")}));

    auto* view = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
    QHeaderView* header = view->horizontalHeader();
    QVERIFY(view->isSortingEnabled());
    const auto clickHeader = [header](int section) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, Qt::NoModifier,
            QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2, header->height() / 2));
    };

    clickHeader(1); // the date column again: oldest first
    QCOMPARE(column(dialog, 3), (QStringList{QStringLiteral("eerste"), QStringLiteral("tussen"),
                                             QStringLiteral("tweede"), QStringLiteral("derde")}));
    clickHeader(2);
    QCOMPARE(column(dialog, 2),
             (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")}));
    clickHeader(2);
    QCOMPARE(column(dialog, 2),
             (QStringList{QStringLiteral("D"), QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));
    clickHeader(3);
    QCOMPARE(column(dialog, 3), (QStringList{QStringLiteral("derde"), QStringLiteral("eerste"),
                                             QStringLiteral("tussen"), QStringLiteral("tweede")}));
}

void TestLogViewer::sorting_keepsTheSelectedRecord()
{
    appendRecords(s_today, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("oud")},
                            {2, QStringLiteral("Websocket"), at(9, 0), QStringLiteral("midden")},
                            {3, QStringLiteral("API"), at(10, 0), QStringLiteral("nieuw")}});
    LogViewerDialog dialog;
    auto* view = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
    view->selectRow(2);
    QCOMPARE(view->currentIndex().sibling(view->currentIndex().row(), 3).data().toString(), QStringLiteral("oud"));
    view->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(view->currentIndex().row(), 0);
    QCOMPARE(view->currentIndex().sibling(0, 3).data().toString(), QStringLiteral("oud"));
    QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(view->selectionModel()->selectedRows().first().row(), 0);
}

void TestLogViewer::purge_withNoKeepsEverything_withYesEmptiesLogAndTable()
{
    appendRecords(s_yesterday, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("a")}});
    appendRecords(s_today, {{2, QStringLiteral("Websocket"), at(9, 0), QStringLiteral("b")}});
    QFile stray(logDir() + QStringLiteral("notities.txt"));
    QVERIFY(stray.open(QIODevice::WriteOnly));
    stray.close();
    const QByteArray yesterdayBytes = TestSupport::readFile(logDir() + s_yesterday);

    LogViewerDialog dialog;
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbComponentFilter"));
    const QStringList filterItems = comboItems(combo);

    MessageBox::setNextAnswer(QMessageBox::No);
    press(dialog, "btnPurge");
    QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Karvelon"));
    QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Weet u zeker dat u alle log informatie wilt verwijderen?"));
    QCOMPARE(column(dialog, 3).size(), 2);
    QCOMPARE(filesIn(logDir()), (QStringList{s_yesterday, s_today, QStringLiteral("notities.txt")}));
    QCOMPARE(TestSupport::readFile(logDir() + s_yesterday), yesterdayBytes);

    MessageBox::setNextAnswer(QMessageBox::Yes);
    press(dialog, "btnPurge");
    QCOMPARE(MessageBox::shownCount(), 2);
    QCOMPARE(tableModel(dialog)->rowCount(), 0);
    QCOMPARE(tableModel(dialog)->headerData(1, Qt::Horizontal).toString(), QString());
    QCOMPARE(filesIn(logDir()), QStringList{s_today});
    QCOMPARE(QFileInfo(logDir() + s_today).size(), qint64(0));
    // The filter list stays as it was, and filtering an empty table is harmless.
    QCOMPARE(comboItems(combo), filterItems);
    combo->setCurrentIndex(1);
    QCOMPARE(tableModel(dialog)->rowCount(), 0);
}

void TestLogViewer::export_twoDailyFiles_givesTwoEqualEntries()
{
    appendRecords(s_yesterday, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("gisteren")},
                                {3, QStringLiteral("Websocket"), at(8, 1), QStringLiteral("fout \"x\"")}});
    appendRecords(s_today, {{2, QStringLiteral("Notifier"), at(9, 0), QStringLiteral("vandaag")}});
    const QByteArray yesterdayBytes = TestSupport::readFile(logDir() + s_yesterday);
    const QByteArray todayBytes = TestSupport::readFile(logDir() + s_today);
    QVERIFY(!yesterdayBytes.isEmpty() && !todayBytes.isEmpty());

    const QString target = m_exportDir + QStringLiteral("/export.zip");
    QStringList asked;
    LogViewerDialog::setSaveFileNameProviderForTesting(
        [&](QWidget*, const QString& caption, const QString& dir, const QString& filter) {
            asked << caption << dir << filter;
            return target;
        });
    LogViewerDialog dialog;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    press(dialog, "btnExport");

    QCOMPARE(asked, (QStringList{QStringLiteral("Export locatie"), QStringLiteral("export.zip"),
                                 QStringLiteral("ZIP bestand (*.zip)")}));
    QCOMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Karvelon - Log viewer"));
    QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Log bestanden succesvol geëxporteerd."));

    bool ok = false;
    const QMap<QString, QByteArray> entries = readArchive(target, ok);
    QVERIFY(ok);
    QCOMPARE(entries.keys(), (QStringList{s_yesterday, s_today}));
    QCOMPARE(entries.value(s_yesterday), yesterdayBytes);
    QCOMPARE(entries.value(s_today), todayBytes);
    QCOMPARE(unzipList(target), (QStringList{s_yesterday, s_today}));
    QCOMPARE(filesIn(m_exportDir), QStringList{QStringLiteral("export.zip")});
}

void TestLogViewer::export_nonAsciiTargetAndFileName()
{
    const QString noteName = QStringLiteral("notities café – 東京.txt");
    QFile note(logDir() + noteName);
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.write(QStringLiteral("één regel\n").toUtf8());
    note.close();

    const QString dir = m_exportDir + QStringLiteral("/Bureaublad Ünïcode €");
    QVERIFY(QDir().mkpath(dir));
    const QString target = dir + QStringLiteral("/logboek ß.zip");
    LogViewerDialog::setSaveFileNameProviderForTesting(
        [&](QWidget*, const QString&, const QString&, const QString&) { return target; });
    LogViewerDialog dialog;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    press(dialog, "btnExport");
    QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Log bestanden succesvol geëxporteerd."));

    // Exactly the chosen path, not a mangled 8-bit rendering of it.
    QCOMPARE(filesIn(dir), QStringList{QStringLiteral("logboek ß.zip")});
    bool ok = false;
    const QMap<QString, QByteArray> entries = readArchive(target, ok);
    QVERIFY(ok);
    QCOMPARE(entries.keys(), (QStringList{s_today, noteName}));
    QCOMPARE(entries.value(noteName), QStringLiteral("één regel\n").toUtf8());
    QCOMPARE(unzipList(target), (QStringList{s_today, noteName}));
}

void TestLogViewer::export_fromNonAsciiLogDirectory()
{
    // A profile directory with a name outside Latin-1.
    const QString dir = m_exportDir + QStringLiteral("/Користувач ĳ/logs");
    QVERIFY(QDir().mkpath(dir));
    const QByteArray first = LogRecord::formatLine(1, QStringLiteral("API"), at(8, 0), QStringLiteral("één"));
    const QByteArray second = LogRecord::formatLine(3, QStringLiteral("Websocket"), at(9, 0), QStringLiteral("twee"));
    for (const auto& file : {qMakePair(s_yesterday, first), qMakePair(s_today, second)}) {
        QFile out(dir + QLatin1Char('/') + file.first);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.second);
    }
    const QString target = m_exportDir + QStringLiteral("/Користувач ĳ/export.zip");
    QString error;
    QVERIFY2(LogExporter::exportDirectory(dir, target, error), qPrintable(error));
    QVERIFY(error.isEmpty());
    bool ok = false;
    const QMap<QString, QByteArray> entries = readArchive(target, ok);
    QVERIFY(ok);
    QCOMPARE(entries.keys(), (QStringList{s_yesterday, s_today}));
    QCOMPARE(entries.value(s_yesterday), first);
    QCOMPARE(entries.value(s_today), second);
    QCOMPARE(unzipList(target), (QStringList{s_yesterday, s_today}));

    // An empty (or missing) directory still gives a valid archive, without entries.
    const QString empty = m_exportDir + QStringLiteral("/leeg.zip");
    QVERIFY2(LogExporter::exportDirectory(m_exportDir + QStringLiteral("/bestaat-niet"), empty, error),
             qPrintable(error));
    // Nothing but the end-of-central-directory record: "PK\5\6" and eighteen zero bytes.
    QCOMPARE(TestSupport::readFile(empty), QByteArray("PK\x05\x06") + QByteArray(18, '\0'));
    // No log location at all: not the working directory, but nothing.
    QVERIFY(QDir::setCurrent(logDir()));
    QVERIFY2(LogExporter::exportDirectory(QString(), empty, error), qPrintable(error));
    QCOMPARE(TestSupport::readFile(empty), QByteArray("PK\x05\x06") + QByteArray(18, '\0'));
}

void TestLogViewer::export_cancelledSaveDialog_writesNothing()
{
    appendRecords(s_today, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("a")}});
    int asked = 0;
    LogViewerDialog::setSaveFileNameProviderForTesting(
        [&](QWidget* parent, const QString&, const QString&, const QString&) {
            ++asked;
            return parent ? QString() : QStringLiteral("/wrong-parent.zip");
        });
    const QStringList before = filesIn(logDir());
    LogViewerDialog dialog;
    press(dialog, "btnExport");
    QCOMPARE(asked, 1);
    QCOMPARE(MessageBox::shownCount(), 0);
    QCOMPARE(filesIn(m_exportDir), QStringList());
    QCOMPARE(filesIn(logDir()), before);
}

void TestLogViewer::export_unwritableTarget_warnsAndLeavesNoFile()
{
    appendRecords(s_today, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("a")}});
    // A regular file where a directory should be: unwritable even for root.
    const QString blocker = m_exportDir + QStringLiteral("/geen-map");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString target = blocker + QStringLiteral("/export.zip");
    LogViewerDialog::setSaveFileNameProviderForTesting(
        [&](QWidget*, const QString&, const QString&, const QString&) { return target; });

    LogViewerDialog dialog;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    press(dialog, "btnExport");
    QCOMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Karvelon - Log viewer"));
    const QString text = MessageBox::lastShown().text;
    QVERIFY2(text.startsWith(s_failureHeadline), qPrintable(text));
    QVERIFY2(text.size() > s_failureHeadline.size() + 10, qPrintable(text)); // a reason follows
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(filesIn(m_exportDir), QStringList{QStringLiteral("geen-map")});

    // Straight through the exporter too: a failure, a reason, no file.
    QString error;
    QVERIFY(!LogExporter::exportDirectory(logDir(), target, error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(target));
}

void TestLogViewer::export_unreadableLogFile_keepsOldArchive()
{
    // Reading /proc/self/mem at offset 0 fails with an I/O error, even for root:
    // a log file that opens but cannot be read.
    QFileInfo mem(QStringLiteral("/proc/self/mem"));
    if (!mem.exists())
        QSKIP("no /proc/self/mem on this system");
    appendRecords(s_today, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("a")}});
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), logDir() + QStringLiteral("00-onleesbaar.txt")));

    const QString target = m_exportDir + QStringLiteral("/export.zip");
    QFile old(target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("vorige export");
    old.close();

    QString error;
    QVERIFY(!LogExporter::exportDirectory(logDir(), target, error));
    QVERIFY2(error.contains(QStringLiteral("00-onleesbaar.txt")), qPrintable(error));
    QCOMPARE(TestSupport::readFile(target), QByteArray("vorige export"));
    QCOMPARE(filesIn(m_exportDir), QStringList{QStringLiteral("export.zip")});

    LogViewerDialog::setSaveFileNameProviderForTesting(
        [&](QWidget*, const QString&, const QString&, const QString&) { return target; });
    LogViewerDialog dialog;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    press(dialog, "btnExport");
    QVERIFY(MessageBox::lastShown().text.startsWith(s_failureHeadline));
    QVERIFY(MessageBox::lastShown().text.contains(QStringLiteral("00-onleesbaar.txt")));
    QCOMPARE(TestSupport::readFile(target), QByteArray("vorige export"));
    QCOMPARE(filesIn(m_exportDir), QStringList{QStringLiteral("export.zip")});
    QVERIFY(QFile::remove(logDir() + QStringLiteral("00-onleesbaar.txt")));
}

QTEST_MAIN(TestLogViewer)
#include "test_logviewer.moc"
