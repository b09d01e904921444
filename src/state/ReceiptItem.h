#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// One receipt line as the terminal sent it. Money in hundredths.
struct ReceiptItem
{
    QString uuid;
    QString menuName;
    double quantity = 0;
    double menuPrice = 0;
    double discountAmount = 0;
    double discountReceipt = 0;
    double total = 0;
    QJsonArray receiptItemRecipeChanges;
    QString receiptUuid;

    void fromJson(const QJsonObject &json);

    // One line per element, in order; an element that is not an object gives an empty line.
    static QList<ReceiptItem> listFromJson(const QJsonArray &array);
};
