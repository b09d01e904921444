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
    // The first InputLimits::maximumRecipeChanges changes, as sent.
    QJsonArray receiptItemRecipeChanges;
    // How many changes beyond those were left out: the display's own count,
    // apart from anything the terminal sent.
    int recipeChangesOmitted = 0;
    QString receiptUuid;

    // What the limits cut from the lines read.
    struct Cuts
    {
        qsizetype linesOmitted = 0;
        int linesWithChangesOmitted = 0;
        int textsShortened = 0;
        int figuresClamped = 0;
    };

    void fromJson(const QJsonObject &json, Cuts *cuts = nullptr);

    // One line per element, in order, up to InputLimits::maximumReceiptLines;
    // an element that is not an object gives an empty line. Warns once per
    // limit that cut something.
    static QList<ReceiptItem> listFromJson(const QJsonArray &array);
};
