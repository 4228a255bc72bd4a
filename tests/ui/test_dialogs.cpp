#include "AddressBook.h"
#include "Clock.h"
#include "FileDialog.h"
#include "LogRecord.h"
#include "LogViewerDialog.h"
#include "Logger.h"
#include "MessageBox.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Appends records "severity component minute message", separated by ";", to a daily file.
void append(const QString& fileName, const char* records)
{
    QFile file(Logger::instance()->logLocation() + fileName);
    QVERIFY(file.open(QIODevice::Append));
    for (const QString& record : QString::fromUtf8(records).split(QLatin1Char(';'))) {
        const QStringList f = record.split(QLatin1Char(' '));
        const QDateTime at(QDate(2024, 3, 12), QTime(9, f.at(2).toInt()));
        file.write(LogRecord::formatLine(f.at(0).toInt(), f.at(1), at.toMSecsSinceEpoch(), f.at(3)));
    }
}

QString column(const LogViewerDialog& dialog, int col)
{
    QAbstractItemModel* model = dialog.findChild<QTableView*>()->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, col).data().toString();
    return texts.join(QLatin1Char(' '));
}

void press(LogViewerDialog& dialog, const char* button, QMessageBox::StandardButton answer)
{
    MessageBox::setNextAnswer(answer);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The stock unzip tool, which checks every CRC; its output, or empty when it failed.
QByteArray unzip(const QStringList& arguments)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), arguments);
    return unzip.waitForFinished(30000) && unzip.exitCode() == 0 ? unzip.readAllStandardOutput() : QByteArray();
}

} // namespace

using namespace SettingsKeys;

// The settings dialog and the log viewer.
class TestDialogs : public QObject
{
    Q_OBJECT

private:
    FixedClock m_clock{QDateTime(QDate(2024, 3, 12), QTime(12, 0))};
    QString m_logDir;
    SecretStore m_secrets{ServiceConfig()}; // no keyring on the test's bus: the settings file
    const QString m_exportDir = TestSupport::testHome() + QStringLiteral("/Bureaublad Ünïcode €/");

private slots:
    void initTestCase()
    {
        QVERIFY2(!TestSupport::testHome().isEmpty(), "run through the test wrapper");
        TestSupport::setApplicationIdentity();
        Clock::setInstance(&m_clock);
        m_logDir = Logger::instance()->logLocation();
        m_secrets.load();
        QTRY_VERIFY(m_secrets.isLoaded());
    }

    void init()
    {
        Logger::instance()->purge(0);
        MessageBox::clearAnswers();
        QFile::remove(Settings().fileName());
        Settings().set(kCustomerGroup, kNumber, QStringLiteral("100"));
        QVERIFY(QDir(m_exportDir).removeRecursively() && QDir().mkpath(m_exportDir));
        append(QStringLiteral("20240311.txt"), "1 Websocket 1 w1;1 API 2 a1;0 Verborgen 3 debug");
        append(QStringLiteral("20240312.txt"), "2 Websocket 4 w2;3 MijnAPI 5 m1;1 api 6 a2");
    }

    void cleanup() { QCOMPARE(MessageBox::pendingAnswers(), 0); }

    void table_filtersByComponentSorts_purgeAsksFirst()
    {
        LogViewerDialog dialog;
        QCOMPARE(column(dialog, 3), QStringLiteral("a2 m1 w2 a1 w1")); // newest first, no debug records
        auto* filter = dialog.findChild<QComboBox*>(QStringLiteral("cmbComponentFilter"));
        filter->setCurrentText(QStringLiteral("API")); // contains, any case
        QCOMPARE(column(dialog, 3), QStringLiteral("a2 m1 a1"));
        filter->setCurrentIndex(0); // everything again
        auto* table = dialog.findChild<QTableView*>();
        table->selectRow(3);
        table->sortByColumn(1, Qt::AscendingOrder);
        QCOMPARE(column(dialog, 3), QStringLiteral("w1 a1 w2 m1 a2"));
        QCOMPARE(table->currentIndex().siblingAtColumn(3).data().toString(), QStringLiteral("a1"));
        table->sortByColumn(3, Qt::DescendingOrder);
        QCOMPARE(column(dialog, 3), QStringLiteral("w2 w1 m1 a2 a1"));
        // Purging asks first.
        press(dialog, "btnPurge", QMessageBox::No);
        QCOMPARE(filesIn(m_logDir).size(), 2);
        press(dialog, "btnPurge", QMessageBox::Yes);
        QCOMPARE(column(dialog, 3), QString());
        QCOMPARE(column(LogViewerDialog(), 3), QString());
    }

