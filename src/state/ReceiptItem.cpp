#include "ReceiptItem.h"

#include "protocol/InputLimits.h"
#include "protocol/MessageTable.h"

namespace {

// A change object with its shown texts (the name, and a quantity given as
// text) cut to length; true when anything was cut.
bool shortenChange(QJsonValue &change)
{
    if (!change.isObject())
        return false;
    QJsonObject object = change.toObject();
    bool cut = false;
    for (QLatin1String key : {Key::nomenclature, Key::quantity}) {
        const QJsonValue value = object.value(key);
        if (!value.isString())
            continue;
        QString text = value.toString();
        if (InputLimits::shorten(text)) {
            object.insert(key, text);
            cut = true;
        }
    }
    if (cut)
        change = object;
    return cut;
}

QJsonArray cappedChanges(const QJsonArray &changes, int *omitted, ReceiptItem::Cuts *cuts)
{
    const qsizetype kept = qMin<qsizetype>(changes.size(), InputLimits::maximumRecipeChanges);
    QJsonArray result = changes;
    bool rebuilt = false;
    int shortened = 0;
    if (kept < changes.size()) {
        result = QJsonArray();
        for (qsizetype i = 0; i < kept; ++i)
            result.append(changes.at(i));
        rebuilt = true;
    }
    for (qsizetype i = 0; i < kept; ++i) {
        QJsonValue change = result.at(i);
        if (shortenChange(change)) {
            result.replace(i, change);
            ++shortened;
        }
    }
    *omitted = int(changes.size() - kept);
    if (cuts) {
        cuts->linesWithChangesOmitted += rebuilt ? 1 : 0;
        cuts->textsShortened += shortened;
    }
    return result;
}

} // namespace

void ReceiptItem::fromJson(const QJsonObject &json, Cuts *cuts)
{
    uuid = json.value(Key::uuid).toString();
    menuName = json.value(Key::menuName).toString();
    if (InputLimits::shorten(menuName) && cuts)
        ++cuts->textsShortened;
    quantity = json.value(Key::quantity).toDouble(0);
    menuPrice = json.value(Key::menuPrice).toDouble(0);
    discountAmount = json.value(Key::discountAmount).toDouble(0);
    discountReceipt = json.value(Key::discountReceipt).toDouble(0);
    total = json.value(Key::total).toDouble(0);
    receiptItemRecipeChanges =
        cappedChanges(json.value(Key::recipeChanges).toArray(), &recipeChangesOmitted, cuts);
    const int clamped = InputLimits::clamp(quantity, InputLimits::maximumQuantity) +
                        InputLimits::clamp(menuPrice, InputLimits::maximumAmount) +
                        InputLimits::clamp(discountAmount, InputLimits::maximumAmount) +
                        InputLimits::clamp(discountReceipt, InputLimits::maximumAmount) +
                        InputLimits::clamp(total, InputLimits::maximumAmount);
    if (cuts)
        cuts->figuresClamped += clamped;
    receiptUuid = json.value(Key::receiptUuid).toString();
}

QList<ReceiptItem> ReceiptItem::listFromJson(const QJsonArray &array)
{
    const qsizetype count = qMin<qsizetype>(array.size(), InputLimits::maximumReceiptLines);
    Cuts cuts;
    cuts.linesOmitted = array.size() - count;
    QList<ReceiptItem> items;
    items.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        ReceiptItem item;
        item.fromJson(array.at(i).toObject(), &cuts);
        items.append(std::move(item));
    }
    if (cuts.linesOmitted > 0) {
        qCWarning(lcLimits, "Order of %lld lines: only the first %d are shown, the limit",
                  qlonglong(array.size()), InputLimits::maximumReceiptLines);
    }
    if (cuts.linesWithChangesOmitted > 0) {
        qCWarning(lcLimits,
                  "Order: %d line(s) with over %d recipe changes, the limit; the rest counted in one chip",
                  cuts.linesWithChangesOmitted, InputLimits::maximumRecipeChanges);
    }
    if (cuts.figuresClamped > 0) {
        qCWarning(lcLimits,
                  "Order: %d figure(s) beyond what the screen shows, or not a number, shown clamped",
                  cuts.figuresClamped);
    }
    if (cuts.textsShortened > 0) {
        qCWarning(lcLimits, "Order: %d text(s) over %d characters, the limit, cut to it", cuts.textsShortened,
                  InputLimits::maximumTextLength);
    }
    return items;
}
