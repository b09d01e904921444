#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

// Order totals as the terminal computed them, plus the payment in progress.
// Money is in hundredths of the currency unit.
class Order : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double totalAmount MEMBER totalAmount NOTIFY changed)
    Q_PROPERTY(double discount MEMBER discount NOTIFY changed)
    Q_PROPERTY(double discountPercent MEMBER discountPercent NOTIFY changed)
    Q_PROPERTY(double replenishmentBonus MEMBER replenishmentBonus NOTIFY changed)
    Q_PROPERTY(QString qrCodeTable MEMBER qrCodeTable NOTIFY changed)
    Q_PROPERTY(int receiptPaymentAmount MEMBER receiptPaymentAmount NOTIFY changed)
    Q_PROPERTY(int receiptPaymentDiscount MEMBER receiptPaymentDiscount NOTIFY changed)
    Q_PROPERTY(int expenseBonusCount MEMBER expenseBonusCount NOTIFY changed)
public:
    explicit Order(QObject *parent = nullptr);

    // Reads the three terminal totals; the payment and bonus figures stay as they are.
    void fromJson(const QJsonObject &json);

    double totalAmount = 0;
    double discount = 0;
    double discountPercent = 0; // a fraction of 1, unlike Client::discountPercent
    double replenishmentBonus = 0;
    QString qrCodeTable;
    int receiptPaymentAmount = 0;
    int receiptPaymentDiscount = 0;
    int expenseBonusCount = 0;

signals:
    void changed();
};