    void export_zipHoldsEveryLogFileDeflated()
    {
        QFile note(m_logDir + QStringLiteral("notities café – 東京.txt")); // entry names in UTF-8
        QVERIFY(note.open(QIODevice::WriteOnly) && note.write("één regel\n") > 0);
        note.close();
        const QString target = m_exportDir + QStringLiteral("logboek ß.zip");
        LogViewerDialog dialog;
        FileDialog::setNextPath(target);
        press(dialog, "btnExport", QMessageBox::Ok);

        QCOMPARE(filesIn(m_exportDir), QStringList{QStringLiteral("logboek ß.zip")});
        QCOMPARE(unzip({QStringLiteral("-Z"), QStringLiteral("-s"), target}).count(" defN "), 3);
        const QString unpacked = m_exportDir + QStringLiteral("uitgepakt/");
        QVERIFY(!unzip({target, QStringLiteral("-d"), unpacked}).isEmpty());
        QCOMPARE(filesIn(unpacked), filesIn(m_logDir));
        for (const QString& name : filesIn(m_logDir))
            QCOMPARE(TestSupport::readFile(unpacked + name), TestSupport::readFile(m_logDir + name));
    }

    // The target is not writable, or a log file opens but cannot be read (an earlier archive is kept). A file where
    // a directory should be, and /proc/self/mem read at offset 0, fail even for root.
    void export_failureWarnsAndLeavesNothingBehind()
    {
        const char* const table[][2] = {{"geen-map/export.zip", ""}, {"export.zip", "00-onleesbaar.txt"}};
        for (const auto& row : table) {
            init();
            const QString target = QLatin1String(row[0]), unreadable = QLatin1String(row[1]);
            QFile existing(m_exportDir + target.section(QLatin1Char('/'), 0, 0));
            QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("vorige") == 6);
            existing.close();
            QVERIFY(unreadable.isEmpty() || QFile::link(QStringLiteral("/proc/self/mem"), m_logDir + unreadable));
            LogViewerDialog dialog;
            FileDialog::setNextPath(m_exportDir + target);
            press(dialog, "btnExport", QMessageBox::Ok);
            QVERIFY(unreadable.isEmpty() || QFile::remove(m_logDir + unreadable));

            QCOMPARE(MessageBox::shownCount(), 1);
            const QString reason = unreadable.isEmpty() ? QDir::toNativeSeparators(m_exportDir + target) : unreadable;
            QVERIFY2(MessageBox::lastShown().text.contains(reason), qPrintable(MessageBox::lastShown().text));
            QCOMPARE(filesIn(m_exportDir), QStringList{target.section(QLatin1Char('/'), 0, 0)});
            QCOMPARE(TestSupport::readFile(existing.fileName()), QByteArray("vorige"));
        }
    }

    // Passwords and keys load from and save through the secret store (without a keyring, as here, into the settings
    // file, which the status line says), the rest into the settings file, all trimmed. Until the store has loaded the
    // secret fields are empty and locked, and a save leaves the secrets alone; an emptied field removes its secret.
    void save_storesEveryFieldTrimmedAndReadsItBack()
    {
        Settings().set(kCustomerGroup, kPassword, QStringLiteral("oud-geheim"));
        SecretStore secrets{ServiceConfig()};
        SettingsDialog early(nullptr, &secrets, nullptr);
        auto* password = early.findChild<QLineEdit*>(QStringLiteral("txtCustomerPassword"));
        QVERIFY(!password->isEnabled() && password->text().isEmpty());
        secrets.load();
        early.findChild<QLineEdit*>(QStringLiteral("txtCustomerNumber"))->setText(QStringLiteral("200"));
        QTest::mouseClick(early.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        QCOMPARE(early.result(), int(QDialog::Accepted));
        QTRY_COMPARE(password->text(), QStringLiteral("oud-geheim"));
        QVERIFY(password->isEnabled() && early.secretsToSave().isEmpty());
        QCOMPARE(secrets.secret(kCustomerGroup, kPassword), QStringLiteral("oud-geheim"));

        SettingsDialog dialog(nullptr, &secrets, nullptr);
        QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("lblSettingsStatus"))->text().isEmpty());
        QList<QLineEdit*> fields = dialog.findChildren<QLineEdit*>(QRegularExpression(QStringLiteral("^txt")));
        fields.removeOne(dialog.findChild<QLineEdit*>(QStringLiteral("txtScreenPopUrl"))); // an address: see below
        QVERIFY(fields.size() >= 12);
        for (QLineEdit* field : fields)
            field->setText(QStringLiteral(" %1\t").arg(field->objectName()));
        dialog.findChild<QCheckBox*>(QStringLiteral("chkEnableNotify"))->setChecked(true);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        QTRY_COMPARE(dialog.result(), int(QDialog::Accepted)); // the status line said it already: no news, it closes
        QVERIFY(dialog.settingsUpdated());
        QCOMPARE(QStringList({Settings().get(kCustomerGroup, kNumber).toString(),
                              secrets.secret(kCustomerGroup, kPassword), secrets.secret(kClickToDialGroup, kKey),
                              Settings().get(kNotificationsGroup, kEnabled).toString()}),
                 QStringList({"txtCustomerNumber", "txtCustomerPassword", "txtClickToDialKey", "true"}));
        QTRY_COMPARE(Settings().get(kClickToDialGroup, kKey).toString(), QStringLiteral("txtClickToDialKey"));
        SettingsDialog reopened(nullptr, &secrets, nullptr);
        for (QLineEdit* field : fields)
            QCOMPARE(reopened.findChild<QLineEdit*>(field->objectName())->text(), field->objectName());
        QVERIFY(reopened.findChild<QCheckBox*>(QStringLiteral("chkEnableNotify"))->isChecked());

        reopened.findChild<QLineEdit*>(QStringLiteral("txtClickToDialKey"))->setText(QStringLiteral("  "));
        QTest::mouseClick(reopened.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        QTRY_VERIFY(!Settings().contains(kClickToDialGroup, kKey));
        QCOMPARE(secrets.secret(kClickToDialGroup, kKey), QString());
        QCOMPARE(secrets.secret(kCustomerGroup, kPassword), QStringLiteral("txtCustomerPassword"));
    }

    // The caller's page is saved when it may be opened; otherwise the dialog says why and stays open, the stored
    // address stays, and the rest is saved all the same.
    void screenPop_refusedAddressIsNotSaved_theDialogSaysWhy()
    {
        const struct { const char* typed; const char* stored; bool refused; } table[] = {
            {" https://crm.example.nl/?tel={nummer} ", "https://crm.example.nl/?tel={nummer}", false},
            {"javascript:alert('{naam}')", "https://crm.example.nl/?tel={nummer}", true},
            {"", "", false}}; // off
        for (const auto& row : table) {
            SettingsDialog dialog(nullptr, &m_secrets, nullptr);
            dialog.show();
            dialog.findChild<QLineEdit*>(QStringLiteral("txtCustomerNumber"))->setText(QLatin1String(row.stored));
            dialog.findChild<QLineEdit*>(QStringLiteral("txtScreenPopUrl"))->setText(QLatin1String(row.typed));
            dialog.findChild<QComboBox*>(QStringLiteral("cboScreenPopMode"))->setCurrentIndex(1);
            if (row.refused)
                MessageBox::setNextAnswer(QMessageBox::Ok);
            const int shown = MessageBox::shownCount();
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
            QCOMPARE(MessageBox::shownCount() - shown, int(row.refused));
            QVERIFY(!row.refused || MessageBox::lastShown().text.contains(QStringLiteral("https://")));
            QCOMPARE(dialog.isVisible(), row.refused);
            const QStringList stored{Settings().get(kScreenPopGroup, kUrl).toString(),
                                     Settings().get(kScreenPopGroup, kMode).toString(),
                                     Settings().get(kCustomerGroup, kNumber).toString()};
            QCOMPARE(stored, (QStringList{row.stored, "button", row.stored}));
        }
    }

    // "Adresboeken": "Bestand…" asks for an existing file, "Map…" for a folder (the real dialogs, answered as a user
    // would; cancelled: the field stays); Thunderbird's books are used until switched off; saved where they are read.
    void addressBooks_fileOrFolderAndThunderbird_savedWhereTheyAreRead()
    {
        QVERIFY(QFile(m_exportDir + QStringLiteral("export.vcf")).open(QIODevice::WriteOnly));
        SettingsDialog dialog(nullptr, &m_secrets, nullptr);
        auto* path = dialog.findChild<QLineEdit*>(QStringLiteral("txtVCardPath"));
        auto* thunderbird = dialog.findChild<QCheckBox*>(QStringLiteral("chkThunderbird"));
        QVERIFY(path->text().isEmpty() && thunderbird->isChecked()); // nothing stored yet
        const struct { const char* button; const char* asks; QString chosen; } table[] = {
            {"btnVCardFile", "file", m_exportDir + QStringLiteral("export.vcf")},
            {"btnVCardFolder", "folder", m_exportDir.chopped(1)},
            {"btnVCardFile", "file", QString()}}; // cancelled
        for (const auto& row : table) {
            QString asks;
            QTimer::singleShot(0, this, [&]() {
                auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(files && files->acceptMode() == QFileDialog::AcceptOpen);
                asks = files->testOption(QFileDialog::ShowDirsOnly) ? "folder"
                       : files->fileMode() == QFileDialog::ExistingFile ? "file" : "?";
                files->selectFile(row.chosen);
                row.chosen.isEmpty() ? files->reject() : static_cast<QDialog*>(files)->accept();
            });
            QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(row.button)), Qt::LeftButton);
            QCOMPARE(asks, QLatin1String(row.asks));
            QCOMPARE(path->text(), row.chosen.isEmpty() ? table[1].chosen : row.chosen);
        }
        thunderbird->setChecked(false);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        const AddressBookSources saved = AddressBookSources::fromSettings();
        QVERIFY(saved.vCardPath == table[1].chosen && !saved.thunderbird);
        SettingsDialog reopened(nullptr, &m_secrets, nullptr);
        QVERIFY(!reopened.findChild<QCheckBox*>(QStringLiteral("chkThunderbird"))->isChecked());
    }

    void closing_asksToSaveOnlyWhenEdited()
    {
        const struct { const char* how; bool edited; int answer; const char* stored; bool open; } table[] = {
            // a button or the window's close button; the answer to "save the changes?", 0: not asked
            {"btnCancel", false, 0, "100", false},
            {"btnCancel", true, QMessageBox::Yes, "200", false},
            {"btnCancel", true, QMessageBox::No, "100", false},
            {"close", true, QMessageBox::Cancel, "100", true}};
        for (const auto& row : table) {
            Settings().set(kCustomerGroup, kNumber, QStringLiteral("100"));
            SettingsDialog dialog(nullptr, &m_secrets, nullptr);
            dialog.show();
            if (row.edited)
                dialog.findChild<QLineEdit*>(QStringLiteral("txtCustomerNumber"))->setText(QStringLiteral(" 200 "));
            if (row.answer)
                MessageBox::setNextAnswer(QMessageBox::StandardButton(row.answer));
            const int shown = MessageBox::shownCount();
            if (qstrcmp(row.how, "close") == 0)
                dialog.close();
            else
                QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(row.how)), Qt::LeftButton);
            const QString tag = QString::number(&row - table) + QLatin1Char(':');
            QCOMPARE(tag + Settings().get(kCustomerGroup, kNumber).toString(), tag + QLatin1String(row.stored));
            QCOMPARE(MessageBox::shownCount() - shown, row.answer ? 1 : 0);
            QCOMPARE(dialog.settingsUpdated(), qstrcmp(row.stored, "200") == 0);
            QCOMPARE(dialog.isVisible(), row.open);
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
