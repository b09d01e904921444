#include "AppCore.h"

#include <QDate>

AppCore::AppCore(QObject *parent) : AppCore(std::nullopt, parent) {}

AppCore::AppCore(const CommandLine &commandLine, QObject *parent)
    : AppCore(std::optional(commandLine), parent)
{}

AppCore::AppCore(const std::optional<CommandLine> &commandLine, QObject *parent)
    : QObject(parent), m_appEnv(), m_envService(&m_appEnv), m_networkService(&m_appEnv),
      m_promoImageService(&m_appEnv)
{
    feedPictures(m_appEnv, m_pictures);
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

void AppCore::feedPictures(AppEnv &env, PicturePreloader &pictures)
{
    const auto wanted = [&env, &pictures] {
        pictures.setWanted(
            env.logo(), env.promoImagesToShow(),
            PromoImageService::urlsDueOn(env.promoImageModel()->toList(), QDate::currentDate()));
    };
    QObject::connect(&env, &AppEnv::logoChanged, &pictures, wanted);
    QObject::connect(&env, &AppEnv::promoImagesToShowChanged, &pictures, wanted);
}
