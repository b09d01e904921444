#include "AppCore.h"

AppCore::AppCore(QObject *parent) : AppCore(std::nullopt, parent) {}

AppCore::AppCore(const CommandLine &commandLine, QObject *parent)
    : AppCore(std::optional(commandLine), parent)
{}

AppCore::AppCore(const std::optional<CommandLine> &commandLine, QObject *parent)
    : QObject(parent), m_appEnv(), m_envService(&m_appEnv), m_networkService(&m_appEnv),
      m_promoImageService(&m_appEnv), m_pictures(&m_appEnv)
{
    // Everything exists before anything starts, so no service sees a half-built core.
    if (commandLine)
        m_envService.setCommandLine(*commandLine);
    m_envService.run();
    m_networkService.setListenAddress(m_envService.listenAddress());
    m_networkService.setAllowedTerminals(m_envService.allowedTerminals());
    m_networkService.run();
    m_promoImageService.run();
}

AppCore::~AppCore() = default;
