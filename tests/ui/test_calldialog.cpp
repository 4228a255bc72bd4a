#include "CallDialog.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {
struct AccountSpec
{
    SourceType::Type type;
    QString name;
    QString id;
    bool checked;
};
using AccountSpecs = QList<AccountSpec>;

void clearRegistry()
{
    SipAccountManager* registry = SipAccountManager::instance();
    for (SourceType::Type type : {SourceType::ClickToDial, SourceType::MsOutlook, SourceType::Thunderbird,
                                  SourceType::AppleContacts}) {
        for (SipAccount* account : registry->accounts(type, false))
            registry->removeSipAccount(account);
    }
}

void addAccounts(const AccountSpecs& specs)
{
    for (const AccountSpec& spec : specs)
        SipAccountManager::instance()->addSipAccount(new SipAccount(spec.type, spec.name, spec.id, spec.checked));
}

template <typename T>
T* child(const QWidget& dialog, const char* name)
{
    T* widget = dialog.findChild<T*>(QLatin1String(name));
    if (!widget)
        qWarning("no child %s", name);
    return widget;
}
} // namespace

Q_DECLARE_METATYPE(AccountSpecs)

class TestCallDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
    }

    void init() { clearRegistry(); }

    void cleanupTestCase()
    {
        clearRegistry();
        delete SipAccountManager::instance();
    }

    void construction_setsTitleAndForm()
    {
        CallDialog dialog(SourceType::MsOutlook);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Karvelon - Bel"));
        QCOMPARE(dialog.sourceType(), SourceType::MsOutlook);
        QCOMPARE(child<QPushButton>(dialog, "btnCall")->text(), QStringLiteral("&Bellen"));
        QCOMPARE(child<QPushButton>(dialog, "btnCallWith")->text(), QStringLiteral("&Bel met"));
        QCOMPARE(child<QPushButton>(dialog, "btnCancel")->text(), QStringLiteral("&Annuleren"));
        QVERIFY(!child<QPushButton>(dialog, "btnCall")->icon().isNull());
        QVERIFY(!child<QLabel>(dialog, "logo")->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!child<QComboBox>(dialog, "cmbPhoneNumber")->isEditable());
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
        QTest::newRow("bare number piece") << QStringLiteral("0123 (0123)") << QStringLiteral("0123 ");
        QTest::newRow("text after label") << QStringLiteral("0123 (werk) x") << QStringLiteral("0123  x");
        QTest::newRow("unclosed") << QStringLiteral("0123 (werk") << QStringLiteral("0123 (werk");
        QTest::newRow("closed before opened") << QStringLiteral("0123 ) werk (") << QStringLiteral("0123 ) werk (");
    }

    void selectedPhoneNumer_removesLabelGreedily()
    {
        QFETCH(QString, entry);
        QFETCH(QString, number);

        CallDialog dialog(SourceType::Thunderbird);
        dialog.setPhoneNumbers({QStringLiteral("0999 (eerste)"), entry});
        QCOMPARE(dialog.selectedPhoneNumer(), QStringLiteral("0999 "));
        child<QComboBox>(dialog, "cmbPhoneNumber")->setCurrentIndex(1);
        QCOMPARE(dialog.selectedPhoneNumer(), number);
        QCOMPARE(CallDialog::stripNumberLabel(entry), number);
    }

    void setPhoneNumbers_replacesList()
    {
        CallDialog dialog(SourceType::Thunderbird);
        auto* combo = child<QComboBox>(dialog, "cmbPhoneNumber");
        QCOMPARE(combo->count(), 1); // the form's sample entry
        dialog.setPhoneNumbers({QStringLiteral("0123 (Werk)"), QStringLiteral("0456 (Mobiel)")});
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->itemText(1), QStringLiteral("0456 (Mobiel)"));
        QVERIFY(combo->itemIcon(0).isNull());
        QVERIFY(!combo->itemData(0).isValid());
        dialog.addPhoneNumber(QStringLiteral("0789 (Thuis)"));
        QCOMPARE(combo->itemText(2), QStringLiteral("0789 (Thuis)"));
        QCOMPARE(combo->currentIndex(), 0);

        // With nothing to choose from the dialog still asks; the call initiation judges the empty number.
        dialog.setPhoneNumbers({});
        QCOMPARE(combo->count(), 0);
        QCOMPARE(dialog.selectedPhoneNumer(), QString());
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QTest::mouseClick(child<QPushButton>(dialog, "btnCall"), Qt::LeftButton);
        QCOMPARE(pressed.count(), 1);
    }

    void callButton_emitsSourceAndEmptyId_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("outlook") << int(SourceType::MsOutlook);
        QTest::newRow("thunderbird") << int(SourceType::Thunderbird);
        QTest::newRow("apple contacts") << int(SourceType::AppleContacts);
    }

    void callButton_emitsSourceAndEmptyId()
    {
        QFETCH(int, type);
        CallDialog dialog(SourceType::Type(type), nullptr);
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        QTest::mouseClick(child<QPushButton>(dialog, "btnCall"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(dialog, "btnCall"), Qt::LeftButton);
        QCOMPARE(pressed.count(), 2);
        QCOMPARE(pressed.at(0).at(0).value<SourceType::Type>(), SourceType::Type(type));
        QCOMPARE(pressed.at(0).at(1).toString(), QString());
        QCOMPARE(rejected.count(), 0);
    }

    void returnAndEnter_callWithDefaultAccount_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("target");
        QTest::newRow("Return at the dialog") << int(Qt::Key_Return) << QStringLiteral("CallDialog");
        QTest::newRow("Enter at the dialog") << int(Qt::Key_Enter) << QStringLiteral("CallDialog");
        QTest::newRow("Return in the number list") << int(Qt::Key_Return) << QStringLiteral("cmbPhoneNumber");
        QTest::newRow("Enter in the number list") << int(Qt::Key_Enter) << QStringLiteral("cmbPhoneNumber");
    }

    void returnAndEnter_callWithDefaultAccount()
    {
        QFETCH(int, key);
        QFETCH(QString, target);

        // Two accounts, so that "&Bel met" with its menu exists and could steal the key.
        addAccounts({{SourceType::MsOutlook, QStringLiteral("A"), QStringLiteral("r-1"), true},
                     {SourceType::MsOutlook, QStringLiteral("B"), QStringLiteral("r-2"), true}});
        CallDialog dialog(SourceType::MsOutlook);
        dialog.setPhoneNumbers({QStringLiteral("0123 (Werk)")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy rejected(&dialog, &QDialog::rejected);

        QWidget* widget = target == dialog.objectName() ? static_cast<QWidget*>(&dialog)
                                                        : dialog.findChild<QWidget*>(target);
        QVERIFY(widget);
        QTest::keyClick(widget, Qt::Key(key));

        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).value<SourceType::Type>(), SourceType::MsOutlook);
        QCOMPARE(pressed.at(0).at(1).toString(), QString());
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(rejected.count(), 0);
        QVERIFY(dialog.isVisible());
    }

    void cancelAndEscape_reject()
    {
        CallDialog dialog(SourceType::Thunderbird);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QTest::mouseClick(child<QPushButton>(dialog, "btnCancel"), Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dialog.isVisible());

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(rejected.count(), 2);
        QCOMPARE(pressed.count(), 0);
    }

    void callWithMenu_listsCheckedAccountsOfSource_data()
    {
        QTest::addColumn<AccountSpecs>("accounts");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("ids");

        const auto tb = SourceType::Thunderbird;
        QTest::newRow("none") << AccountSpecs() << QStringList() << QStringList();
        QTest::newRow("one") << AccountSpecs{{tb, QStringLiteral("Kantoor"), QStringLiteral("t-1"), true}}
                             << QStringList() << QStringList();
        QTest::newRow("two") << AccountSpecs{{tb, QStringLiteral("Kantoor"), QStringLiteral("t-1"), true},
                                             {tb, QStringLiteral("Thuis"), QStringLiteral("t-2"), true}}
                             << QStringList{QStringLiteral("Kantoor"), QStringLiteral("Thuis")}
                             << QStringList{QStringLiteral("t-1"), QStringLiteral("t-2")};
        QTest::newRow("two, one unchecked")
            << AccountSpecs{{tb, QStringLiteral("Kantoor"), QStringLiteral("t-1"), true},
                            {tb, QStringLiteral("Thuis"), QStringLiteral("t-2"), false}}
            << QStringList() << QStringList();
        QTest::newRow("two of another source")
            << AccountSpecs{{SourceType::ClickToDial, QStringLiteral("A"), QStringLiteral("c-1"), true},
                            {SourceType::ClickToDial, QStringLiteral("B"), QStringLiteral("c-2"), true},
                            {tb, QStringLiteral("Kantoor"), QStringLiteral("t-1"), true}}
            << QStringList() << QStringList();
        QTest::newRow("three in registry order")
            << AccountSpecs{{tb, QStringLiteral("Zolder"), QStringLiteral("t-9"), true},
                            {SourceType::MsOutlook, QStringLiteral("Elders"), QStringLiteral("o-1"), true},
                            {tb, QStringLiteral("Auto"), QStringLiteral("t-3"), true},
                            {tb, QStringLiteral("Kantoor"), QStringLiteral("t-1"), false},
                            {tb, QStringLiteral("Thuis"), QStringLiteral("t-2"), true}}
            << QStringList{QStringLiteral("Zolder"), QStringLiteral("Auto"), QStringLiteral("Thuis")}
            << QStringList{QStringLiteral("t-9"), QStringLiteral("t-3"), QStringLiteral("t-2")};
    }

    void callWithMenu_listsCheckedAccountsOfSource()
    {
        QFETCH(AccountSpecs, accounts);
        QFETCH(QStringList, names);
        QFETCH(QStringList, ids);

        addAccounts(accounts);
        CallDialog dialog(SourceType::Thunderbird);
        auto* button = child<QPushButton>(dialog, "btnCallWith");
        QCOMPARE(!button->isHidden(), !names.isEmpty());
        if (names.isEmpty()) {
            QVERIFY(!button->menu());
            return;
        }
        QVERIFY(button->menu());
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
        QCOMPARE(pressed.count(), ids.size());
        for (int i = 0; i < ids.size(); ++i) {
            QCOMPARE(pressed.at(i).at(0).value<SourceType::Type>(), SourceType::Thunderbird);
            QCOMPARE(pressed.at(i).at(1).toString(), ids.at(i));
        }

        // The menu stands for the accounts at the time the dialog opened; a
        // record the registry drops meanwhile leaves a usable entry behind.
        SipAccountManager::instance()->removeSipAccount(ids.first());
        entries.first()->trigger();
        QCOMPARE(pressed.last().at(1).toString(), ids.first());
    }

    void updateStatus_showsOutcomeInBold()
    {
        CallDialog dialog(SourceType::MsOutlook);
        auto* status = child<QLabel>(dialog, "lblStatus");
        dialog.updateStatus(true);
        QCOMPARE(status->text(), QStringLiteral("<b>Gesprek succesvol geïnitieerd</b>"));
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

        if (!name.isEmpty()) {
            // The name keeps its style: one fragment, large and bold.
            const QTextBlock block = rendered.firstBlock();
            QTextBlock::iterator it = block.begin();
            QVERIFY(!it.atEnd());
            const QTextCharFormat format = it.fragment().charFormat();
            QCOMPARE(it.fragment().text(), name);
            QCOMPARE(format.fontPointSize(), 14.0);
            QVERIFY(format.fontWeight() > QFont::Normal);
            QVERIFY(!format.isAnchor());
        }
    }
};

QTEST_MAIN(TestCallDialog)
#include "test_calldialog.moc"
