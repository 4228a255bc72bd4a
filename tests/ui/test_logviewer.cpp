#include "Clock.h"
#include "LogExporter.h"
#include "LogRecord.h"
#include "LogViewerDialog.h"
#include "Logger.h"
#include "MessageBox.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using UiTest::comboItems;
using UiTest::words;

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
const QString s_success = QStringLiteral("Log bestanden succesvol geëxporteerd.");

qint64 at(int hour, int minute, int msec = 0)
{
    return QDateTime(QDate(2024, 3, 12), QTime(hour, minute, 0, msec), Qt::LocalTime).toMSecsSinceEpoch();
}

QString logDir()
{
    return Logger::instance()->logLocation();
}

void writeFile(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    QVERIFY(file.open(mode));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

void appendRecords(const QString& fileName, const QList<Record>& records)
{
    QByteArray bytes;
    for (const Record& r : records)
        bytes += LogRecord::formatLine(r.severity, r.component, r.msecs, r.msg);
    writeFile(logDir() + fileName, bytes, QIODevice::WriteOnly | QIODevice::Append);
}

QTableView* view(LogViewerDialog& dialog)
{
    return dialog.findChild<QTableView*>(QStringLiteral("tableView"));
}

QStringList column(LogViewerDialog& dialog, int col)
{
    QAbstractItemModel* model = view(dialog)->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, col).data().toString();
    return texts;
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
}

void press(LogViewerDialog& dialog, const char* name)
{
    QTest::mouseClick(UiTest::child<QPushButton>(dialog, name), Qt::LeftButton);
}

// Presses "&Exporteren" with the save dialog answering target, and its message pre-answered.
void exportTo(LogViewerDialog& dialog, const QString& target)
{
    LogViewerDialog::setSaveFileNameProviderForTesting(
        [target](QWidget*, const QString&, const QString&, const QString&) { return target; });
    MessageBox::setNextAnswer(QMessageBox::Ok);
    press(dialog, "btnExport");
}

QStringList filesIn(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString runUnzip(const QStringList& arguments)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), arguments);
    if (!unzip.waitForFinished(30000) || unzip.exitStatus() != QProcess::NormalExit || unzip.exitCode() != 0)
        return QStringLiteral("unzip failed: ") + QString::fromUtf8(unzip.readAllStandardError());
    return QString::fromUtf8(unzip.readAllStandardOutput());
}

// Unpacks the archive with the stock unzip tool (which checks every CRC) and compares names and contents;
// every entry must be deflated at normal level ("defN").
void verifyArchive(const QString& path, const QMap<QString, QByteArray>& expected)
{
    const QString listing = runUnzip({QStringLiteral("-Z"), QStringLiteral("-s"), path});
    QCOMPARE(listing.count(QStringLiteral(" defN ")), expected.size());
    const QString dir = path + QStringLiteral(".unpacked");
    QCOMPARE(runUnzip({QStringLiteral("-qo"), path, QStringLiteral("-d"), dir}), QString());
    QCOMPARE(filesIn(dir), expected.keys());
    for (const QString& name : expected.keys())
        QCOMPARE(TestSupport::readFile(dir + QLatin1Char('/') + name), expected.value(name));
    QVERIFY(QDir(dir).removeRecursively());
}

} // namespace

