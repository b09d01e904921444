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

    // The payment and bonus writers. Each assigns, always, and emits changed,
    // as fromJson does: a document bound to the order itself, rather than
    // through AppEnv::order, follows every figure.
    void setReplenishmentBonus(double value) { assign(replenishmentBonus, value); }
    void setExpenseBonusCount(int value) { assign(expenseBonusCount, value); }
    void setReceiptPaymentAmount(int value) { assign(receiptPaymentAmount, value); }
    void setReceiptPaymentDiscount(int value) { assign(receiptPaymentDiscount, value); }
    void setQrCodeTable(const QString &value) { assign(qrCodeTable, value); }
    // The payment's figures back to none, announced once.
    void clearPayment();

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

private:
    template <typename T> void assign(T &field, const T &value)
    {
        field = value;
        emit changed();
    }
};
