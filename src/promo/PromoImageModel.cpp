#include "PromoImageModel.h"

#include "protocol/InputLimits.h"

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
        int daysCut = 0;
        for (const QJsonValue &value : array) {
            PromoImage image;
            image.fromJson(value.toObject(), &daysCut);
            if (!image.isValid() || !image.deleted_at.isNull())
                continue;
            if (images.size() == InputLimits::maximumPromoEntries) {
                qCWarning(lcLimits,
                          "Promo catalogue: entries after the first %d shown ones ignored, the limit",
                          InputLimits::maximumPromoEntries);
                break;
            }
            images.append(std::move(image));
        }
        if (daysCut > 0) {
            qCWarning(lcLimits,
                      "Promo catalogue: %d weekday(s) with over %d time windows, the limit; the rest ignored",
                      daysCut, InputLimits::maximumTimeWindows);
        }
        return images;
    };
    return m_loader.load(this, m_mutex, parse, [this](QList<PromoImage> &&images) {
        beginResetModel();
        m_images = std::move(images);
        endResetModel();
    });
}
