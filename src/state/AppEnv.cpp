#include "AppEnv.h"

#include <QCoreApplication>

AppEnv::AppEnv(QObject *parent) : QObject(parent)
{
    // One element that is itself empty: the slideshow shows nothing until
    // the schedule publishes for the first time.
    m_promoImagesToShow.append(QJsonArray());

    const QString channel = QStringLiteral(QV4_VERSION_CHANNEL);
    const QString versionCode = qApp ? qApp->property("VERSION_CODE").toString() : QString();
    const QString version = QCoreApplication::applicationVersion();
    m_longVersionString = QStringLiteral("%1-%2-%3").arg(version, versionCode, channel);
    m_shortVersionString = QStringLiteral("%1").arg(version);
}

void AppEnv::setUseFullScreen(bool value)
{
    m_useFullScreen = value;
    emit useFullScreenChanged();
}

void AppEnv::setPromoImagesToShow(const QJsonArray &value)
{
    m_promoImagesToShow = value;
    emit promoImagesToShowChanged();
}

void AppEnv::setLogo(const QString &value)
{
    m_logo = value;
    emit logoChanged();
}
