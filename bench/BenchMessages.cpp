#include "BenchMessages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace BenchMessages {

namespace {

QString uuidFor(int a, int b)
{
    return QStringLiteral("%1-4e2b-4c1a-9d3e-%2")
        .arg(uint(a) * 2654435761u, 8, 16, QLatin1Char('0'))
        .arg(uint(b) * 40503u + 0x1000u, 12, 16, QLatin1Char('0'));
}

const char *const dishes[] = {"Капучино 0,3 л",      "Латте миндальный",   "Круассан с ветчиной",
                              "Сырники со сметаной", "Американо 0,4 л",    "Чизкейк Нью-Йорк",
                              "Борщ с говядиной",    "Морс клюквенный 0,5"};
const char *const changes[] = {"Сироп карамель", "Молоко овсяное", "Без сахара", "Двойной эспрессо"};

} // namespace

QJsonObject line(int index, int seed)
{
    const int price = 9900 + ((index * 37 + seed) % 40) * 100;
    const int quantity = 1 + (index + seed) % 3;
    QJsonArray recipe;
    if (index % 4 == 0) {
        recipe.append(
            QJsonObject{{QStringLiteral("nomenclature"), QString::fromUtf8(changes[(index + seed) % 4])},
                        {QStringLiteral("quantity"), 1}});
    }
    return QJsonObject{
        {QStringLiteral("uuid"), uuidFor(index, seed)},
        {QStringLiteral("menu_name"), QString::fromUtf8(dishes[(index + seed) % 8])},
        {QStringLiteral("quantity"), quantity},
        {QStringLiteral("menu_price"), price},
        {QStringLiteral("discount_amount"), index % 5 == 0 ? 500 : 0},
        {QStringLiteral("discount_receipt"), 0},
        {QStringLiteral("total"), price * quantity},
        {QStringLiteral("receipt_uuid"), uuidFor(seed, 7)},
        {QStringLiteral("receipt_item_recipe_changes"), recipe},
    };
}

QJsonArray lines(int count, int seed)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(line(i, seed));
    return array;
}

QByteArray order(const QJsonArray &items, int marker)
{
    const QJsonObject content{
        {QStringLiteral("receipt_items"), items},
        {QStringLiteral("order"), QJsonObject{{QStringLiteral("to_payment"), marker},
                                              {QStringLiteral("discount"), 1500},
                                              {QStringLiteral("discount_percent"), 0.05}}},
        {QStringLiteral("guest"),
         QJsonObject{{QStringLiteral("uuid"), uuidFor(marker, 3)},
                     {QStringLiteral("client_name"), QStringLiteral("Анна")},
                     {QStringLiteral("client_lastname"), QStringLiteral("Смирнова")},
                     {QStringLiteral("discount_name"), QStringLiteral("Постоянный гость")},
                     {QStringLiteral("discount_percent"), 500},
                     {QStringLiteral("bonus_count"), marker}}},
    };
    return QJsonDocument(QJsonObject{{QStringLiteral("path"), QStringLiteral("order")},
                                     {QStringLiteral("content"), content}})
        .toJson(QJsonDocument::Compact);
}

QByteArray order(int lineCount, int marker)
{
    return order(lines(lineCount, marker), marker);
}

} // namespace BenchMessages
