#pragma once

#include <QQmlNetworkAccessManagerFactory>

// Gives every network access manager of the QML engine a bounded disk cache,
// so shop logos and promo pictures survive restarts without refetching.
class CachingNetworkAccessManagerFactory : public QQmlNetworkAccessManagerFactory
{
public:
    CachingNetworkAccessManagerFactory() = default;
    ~CachingNetworkAccessManagerFactory() override;

    QNetworkAccessManager *create(QObject *parent) override;

    static constexpr qint64 maximumCacheSize = 20971520;
    static QString cacheDirectory();
};
