#include "ReceiptItem.h"

void ReceiptItem::fromJson(const QJsonObject &json)
{
    uuid = json.value(QLatin1String("uuid")).toString();
    menuName = json.value(QLatin1String("menu_name")).toString();
    quantity = json.value(QLatin1String("quantity")).toDouble(0);
    menuPrice = json.value(QLatin1String("menu_price")).toDouble(0);
    discountAmount = json.value(QLatin1String("discount_amount")).toDouble(0);
    discountReceipt = json.value(QLatin1String("discount_receipt")).toDouble(0);
    total = json.value(QLatin1String("total")).toDouble(0);
    receiptItemRecipeChanges = json.value(QLatin1String("receipt_item_recipe_changes")).toArray();
    receiptUuid = json.value(QLatin1String("receipt_uuid")).toString();
}

QList<ReceiptItem> ReceiptItem::listFromJson(const QJsonArray &array)
{
    QList<ReceiptItem> items;
    items.reserve(array.size());
    for (const QJsonValue &value : array) {
        ReceiptItem item;
        item.fromJson(value.toObject());
        items.append(std::move(item));
    }
    return items;
}
