#include "PromoImageModel.h"

PromoImageModel::PromoImageModel(QObject *parent) : QAbstractListModel(parent) {}

PromoImageModel::~PromoImageModel() = default;

int PromoImageModel::rowCount(const QModelIndex &) const
{
    return int(m_images.size());
}

QVariant PromoImageModel::data(const QModelIndex &, int) const
{
    return {};
}

void PromoImageModel::clear()
{
    m_loader.supersede();
    beginResetModel();
    m_images.clear();
    endResetModel();
}

QList<PromoImage> PromoImageModel::toList() const
{
    return m_images;
}

QFuture<void> PromoImageModel::update(const QJsonArray &array)
{
    auto parse = [array]() {
        QList<PromoImage> images;
        for (const QJsonValue &value : array) {
            PromoImage image;
            image.fromJson(value.toObject());
            if (image.isValid() && image.deleted_at.isNull())
                images.append(std::move(image));
        }
        return images;
    };
    return m_loader.load(this, m_mutex, parse, [this](QList<PromoImage> &&images) {
        beginResetModel();
        m_images = std::move(images);
        endResetModel();
    });
}
