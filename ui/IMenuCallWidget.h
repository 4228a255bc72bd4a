#pragma once

#include <QObject>
#include <QString>

// A call widget that can live inside the tray menu.
class IMenuCallWidget : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~IMenuCallWidget() override;

    virtual QString phoneNumber() const = 0;
    virtual QString clearPhoneNumber() = 0;

signals:
    void callNumber(const QString& number, const QString& sipId);
    void accepted();
    void rejected();
};
