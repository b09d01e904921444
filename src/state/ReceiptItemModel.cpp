#include "ReceiptItemModel.h"

#include <QThreadPool>

#include <atomic>
#include <new>
#include <utility>

namespace {
std::atomic<int> g_failingLoads{0};
} // namespace

void ReceiptItemModel::failLoadsForTesting(int count)
{
    g_failingLoads = count;
}

ReceiptItemModel::ReceiptItemModel(QObject *parent) : QAbstractListModel(parent) {}

ReceiptItemModel::~ReceiptItemModel() = default;

int ReceiptItemModel::rowCount(const QModelIndex &) const
{
    return int(m_items.size());
}

QVariant ReceiptItemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size())
        return {};
    const ReceiptItem &item = m_items.at(index.row());
    switch (role) {
    case UuidRole:
        return item.uuid;
    case MenuNameRole:
        return item.menuName;
    case QuantityRole:
        return item.quantity;
    case MenuPriceRole:
        return item.menuPrice;
    case DiscountAmountRole:
        return item.discountAmount;
    case DiscountReceiptRole:
        return item.discountReceipt;
    case ReceiptItemRecipeChangesRole:
        return item.receiptItemRecipeChanges;
    case TotalRole:
        return item.total + item.discountReceipt;
    case ReceiptUuidRole:
        return item.receiptUuid;
    case RecipeChangesOmittedRole:
        return item.recipeChangesOmitted;
    default:
        return {};
    }
}

QHash<int, QByteArray> ReceiptItemModel::roleNames() const
{
    return {
        {UuidRole, "uuid"},
        {MenuNameRole, "menuName"},
        {RecipeChangesOmittedRole, "recipeChangesOmitted"},
        {QuantityRole, "quantity"},
        {MenuPriceRole, "menuPrice"},
        {DiscountAmountRole, "discountAmount"},
        {DiscountReceiptRole, "discountReceipt"},
        {ReceiptItemRecipeChangesRole, "receiptItemRecipeChanges"},
        {TotalRole, "total"},
    };
}

QFuture<void> ReceiptItemModel::update(const QJsonArray &array)
{
    return updateAfter(array, QFuture<void>());
}

QFuture<void> ReceiptItemModel::updateAfter(const QJsonArray &array, const QFuture<void> &gate)
{
    auto parse = [array]() {
        if (g_failingLoads.load(std::memory_order_relaxed) > 0 && g_failingLoads.fetch_sub(1) > 0)
            throw std::bad_alloc();
        return ReceiptItem::listFromJson(array);
    };
    return m_loader.load(
        this, m_mutex, parse, [this](QList<ReceiptItem> &&items) { install(std::move(items)); }, gate);
}

void ReceiptItemModel::install(QList<ReceiptItem> &&items)
{
    beginResetModel();
    QList<ReceiptItem> old = std::exchange(m_items, std::move(items));
    endResetModel();
    // Thousands of lines take a while to free: not on this thread.
    if (old.size() > 64)
        QThreadPool::globalInstance()->start([old = std::move(old)]() mutable { old.clear(); });
}

void ReceiptItemModel::clear()
{
    m_loader.supersede();
    beginResetModel();
    m_items.clear();
    endResetModel();
}

QList<ReceiptItem> ReceiptItemModel::itemsByReceiptUuid(const QString &receiptUuid) const
{
    QList<ReceiptItem> result;
    for (const ReceiptItem &item : m_items) {
        if (item.receiptUuid == receiptUuid)
            result.append(item);
    }
    return result;
}