class TestLogViewer : public QObject
{
    Q_OBJECT

private:
    FixedClock m_clock{s_now};
    QString m_exportDir;

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        QVERIFY2(!TestSupport::testHome().isEmpty(), "run through the test wrapper");
        Clock::setInstance(&m_clock);
        QVERIFY(!logDir().isEmpty());
        m_exportDir = TestSupport::testHome() + QStringLiteral("/exports");
    }

    void init()
    {
        Logger::instance()->purge(0);
        QCOMPARE(filesIn(logDir()), QStringList{s_today});
        MessageBox::clearAnswers();
        LogViewerDialog::setSaveFileNameProviderForTesting({});
        QDir(m_exportDir).removeRecursively();
        QVERIFY(QDir().mkpath(m_exportDir));
    }

    void cleanup()
    {
        QCOMPARE(MessageBox::pendingAnswers(), 0);
        MessageBox::clearAnswers();
        LogViewerDialog::setSaveFileNameProviderForTesting({});
    }

    void severities_showRowsWithTheirIcons()
    {
        appendRecords(s_yesterday, {{0, QStringLiteral("API"), at(9, 0), QStringLiteral("spoor")},
                                    {1, QStringLiteral("API"), at(9, 1), QStringLiteral("info")},
                                    {2, QStringLiteral("API"), at(9, 2), QStringLiteral("waarschuwing")},
                                    {3, QStringLiteral("API"), at(9, 3), QStringLiteral("fout")}});
        // An unknown severity and a date that is no number still give rows.
        appendRecords(s_today, {{7, QStringLiteral("API"), at(8, 59), QStringLiteral("onbekend")}});
        writeFile(logDir() + s_today,
                  "{\"component\":\"API\",\"date\":\"geen getal\",\"msg\":\"zonder-tijd\",\"severity\":2}\n",
                  QIODevice::WriteOnly | QIODevice::Append);

        LogViewerDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Karvelon - Log viewer"));
        QAbstractItemModel* model = view(dialog)->model();
        QStringList headers;
        for (int col = 0; col < model->columnCount(); ++col)
            headers << model->headerData(col, Qt::Horizontal).toString();
        QCOMPARE(headers.join(QLatin1Char('|')), QStringLiteral("|Datum|Component|Bericht"));
        QCOMPARE(model->headerData(3, Qt::Horizontal, Qt::EditRole).toString(), QStringLiteral("Bericht"));

        // Newest first; the debug record is left out.
        QCOMPARE(column(dialog, 3), words("fout waarschuwing info onbekend zonder-tijd"));
        const QStringList icons = words(":/icons/error16 :/icons/warning16 :/icons/info16");
        for (int row = 0; row < 3; ++row) {
            const QModelIndex index = model->index(row, 0);
            QCOMPARE(index.data(Qt::DisplayRole).toString(), QString());
            const QImage shown = iconImage(qvariant_cast<QIcon>(index.data(Qt::DecorationRole)));
            QVERIFY(!shown.isNull());
            QCOMPARE(shown, iconImage(QIcon(icons.at(row))));
            QVERIFY(!model->index(row, 1).data(Qt::DecorationRole).isValid());
        }
        QVERIFY(qvariant_cast<QIcon>(model->index(3, 0).data(Qt::DecorationRole)).isNull());
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("2024-03-12 09:03:00.000"));
        QCOMPARE(model->index(4, 1).data().toString(),
                 QDateTime::fromMSecsSinceEpoch(0, Qt::LocalTime).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("API"));
        QVERIFY(!(model->flags(model->index(0, 3)) & Qt::ItemIsEditable));
    }

    void filterList_inOrderOfFirstAppearance_andFilters()
    {
        appendRecords(s_yesterday, {{1, QStringLiteral("Websocket"), at(8, 0), QStringLiteral("w1")},
                                    {1, QStringLiteral("API"), at(8, 1), QStringLiteral("a1")},
                                    {0, QStringLiteral("Verborgen"), at(8, 2), QStringLiteral("debug only")}});
        appendRecords(s_today, {{2, QStringLiteral("Websocket"), at(8, 3), QStringLiteral("w2")},
                                {3, QStringLiteral("MijnAPI"), at(8, 4), QStringLiteral("m1")},
                                {1, QStringLiteral("api"), at(8, 5), QStringLiteral("a2")}});
        LogViewerDialog dialog;
        auto* combo = UiTest::child<QComboBox>(dialog, "cmbComponentFilter");
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
        QCOMPARE(column(dialog, 3), words("w2 w1"));
        // Case-insensitive and "contains": API also shows MijnAPI and api.
        combo->setCurrentText(QStringLiteral("API"));
        QCOMPARE(column(dialog, 3), words("a2 m1 a1"));
        combo->setCurrentText(QStringLiteral("Alles"));
        QCOMPARE(column(dialog, 3).size(), 5);
    }

    void newestFirst_headerClicksResort_selectionFollows()
    {
        appendRecords(s_yesterday, {{1, QStringLiteral("B"), at(10, 0, 5), QStringLiteral("tweede")},
                                    {1, QStringLiteral("C"), at(11, 0), QStringLiteral("derde")}});
        appendRecords(s_today, {{1, QStringLiteral("A"), at(9, 59, 999), QStringLiteral("eerste")},
                                {1, QStringLiteral("D"), at(10, 0, 4), QStringLiteral("tussen")}});
        LogViewerDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(column(dialog, 3), words("derde tweede tussen eerste"));

        QTableView* table = view(dialog);
        QVERIFY(table->isSortingEnabled());
        QHeaderView* header = table->horizontalHeader();
        const auto clickHeader = [header](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                                     header->height() / 2));
        };
        table->selectRow(3);
        clickHeader(1); // the date column again: oldest first, the selected record moves along
        QCOMPARE(column(dialog, 3), words("eerste tussen tweede derde"));
        QCOMPARE(table->currentIndex().row(), 0);
        QCOMPARE(table->currentIndex().sibling(0, 3).data().toString(), QStringLiteral("eerste"));
        QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(table->selectionModel()->selectedRows().first().row(), 0);

        clickHeader(2);
        QCOMPARE(column(dialog, 2).join(QString()), QStringLiteral("ABCD"));
        clickHeader(2);
        QCOMPARE(column(dialog, 2).join(QString()), QStringLiteral("DCBA"));
        clickHeader(3);
        QCOMPARE(column(dialog, 3), words("derde eerste tussen tweede"));
    }

    void purge_withNoKeepsEverything_withYesEmptiesLogAndTable()
    {
        appendRecords(s_yesterday, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("a")}});
        appendRecords(s_today, {{2, QStringLiteral("Websocket"), at(9, 0), QStringLiteral("b")}});
        writeFile(logDir() + QStringLiteral("notities.txt"), QByteArray());
        const QByteArray yesterdayBytes = TestSupport::readFile(logDir() + s_yesterday);
        LogViewerDialog dialog;
        auto* combo = UiTest::child<QComboBox>(dialog, "cmbComponentFilter");
        const QStringList filterItems = comboItems(combo);

        MessageBox::setNextAnswer(QMessageBox::No);
        press(dialog, "btnPurge");
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Karvelon"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Weet u zeker dat u alle log informatie wilt verwijderen?"));
        QCOMPARE(column(dialog, 3).size(), 2);
        QCOMPARE(filesIn(logDir()), (QStringList{s_yesterday, s_today, QStringLiteral("notities.txt")}));
        QCOMPARE(TestSupport::readFile(logDir() + s_yesterday), yesterdayBytes);

        MessageBox::setNextAnswer(QMessageBox::Yes);
        press(dialog, "btnPurge");
        QCOMPARE(MessageBox::shownCount(), 2);
        QCOMPARE(view(dialog)->model()->rowCount(), 0);
        QCOMPARE(view(dialog)->model()->headerData(1, Qt::Horizontal).toString(), QString());
        QCOMPARE(filesIn(logDir()), QStringList{s_today});
        QCOMPARE(QFileInfo(logDir() + s_today).size(), qint64(0));
        // The filter list stays as it was, and filtering an empty table is harmless.
        QCOMPARE(comboItems(combo), filterItems);
        combo->setCurrentIndex(1);
        QCOMPARE(view(dialog)->model()->rowCount(), 0);
    }

    void export_twoDailyFiles_givesTwoEqualEntries()
    {
        appendRecords(s_yesterday, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("gisteren")},
                                    {3, QStringLiteral("Websocket"), at(8, 1), QStringLiteral("fout \"x\"")}});
        appendRecords(s_today, {{2, QStringLiteral("Notifier"), at(9, 0), QStringLiteral("vandaag")}});
        const QMap<QString, QByteArray> expected{{s_yesterday, TestSupport::readFile(logDir() + s_yesterday)},
                                                 {s_today, TestSupport::readFile(logDir() + s_today)}};
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
        QCOMPARE(MessageBox::lastShown().text, s_success);
        verifyArchive(target, expected);
        QCOMPARE(filesIn(m_exportDir), QStringList{QStringLiteral("export.zip")});
    }

    void export_unicodePathsAndEmptyDirectory()
    {
        // Log directory, file name and target outside Latin-1: stored as they are, entry names in UTF-8.
        const QString dir = m_exportDir + QStringLiteral("/Користувач ĳ/logs");
        const QString noteName = QStringLiteral("notities café – 東京.txt");
        QVERIFY(QDir().mkpath(dir));
        const QMap<QString, QByteArray> expected{
            {s_yesterday, LogRecord::formatLine(1, QStringLiteral("API"), at(8, 0), QStringLiteral("één"))},
            {noteName, QStringLiteral("één regel\n").toUtf8()}};
        for (const QString& name : expected.keys())
            writeFile(dir + QLatin1Char('/') + name, expected.value(name));
        const QString targetDir = m_exportDir + QStringLiteral("/Bureaublad Ünïcode €");
        QVERIFY(QDir().mkpath(targetDir));
        const QString target = targetDir + QStringLiteral("/logboek ß.zip");
        QString error;
        QVERIFY2(LogExporter::exportDirectory(dir, target, error), qPrintable(error));
        QVERIFY(error.isEmpty());
        QCOMPARE(filesIn(targetDir), QStringList{QStringLiteral("logboek ß.zip")});
        verifyArchive(target, expected);

        // A missing directory, or no log location at all (never the working directory), gives an
        // archive without entries: only the end-of-central-directory record, "PK\5\6" and eighteen zero bytes.
        const QByteArray emptyArchive = QByteArray("PK\x05\x06") + QByteArray(18, '\0');
        const QString empty = m_exportDir + QStringLiteral("/leeg.zip");
        QVERIFY2(LogExporter::exportDirectory(m_exportDir + QStringLiteral("/bestaat-niet"), empty, error),
                 qPrintable(error));
        QCOMPARE(TestSupport::readFile(empty), emptyArchive);
        QVERIFY(QDir::setCurrent(logDir()));
        QVERIFY2(LogExporter::exportDirectory(QString(), empty, error), qPrintable(error));
        QCOMPARE(TestSupport::readFile(empty), emptyArchive);
    }

    void export_cancelledSaveDialog_writesNothing()
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

    void export_failureWarnsAndLeavesNoPartialArchive_data()
    {
        QTest::addColumn<bool>("unreadableLog");
        QTest::newRow("target not writable") << false;
        QTest::newRow("log file unreadable, earlier archive kept") << true;
    }

    void export_failureWarnsAndLeavesNoPartialArchive()
    {
        QFETCH(bool, unreadableLog);
        appendRecords(s_today, {{1, QStringLiteral("API"), at(8, 0), QStringLiteral("a")}});
        // A file where a directory should be cannot be written to, and /proc/self/mem opens but fails to read at
        // offset 0: both even for root.
        const QString unreadable = logDir() + QStringLiteral("00-onleesbaar.txt");
        QString target = m_exportDir + QStringLiteral("/export.zip");
        if (unreadableLog) {
            if (!QFileInfo::exists(QStringLiteral("/proc/self/mem")))
                QSKIP("no /proc/self/mem on this system");
            QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), unreadable));
            writeFile(target, "vorige export");
        } else {
            writeFile(m_exportDir + QStringLiteral("/geen-map"), QByteArray());
            target = m_exportDir + QStringLiteral("/geen-map/export.zip");
        }
        const QStringList before = filesIn(m_exportDir);
        LogViewerDialog dialog;
        exportTo(dialog, target);
        QVERIFY(!unreadableLog || QFile::remove(unreadable));

        QCOMPARE(MessageBox::shownCount(), 1);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Karvelon - Log viewer"));
        const QString text = MessageBox::lastShown().text;
        QVERIFY2(text.startsWith(s_failureHeadline), qPrintable(text));
        QVERIFY2(text.size() > s_failureHeadline.size() + 10, qPrintable(text)); // a reason follows
        QVERIFY2(!unreadableLog || text.contains(QStringLiteral("00-onleesbaar.txt")), qPrintable(text));
        QCOMPARE(filesIn(m_exportDir), before);
        QCOMPARE(QFileInfo::exists(target), unreadableLog);
        QCOMPARE(TestSupport::readFile(target), unreadableLog ? QByteArray("vorige export") : QByteArray());
    }
};

QTEST_MAIN(TestLogViewer)
#include "test_logviewer.moc"
