#include "ScreenPopOpener.h"
#include "TestSupport.h"

#include <QtTest>

namespace {
QString g_noDesktop; // why there is no virtual display; the test is then skipped
bool write(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}
} // namespace

// The caller's page through the desktop's own URL handler: Qt's xcb platform
// hands it to xdg-open, which follows the default browser of the throw-away
// home: a stand-in that writes down what it is given.
class TestScreenPop : public QObject
{
    Q_OBJECT

    QString m_record;
    QStringList opened() const { return QString::fromUtf8(TestSupport::readFile(m_record)).split('\n', Qt::SkipEmptyParts); }

private slots:
    void initTestCase()
    {
        if (!g_noDesktop.isEmpty())
            QSKIP(qPrintable(g_noDesktop));
        TestSupport::setApplicationIdentity();
        m_record = TestSupport::testHome() + "/opened.txt";
        const QString browser = TestSupport::testHome() + "/standin-browser";
        QVERIFY(write(browser, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + m_record.toUtf8() + "'\n"));
        QVERIFY(QFile::setPermissions(browser, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(write(qEnvironmentVariable("XDG_DATA_HOME") + "/applications/karvelon-standin.desktop",
                      "[Desktop Entry]\nType=Application\nName=Stand-in\nExec=" + browser.toUtf8() + " %u\n"));
        // What "xdg-settings set default-web-browser" writes, without its pause of four seconds per type.
        QVERIFY(write(qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list",
                      "[Default Applications]\nx-scheme-handler/https=karvelon-standin.desktop\n"));
    }

    void incomingCall_opensItsPageOnce_theJournalEachTime()
    {
        ScreenPopOpener opener;
        const QString crm = "https://crm.example.nl/zoek?tel={nummer}&naam={naam}&op={op}";
        const ScreenPop::Caller jan{"+31 20 123", "Jansen & Zoë", "0201"}, piet{"0612", "Piet", "0201"};
        QVERIFY(opener.openForCall("call-1", crm, jan));
        QVERIFY(!opener.openForCall("call-1", crm, jan)); // "Openen" in the notification after the automatic opening
        QVERIFY(!opener.openForCall("call-2", "javascript:alert('{naam}')", piet));
        QVERIFY(opener.openForCall("call-2", crm, piet)); // the refusal did not use the call up
        QVERIFY(opener.openOnRequest(crm, jan) && opener.openOnRequest(crm, jan));
        QTRY_COMPARE(opened().size(), 4);
        QStringList pages = opened();
        pages.sort();
        const QString janPage = "https://crm.example.nl/zoek?tel=%2B31%2020%20123&naam=Jansen%20%26%20Zo%C3%AB&op=0201";
        QCOMPARE(pages, (QStringList{janPage, janPage, janPage, "https://crm.example.nl/zoek?tel=0612&naam=Piet&op=0201"}));
    }
};

int main(int argc, char** argv)
{
    // Offscreen, Qt has no URL handler at all: a virtual X server of our own,
    // started before the application chooses its platform.
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-noreset"});
    while (!xvfb.canReadLine() && xvfb.waitForReadyRead(20000)) {}
    const QByteArray display = xvfb.readLine().trimmed();
    g_noDesktop = display.isEmpty() ? "Xvfb did not start" : "";
    qputenv("DISPLAY", ":" + display);
    qputenv("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
    // xdg-open's generic road (the user's mimeapps.list), whatever desktop the machine itself runs.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "WAYLAND_DISPLAY", "BROWSER"})
        qunsetenv(name);
    int result = 0;
    {
        QGuiApplication app(argc, argv);
        TestScreenPop test;
        result = QTest::qExec(&test, argc, argv);
    }
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    return result;
}

#include "test_screenpop.moc"
