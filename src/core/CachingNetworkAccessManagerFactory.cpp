#include "CachingNetworkAccessManagerFactory.h"

#include "pictures/PictureGuard.h"

#include <QGuiApplication>
#include <QNetworkDiskCache>
#include <QScreen>
#include <QStandardPaths>

CachingNetworkAccessManagerFactory::CachingNetworkAccessManagerFactory()
{
    // Pictures are scaled into boxes no larger than a screen; what may be
    // scaled without harm depends on it. Screens are read here, on the GUI
    // thread: the managers live on the image loader's threads.
    PictureGuard::Limits limits = PictureGuard::limits();
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QSize box;
        for (const QScreen *screen : QGuiApplication::screens())
            box = box.expandedTo(screen->size() * screen->devicePixelRatio());
        if (!box.isEmpty())
            limits.box = box;
    }
    PictureGuard::setLimits(limits);
}

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
    auto *manager = new PictureGuard::GuardedNetworkAccessManager(parent);
    auto *cache = new QNetworkDiskCache(parent);
    cache->setCacheDirectory(cacheDirectory());
    cache->setMaximumCacheSize(maximumCacheSize);
    manager->setCache(cache);
    return manager;
}
