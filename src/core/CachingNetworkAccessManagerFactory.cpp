#include "CachingNetworkAccessManagerFactory.h"

#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QStandardPaths>

CachingNetworkAccessManagerFactory::~CachingNetworkAccessManagerFactory() = default;

QString CachingNetworkAccessManagerFactory::cacheDirectory()
{
    // A display started at boot may run with "/" as its working directory,
    // so the cache goes to the per-user location, never a relative path.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/cache");
    return dir;
}

QNetworkAccessManager *CachingNetworkAccessManagerFactory::create(QObject *parent)
{
    auto *manager = new QNetworkAccessManager(parent);
    auto *cache = new QNetworkDiskCache(parent);
    cache->setCacheDirectory(cacheDirectory());
    cache->setMaximumCacheSize(maximumCacheSize);
    manager->setCache(cache);
    return manager;
}
