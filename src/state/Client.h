#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

// The loyalty client attached to the current order. Only fromJson writes it,
// emitting changed; its caller then announces AppEnv::clientChanged.
class Client : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString uuid MEMBER uuid NOTIFY changed)
    Q_PROPERTY(QString clientName MEMBER clientName NOTIFY changed)
    Q_PROPERTY(QString clientLastName MEMBER clientLastName NOTIFY changed)
    Q_PROPERTY(QString discountName MEMBER discountName NOTIFY changed)
    Q_PROPERTY(double discountPercent MEMBER discountPercent NOTIFY changed)
    Q_PROPERTY(double bonusCount MEMBER bonusCount NOTIFY changed)
public:
    explicit Client(QObject *parent = nullptr);

    void fromJson(const QJsonObject &json);

    QString uuid;
    QString clientName;
    QString clientLastName;
    QString discountName;
    double discountPercent = 0; // hundredths of a percent
    double bonusCount = 0;      // hundredths of a bonus point

signals:
    void changed();
};
