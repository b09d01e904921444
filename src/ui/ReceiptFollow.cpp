#include "ReceiptFollow.h"

#include "state/ReceiptItemModel.h"

#include <QAbstractItemModel>

ReceiptFollow::ReceiptFollow(QObject *parent) : QObject(parent) {}

QAbstractItemModel *ReceiptFollow::model() const
{
    return m_model;
}

void ReceiptFollow::setModel(QAbstractItemModel *model)
{
    if (m_model == model)
        return;
    disconnect(m_aboutToReset);
    disconnect(m_reset);
    m_model = model;
    if (model) {
        m_aboutToReset =
            connect(model, &QAbstractItemModel::modelAboutToBeReset, this, &ReceiptFollow::onAboutToBeReset);
    }
    emit modelChanged();
}

void ReceiptFollow::onAboutToBeReset()
{
    emit aboutToReplace();
    // A list view takes in a reset in its own slot, and the view must be
    // placed after that: connected anew now, this one comes last.
    disconnect(m_reset);
    m_reset = connect(m_model, &QAbstractItemModel::modelReset, this, &ReceiptFollow::onReset);
}

void ReceiptFollow::onReset()
{
    disconnect(m_reset);
    emit replaced(rowToShow(m_model));
}

int ReceiptFollow::rowToShow(const QAbstractItemModel *model)
{
    if (!model)
        return KeepPlace;
    const QHash<int, QByteArray> names = model->roleNames();
    const int uuidRole = names.key(QByteArrayLiteral("uuid"), -1);
    const int quantityRole = names.key(QByteArrayLiteral("quantity"), -1);
    const int count = model->rowCount();

    QHash<Key, double> quantities;
    quantities.reserve(count);
    QHash<QString, int> seen;
    int newest = KeepPlace;
    int kept = KeepPlace;
    Key newestKey = m_newest;
    for (int row = 0; row < count; ++row) {
        const QModelIndex index = model->index(row, 0);
        const QString uuid = model->data(index, uuidRole).toString();
        const Key key(uuid, seen[uuid]++);
        const double quantity = model->data(index, quantityRole).toDouble();
        quantities.insert(key, quantity);
        const auto previous = m_quantities.constFind(key);
        if (previous == m_quantities.cend() || previous.value() != quantity) {
            newest = row;
            newestKey = key;
        } else if (key == m_newest) {
            kept = row;
        }
    }
    const QString receipt =
        count > 0 ? model->data(model->index(0, 0), ReceiptItemModel::ReceiptUuidRole).toString() : QString();
    const bool anew = m_count == 0 || count < m_count || receipt != m_receipt;

    m_quantities = std::move(quantities);
    m_count = count;
    m_receipt = receipt;
    if (newest == KeepPlace) {
        newest = kept;
        newestKey = kept == KeepPlace ? Key() : m_newest;
    }
    m_newest = newestKey;
    return anew ? FromTop : newest;
}
