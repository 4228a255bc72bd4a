// The hot key and the selection on an X display of the test's own (Xvfb with openbox), driven as a user
// would: xdotool presses keys through XTEST, xclip selects and copies, x11_peer is the other program that
// holds a key or a selection.
#include "DialShortcut.h"
#include "GlobalHotKey.h"
#include "SecretStore.h"
#include "SelectionReader.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "TestSupport.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

namespace {

// Started before the application connects to it.
struct VirtualDisplay
{
    QProcess server, windowManager;
    bool start()
    {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "xclip"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return false;
        }
        server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        while (!server.canReadLine() && server.waitForReadyRead(20000)) {}
        const QByteArray display = server.readLine().trimmed();
        qputenv("DISPLAY", ":" + display);
        qputenv("QT_QPA_PLATFORM", "xcb");
        windowManager.start("openbox", QStringList());
        return !display.isEmpty() && windowManager.waitForStarted();
    }
    ~VirtualDisplay()
    {
        for (QProcess* process : {&windowManager, &server})
            process->terminate(), process->waitForFinished(5000);
    }
};

// x11_peer: its first line, and it holds on until this ends; it has let go when this is gone.
struct Peer
{
    QProcess process;
    QByteArray answer;
    explicit Peer(const QStringList& arguments)
    {
        process.start(KARVELON_X11_PEER, arguments);
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {}
        answer = process.readLine().trimmed();
    }
    ~Peer()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill(), process.waitForFinished();
    }
};

QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = QByteArray())
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(10000) && process.exitCode() == 0 ? process.readAllStandardOutput() + '\n'
                                                                       : QByteArray();
}

// xclip as the owner of a selection ("primary" or "clipboard") that serves `data` as `target`.
bool put(const QString& selection, const QByteArray& data, const QString& target = "UTF8_STRING")
{
    if (run("xclip", {"-selection", selection, "-t", target}, data).isEmpty())
        return false;
    // Its server process takes the selection over a moment after the command ends.
    return QTest::qWaitFor([&]() {
        return target == "UTF8_STRING" ? run("xclip", {"-o", "-selection", selection}) == data + '\n'
                                       : run("xclip", {"-o", "-selection", selection, "-t", "TARGETS"}).contains(target.toLatin1());
    }, 5000);
}

} // namespace

class TestHotKey : public QObject
{
    Q_OBJECT

public:
    explicit TestHotKey(bool display) : m_display(display) {}

private:
    const bool m_display;

private slots:
    void initTestCase()
    {
        if (!m_display)
            QSKIP("Xvfb, openbox, xdotool or xclip is missing");
        TestSupport::setApplicationIdentity();
        QVERIFY(GlobalHotKey::isSupported());
    }

    // Control+F9 reads the selected text in every NumLock and CapsLock state; F9 alone or with Alt does nothing.
    void hotKey_readsSelection_inEveryLockState()
    {
        GlobalHotKey key;
        SelectionReader reader;
        connect(&key, &GlobalHotKey::activated, &reader, &SelectionReader::read);
        QSignalSpy activated(&key, &GlobalHotKey::activated), read(&reader, &SelectionReader::finished);
        QCOMPARE(key.setShortcut("Control", "F9"), GlobalHotKey::Registered);
        QVERIFY(put("primary", "Bel Jan op 020 - 123 45 67\nof mobiel 06-12 34 56 78."));
        QVERIFY(put("clipboard", "0311 123456"));
        int presses = 0;
        for (const QString lock : {"", "Num_Lock", "Caps_Lock", "Num_Lock", "Caps_Lock"}) { // both, CapsLock, none
            QVERIFY(lock.isEmpty() || !run("xdotool", {"key", lock}).isEmpty());
            QVERIFY(!run("xdotool", {"key", "F9", "alt+F9", "ctrl+F9"}).isEmpty());
            QTRY_COMPARE(read.count(), presses + 1);
            ++presses;
            QCOMPARE(activated.count(), presses);
            QCOMPARE(read.last().value(0).toStringList(), (QStringList{"0201234567", "0612345678"}));
            QCOMPARE(read.last().value(1).value<SelectionReader::Source>(), SelectionReader::Selection);
        }
    }

    // A key another program holds is refused with the reason; a key changed, cleared or dropped with its
    // object is free again for others.
    void hotKey_heldElsewhere_refused_releasedWhenChanged()
    {
        auto key = std::make_unique<GlobalHotKey>();
        {
            Peer holder({"grab", "Control", "F9"});
            QCOMPARE(holder.answer, "grabbed");
            QCOMPARE(key->setShortcut("Control", "F9"), GlobalHotKey::InUse);
            QCOMPARE(key->statusText(), "Deze sneltoets is al in gebruik door een ander programma.");
        }
        QCOMPARE(key->setShortcut("Control", "F9"), GlobalHotKey::Registered);
        QCOMPARE(Peer({"grab", "Control", "F9"}).answer, "refused");
        QCOMPARE(key->setShortcut("Alt", "F2"), GlobalHotKey::Registered);
        QCOMPARE(Peer({"grab", "Control", "F9"}).answer, "grabbed");
        QCOMPARE(key->setShortcut("Alt", ""), GlobalHotKey::NoKey);
        QCOMPARE(Peer({"grab", "Alt", "F2"}).answer, "grabbed");
        QCOMPARE(key->setShortcut("Control", "F13"), GlobalHotKey::UnknownKey);
        QCOMPARE(key->setShortcut("Alt", "F2"), GlobalHotKey::Registered);
        key.reset();
        QCOMPARE(Peer({"grab", "Alt", "F2"}).answer, "grabbed");
    }

