#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// Terminal messages for the soak and flood tests. A `tag` makes every
// message recognisable in the display state.
namespace SoakMessages {

inline QByteArray envelope(const QString &path, const QJsonObject &content)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("content"), content}})
        .toJson(QJsonDocument::Compact);
}

inline QByteArray order(int lines, int tag)
{
    QJsonArray items;
    for (int i = 0; i < lines; ++i) {
        items.append(QJsonObject{
            {QStringLiteral("uuid"), QStringLiteral("line-%1-%2").arg(tag).arg(i)},
            {QStringLiteral("menu_name"), QStringLiteral("Капучино 0,3 л")},
            {QStringLiteral("quantity"), 1 + i % 3},
            {QStringLiteral("menu_price"), 18900},
            {QStringLiteral("discount_amount"), i % 4 == 0 ? 500 : 0},
            {QStringLiteral("discount_receipt"), 0},
            {QStringLiteral("total"), 18900 * (1 + i % 3)},
            {QStringLiteral("receipt_uuid"), QStringLiteral("receipt-%1").arg(tag)},
            {QStringLiteral("receipt_item_recipe_changes"),
             QJsonArray{QJsonObject{{QStringLiteral("nomenclature"), QStringLiteral("Сироп")},
                                    {QStringLiteral("quantity"), 1}}}},
        });
    }
    return envelope(
        QStringLiteral("order"),
        {{QStringLiteral("receipt_items"), items},
         {QStringLiteral("order"), QJsonObject{{QStringLiteral("to_payment"), tag}}},
         {QStringLiteral("guest"), QJsonObject{{QStringLiteral("client_name"), QStringLiteral("Анна")},
                                               {QStringLiteral("bonus_count"), tag}}}});
}

} // namespace SoakMessages
