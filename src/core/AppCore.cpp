#include "AppCore.h"

AppCore::AppCore(QObject *parent)
    : QObject(parent), m_appEnv(), m_envService(&m_appEnv), m_networkService(&m_appEnv),
      m_promoImageService(&m_appEnv)
{
    // Everything exists before anything starts, so no service sees a half-built core.
    m_envService.run();
    m_networkService.setListenAddress(m_envService.listenAddress());
    m_networkService.setAllowedTerminals(m_envService.allowedTerminals());
    m_networkService.run();
    m_promoImageService.run();
}

AppCore::~AppCore() = default;