    // Saving a hot key sets it at once. One that another program holds is refused with the reason: the dialog stays
    // open and the key stored before keeps working. An empty choice lets go of the key.
    void settings_saveSetsTheKeyAtOnce_keepsTheOldOneWhenRefused()
    {
        DialShortcut shortcut(QDBusConnection::sessionBus());
        Peer holder({"grab", "Alt", "F2"});
        QCOMPARE(holder.answer, "grabbed");
        const struct { QString modifier, key; bool closes; QString stored; bool controlF9; } table[] = {
            // the choice; whether saving closes the dialog; what is stored then; whether Control+F9 is still ours
            {"Control", "F9", true, "Control+F9", true},
            {"Alt", "F2", false, "Control+F9", true},
            {"", "F3", true, "+F3", false}};
        SecretStore secrets{ServiceConfig()}; // not loaded: the secret fields stay out of it
        for (const auto& row : table) {
            SettingsDialog dialog(nullptr, &secrets, &shortcut);
            dialog.show();
            for (auto* combo : dialog.findChildren<QComboBox*>(QRegularExpression("^cmbHotkey[12]$")))
                combo->setCurrentIndex(combo->findText(combo->objectName().endsWith('1') ? row.modifier : row.key));
            QTest::mouseClick(dialog.findChild<QPushButton*>("btnSave"), Qt::LeftButton);
            QCOMPARE(dialog.isVisible(), !row.closes);
            QCOMPARE(dialog.findChild<QLabel*>("lblSettingsStatus")->text(),
                     row.closes ? QString() : GlobalHotKey::statusText(GlobalHotKey::InUse));
            Settings settings;
            QCOMPARE(settings.get("ClickToDial", "Modifier").toString() + '+' + settings.get("ClickToDial", "Hotkey").toString(),
                     row.stored);
            QCOMPARE(Peer({"grab", "Control", "F9"}).answer, row.controlF9 ? "refused" : "grabbed");
        }
    }

    // The selection first, the clipboard when it holds no number; an owner that never answers costs a
    // bounded wait; only the start of a huge text is read, and no data that is not text.
    void selection_thenClipboard_bounded_data()
    {
        QTest::addColumn<QByteArray>("primary"); // "silent": an owner that never answers
        QTest::addColumn<QByteArray>("clipboard");
        QTest::addColumn<QString>("clipboardTarget");
        QTest::addColumn<QStringList>("numbers");
        QTest::addColumn<SelectionReader::Source>("source");
        QByteArray binary(256 * 1024, '\0');
        for (char& c : binary)
            c = char(QRandomGenerator::global()->bounded(256));
        QTest::newRow("number selected") << QByteArray("Tel. +31 (0)20-123 45 67") << QByteArray("06-87654321")
                                         << "UTF8_STRING" << QStringList{"+31201234567"} << SelectionReader::Selection;
        QTest::newRow("empty selection") << QByteArray() << QByteArray("Bel 06-12 34 56 78") << "UTF8_STRING"
                                         << QStringList{"0612345678"} << SelectionReader::Clipboard;
        QTest::newRow("silent owner") << QByteArray("silent") << QByteArray("0031 6 1234 5678") << "UTF8_STRING"
                                      << QStringList{"0031612345678"} << SelectionReader::Clipboard;
        QTest::newRow("huge clipboard") << QByteArray("geen nummer") << "T 020 765 43 21 " + QByteArray(2 << 20, 'x')
                                        << "UTF8_STRING" << QStringList{"0207654321"} << SelectionReader::Clipboard;
        QTest::newRow("binary") << binary << binary << "image/png" << QStringList() << SelectionReader::Nothing;
    }

    void selection_thenClipboard_bounded()
    {
        QFETCH(QByteArray, primary);
        QFETCH(QByteArray, clipboard);
        QFETCH(QString, clipboardTarget);
        QFETCH(QStringList, numbers);
        QFETCH(SelectionReader::Source, source);
        std::unique_ptr<Peer> silent;
        if (primary == "silent") {
            silent = std::make_unique<Peer>(QStringList{"silent"});
            QCOMPARE(silent->answer, "owner");
        } else {
            QVERIFY(put("primary", primary));
        }
        QVERIFY(put("clipboard", clipboard, clipboardTarget));
        SelectionReader reader(SelectionReaderConfig{300, 16 * 1024});
        QVERIFY(reader.readsSelection());
        QSignalSpy read(&reader, &SelectionReader::finished);
        reader.read();
        reader.read(); // joins the first
        QTRY_COMPARE(read.count(), 1);
        QCOMPARE(read.last().value(0).toStringList(), numbers);
        QCOMPARE(read.last().value(1).value<SelectionReader::Source>(), source);
        QVERIFY(!reader.isReading());
    }
};

int main(int argc, char** argv)
{
    VirtualDisplay display;
    const bool started = display.start();
    QApplication app(argc, argv);
    TestHotKey test(started);
    return QTest::qExec(&test, argc, argv);
}

#include "test_hotkey.moc"
