#pragma once

#include "SourceType.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantList>

class QDataStream;

// One SIP account of the customer, as offered for one source.
class SipAccount : public QObject
{
    Q_OBJECT

public:
    SipAccount();
    SipAccount(SourceType::Type type, const QString& displayName, const QString& id, bool checked);
    SipAccount(const SipAccount& other);
    SipAccount& operator=(const SipAccount& other);
    ~SipAccount() override;

    QString displayName() const { return m_displayName; }
    QString id() const { return m_id; }
    bool isChecked() const { return m_checked; }
    bool isDefault() const { return m_default; }
    SourceType::Type type() const { return m_type; }

    void setDisplayName(const QString& displayName);
    void setId(const QString& id);
    void setChecked(bool checked);
    void setDefault(bool isDefault);
    void setType(SourceType::Type type);

    // False for a record read from a stream whose source value this program
    // does not know; such a record has no place in any list and is dropped.
    bool hasKnownType() const { return m_typeKnown; }
    static bool isKnownType(qint32 type);

    // Registers the "SipAccount" meta-type with its stream operators; idempotent.
    static void registerMetaType();

signals:
    void dataChanged();

private:
    QString m_displayName;
    QString m_id;
    bool m_checked = false;
    bool m_default = false;
    SourceType::Type m_type = SourceType::ClickToDial;
    bool m_typeKnown = true;

    friend QDataStream& operator>>(QDataStream& in, SipAccount& account);
};

QDataStream& operator<<(QDataStream& out, const SipAccount& account);
QDataStream& operator>>(QDataStream& in, SipAccount& account);

QVariantList toVariantList(const QList<SipAccount*>& accounts);

Q_DECLARE_METATYPE(SipAccount)
