#pragma once

#include "LatestListLoader.h"
#include "ReceiptItem.h"

#include <QAbstractListModel>
#include <QFuture>
#include <QJsonArray>
#include <QList>
#include <QMutex>

// The receipt lines of the current order, replaced wholesale by each "order" message.
class ReceiptItemModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles {
        UuidRole = Qt::UserRole + 1,
        MenuNameRole,
        QuantityRole,
        MenuPriceRole,
        DiscountAmountRole,
        DiscountReceiptRole,
        ReceiptItemRecipeChangesRole,
        TotalRole,
        ReceiptUuidRole,
        RecipeChangesOmittedRole,
    };

    explicit ReceiptItemModel(QObject *parent = nullptr);
    ~ReceiptItemModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Parses on the pool; the new list and its reset land on this object's
    // thread before the future finishes. The last call always wins.
    QFuture<void> update(const QJsonArray &array);
    // The same, with the new lines put in place no earlier than `gate`
    // finishes: the parsing need not wait for it.
    QFuture<void> updateAfter(const QJsonArray &array, const QFuture<void> &gate);
    void clear();
    QList<ReceiptItem> itemsByReceiptUuid(const QString &receiptUuid) const;

    // Test seam: the next `count` loads fail as a parse out of memory does.
    static void failLoadsForTesting(int count);

private:
    void install(QList<ReceiptItem> &&items);

    QList<ReceiptItem> m_items;
    QMutex m_mutex;
    LatestListLoader<ReceiptItem> m_loader;
};
