#pragma once

#include "OutgoingCall.h"
#include "SourceType.h"
#include "ui_CallDialog.h"

#include <QDialog>
#include <QMap>
#include <QStringList>

class QAction;
class QEvent;

// Shows a contact with its numbers; the user picks one and presses "&Bellen".
// The dialog does not dial: it asks the call road (callRequested) and shows
// the outcome of its own call when it comes back (onCallFinished).
class CallDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CallDialog(SourceType::Type type, QWidget* parent = nullptr);
    ~CallDialog() override;

    void setName(const QString& name);
    void setPhoneNumbers(const QStringList& numbers);
    void addPhoneNumber(const QString& number);
    // The selected entry without its parenthesised label.
    QString selectedPhoneNumer() const;
    SourceType::Type sourceType() const { return m_type; }

    // The rich text that shows a contact's name; markup in the name is shown, not obeyed.
    static QString nameMarkup(const QString& name);
    // An entry of the number list without its label: the bracketed part that
    // ends it goes (brackets within the number stay), the rest stays as it is.
    static QString stripNumberLabel(const QString& entry);
    // The outcome of a call as the user reads it (plain text).
    static QString statusText(bool success);

signals:
    // The selected number, with the contact's name, the dialog's source and
    // the account chosen (empty: the source's default).
    void callRequested(const OutgoingCall& call);

public slots:
    void onCallFinished(quint64 callId, bool success);
    void updateStatus(bool success);

protected:
    bool event(QEvent* e) override;

private slots:
    void on_btnCall_pressed();
    void on_btnCallWith_pressed();
    void on_btnCancel_pressed();
    void SipAccountClicked();

private:
    Q_DISABLE_COPY(CallDialog)

    void requestCall(const QString& sipId);

    Ui_CallDialog m_ui;
    SourceType::Type m_type;
    QString m_name;
    AwaitedCall m_awaited;
    QMap<QAction*, QString> m_accountActions;
};
