#pragma once

#include <QQmlNetworkAccessManagerFactory>

// Gives every network access manager of the QML engine a bounded disk cache,
// so shop logos and promo pictures survive restarts without refetching, and
// bounds what each picture may cost (PictureGuard).
class CachingNetworkAccessManagerFactory : public QQmlNetworkAccessManagerFactory
{
public:
    CachingNetworkAccessManagerFactory();
    ~CachingNetworkAccessManagerFactory() override;

    QNetworkAccessManager *create(QObject *parent) override;

    static constexpr qint64 maximumCacheSize = 20971520;
    static QString cacheDirectory();
};
