#pragma once

#include "PromoImage.h"
#include "state/LatestListLoader.h"

#include <QAbstractListModel>
#include <QFuture>
#include <QJsonArray>
#include <QList>
#include <QMutex>

// Every promotional picture meant for this screen and not deleted. Not a view
// model: its reset tells the schedule to look again.
class PromoImageModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit PromoImageModel(QObject *parent = nullptr);
    ~PromoImageModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    void clear();
    QList<PromoImage> toList() const;

public slots:
    QFuture<void> update(const QJsonArray &array);

private:
    QMutex m_mutex;
    QList<PromoImage> m_images;
    LatestListLoader<PromoImage> m_loader;
};
