#include "CallDialog.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

using namespace UiTest;

class TestCallDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
    }

    void init() { clearAccounts(); }

    void cleanupTestCase()
    {
        clearAccounts();
        delete SipAccountManager::instance();
    }

    void selectedPhoneNumer_removesLabelGreedily_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("number");
        QTest::newRow("number with label") << QStringLiteral("+31612345678 (werk)") << QStringLiteral("+31612345678 ");
        QTest::newRow("two labels") << QStringLiteral("0123 (Werk) of 0456 (Mobiel)") << QStringLiteral("0123 ");
        QTest::newRow("nested") << QStringLiteral("0123 (a (b) c)") << QStringLiteral("0123 ");
        QTest::newRow("no label") << QStringLiteral("0612345678") << QStringLiteral("0612345678");
        QTest::newRow("name only request") << QStringLiteral(" ()") << QStringLiteral(" ");
        QTest::newRow("text after label") << QStringLiteral("0123 (werk) x") << QStringLiteral("0123  x");
        QTest::newRow("unclosed") << QStringLiteral("0123 (werk") << QStringLiteral("0123 (werk");
        QTest::newRow("closed before opened") << QStringLiteral("0123 ) werk (") << QStringLiteral("0123 ) werk (");
    }

    void selectedPhoneNumer_removesLabelGreedily()
    {
        QFETCH(QString, entry);
        QFETCH(QString, number);
        CallDialog dialog(SourceType::Thunderbird);
        dialog.setPhoneNumbers({QStringLiteral("0999 (eerste)")});
        dialog.addPhoneNumber(entry);
        QCOMPARE(dialog.selectedPhoneNumer(), QStringLiteral("0999 "));
        child<QComboBox>(dialog, "cmbPhoneNumber")->setCurrentIndex(1);
        QCOMPARE(dialog.selectedPhoneNumer(), number);

        // With nothing to choose from "&Bellen" still asks; the call initiation judges the empty number.
        dialog.setPhoneNumbers({});
        QCOMPARE(dialog.selectedPhoneNumer(), QString());
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QTest::mouseClick(child<QPushButton>(dialog, "btnCall"), Qt::LeftButton);
        QCOMPARE(pressed.count(), 1);
    }

    void form_titleButtonsAndLogo()
    {
        CallDialog dialog(SourceType::Thunderbird);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Karvelon - Bel"));
        QCOMPARE(child<QPushButton>(dialog, "btnCall")->text(), QStringLiteral("&Bellen"));
        QCOMPARE(child<QPushButton>(dialog, "btnCallWith")->text(), QStringLiteral("&Bel met"));
        QCOMPARE(child<QPushButton>(dialog, "btnCancel")->text(), QStringLiteral("&Annuleren"));
        QVERIFY(!child<QLabel>(dialog, "logo")->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!child<QComboBox>(dialog, "cmbPhoneNumber")->isEditable());
    }

    void buttonsAndKeys_callWithDefaultAccountOrReject_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("how"); // a button, or a key at the dialog or in the number list
        QTest::addColumn<bool>("calls");
        const int outlook = SourceType::MsOutlook;
        QTest::newRow("Bellen, Outlook") << outlook << QStringLiteral("btnCall") << true;
        QTest::newRow("Bellen, Thunderbird") << int(SourceType::Thunderbird) << QStringLiteral("btnCall") << true;
        QTest::newRow("Bellen, Apple Contacts") << int(SourceType::AppleContacts) << QStringLiteral("btnCall") << true;
        QTest::newRow("Return at the dialog") << outlook << QStringLiteral("Return") << true;
        QTest::newRow("Enter at the dialog") << outlook << QStringLiteral("Enter") << true;
        QTest::newRow("Return in the list") << outlook << QStringLiteral("Return list") << true;
        QTest::newRow("Enter in the list") << outlook << QStringLiteral("Enter list") << true;
        QTest::newRow("Annuleren") << outlook << QStringLiteral("btnCancel") << false;
        QTest::newRow("Escape") << outlook << QStringLiteral("Escape") << false;
    }

    void buttonsAndKeys_callWithDefaultAccountOrReject()
    {
        QFETCH(int, type);
        QFETCH(QString, how);
        QFETCH(bool, calls);
        addAccounts(words("O+A O+B")); // so that "&Bel met" with its menu exists and could steal the key
        CallDialog dialog{SourceType::Type(type)};
        dialog.setPhoneNumbers({QStringLiteral("0123 (Werk)")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy rejected(&dialog, &QDialog::rejected);

        if (how.startsWith(QLatin1String("btn"))) {
            QTest::mouseClick(child<QPushButton>(dialog, how), Qt::LeftButton);
        } else {
            const Qt::Key key = how.startsWith(QLatin1String("Return"))  ? Qt::Key_Return
                                : how.startsWith(QLatin1String("Enter")) ? Qt::Key_Enter
                                                                         : Qt::Key_Escape;
            QTest::keyClick(how.endsWith(QLatin1String("list")) ? child<QWidget>(dialog, "cmbPhoneNumber") : &dialog,
                            key);
        }
        QCOMPARE(pressed.count(), calls ? 1 : 0);
        if (calls) {
            QCOMPARE(pressed.at(0).at(0).value<SourceType::Type>(), SourceType::Type(type));
            QCOMPARE(pressed.at(0).at(1).toString(), QString());
        }
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(rejected.count(), calls ? 0 : 1);
        QCOMPARE(dialog.isVisible(), calls);
    }

    void callWithMenu_listsCheckedAccountsOfSource_data()
    {
        QTest::addColumn<QStringList>("accounts");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("one") << words("T+Kantoor") << QStringList();
        QTest::newRow("two") << words("T+Kantoor T+Thuis") << words("Kantoor Thuis");
        QTest::newRow("two, one unchecked") << words("T+Kantoor T-Thuis") << QStringList();
        QTest::newRow("two of another source") << words("C+A C+B T+Kantoor") << QStringList();
        QTest::newRow("three in registry order")
            << words("T+Zolder O+Elders T+Auto T-Kantoor T+Thuis") << words("Zolder Auto Thuis");
    }

    void callWithMenu_listsCheckedAccountsOfSource()
    {
        QFETCH(QStringList, accounts);
        QFETCH(QStringList, names);
        addAccounts(accounts);
        CallDialog dialog(SourceType::Thunderbird);
        auto* button = child<QPushButton>(dialog, "btnCallWith");
        QCOMPARE(!button->isHidden(), !names.isEmpty());
        QCOMPARE(button->menu() != nullptr, !names.isEmpty());
        if (names.isEmpty())
            return;
        const QList<QAction*> entries = button->menu()->actions();
        QStringList shown;
        for (QAction* entry : entries) {
            shown << entry->text();
            QVERIFY(entry->shortcut().isEmpty());
        }
        QCOMPARE(shown, names);

        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        for (QAction* entry : entries)
            entry->trigger();
        QCOMPARE(pressed.count(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(pressed.at(i).at(0).value<SourceType::Type>(), SourceType::Thunderbird);
            QCOMPARE(pressed.at(i).at(1).toString(), names.at(i).toLower());
        }

        // The menu stands for the accounts when the dialog opened: a dropped record leaves a usable entry.
        SipAccountManager::instance()->removeSipAccount(names.first().toLower());
        entries.first()->trigger();
        QCOMPARE(pressed.last().at(1).toString(), names.first().toLower());
    }

    void updateStatus_showsOutcomeInBold()
    {
        CallDialog dialog(SourceType::MsOutlook);
        auto* status = child<QLabel>(dialog, "lblStatus");
        dialog.updateStatus(false);
        QCOMPARE(status->text(), QStringLiteral("<b>Kon gesprek niet initiëren</b>"));
        dialog.updateStatus(true);
        QCOMPARE(status->text(), QStringLiteral("<b>Gesprek succesvol geïnitieerd</b>"));
    }

    void setName_showsMarkupAsText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QStringLiteral("Jan Jansen");
        QTest::newRow("accents") << QStringLiteral("Zoë van 't Hoff");
        QTest::newRow("image") << QStringLiteral("<img src=\"/etc/passwd\">Jan");
        QTest::newRow("link and bold") << QStringLiteral("<a href=\"http://x.invalid\">klik</a> & <b>Piet</b>");
        QTest::newRow("closing the span") << QStringLiteral("</span><h1>Groot</h1>");
        QTest::newRow("entities") << QStringLiteral("&lt;b&gt; &amp; \"quote\"");
        QTest::newRow("empty") << QString();
    }

    void setName_showsMarkupAsText()
    {
        QFETCH(QString, name);
        CallDialog dialog(SourceType::Thunderbird);
        dialog.setName(name);
        auto* label = child<QLabel>(dialog, "lblCallInformation");
        QVERIFY(label->alignment() & Qt::AlignHCenter);

        QTextDocument rendered;
        rendered.setHtml(label->text());
        QCOMPARE(rendered.toPlainText(), name);
        QVERIFY(!rendered.toHtml().contains(QLatin1String("<img")));
        QVERIFY(!rendered.toHtml().contains(QLatin1String("<a ")));
        QCOMPARE(rendered.blockCount(), 1);
        if (name.isEmpty())
            return;
        // The name keeps its style: one fragment, large and bold.
        QTextBlock::iterator it = rendered.firstBlock().begin();
        QVERIFY(!it.atEnd());
        const QTextCharFormat format = it.fragment().charFormat();
        QCOMPARE(it.fragment().text(), name);
        QCOMPARE(format.fontPointSize(), 14.0);
        QVERIFY(format.fontWeight() > QFont::Normal);
        QVERIFY(!format.isAnchor());
    }
};

QTEST_MAIN(TestCallDialog)
#include "test_calldialog.moc"
