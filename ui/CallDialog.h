#pragma once

#include "SourceType.h"
#include "ui_CallDialog.h"

#include <QDialog>
#include <QMap>
#include <QStringList>

class QAction;

// Shows a contact with its numbers; the user picks one and presses "&Bellen".
class CallDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CallDialog(SourceType::Type type, QWidget* parent = nullptr);
    ~CallDialog() override;

    void setName(const QString& name);
    void setPhoneNumbers(const QStringList& numbers);
    QString selectedPhoneNumer() const;
    SourceType::Type sourceType() const { return m_type; }

signals:
    void callPressed(SourceType::Type type, const QString& sipId);

public slots:
    void updateStatus(bool success);

private:
    Q_DISABLE_COPY(CallDialog)

    Ui_CallDialog m_ui;
    SourceType::Type m_type;
    QMap<QAction*, QString> m_accountActions;
};
