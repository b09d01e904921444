#pragma once

#include "EnvService.h"
#include "network/NetworkService.h"
#include "pictures/PicturePreloader.h"
#include "promo/PromoImageService.h"
#include "state/AppEnv.h"

#include <QObject>

#include <optional>

// Root object: owns the display state and every service for the whole run.
// Members are by value and their order is the construction order.
class AppCore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(NetworkService *networkService READ networkService CONSTANT)
    Q_PROPERTY(AppEnv *appEnv READ appEnv CONSTANT)
    Q_PROPERTY(PicturePreloader *pictures READ pictures CONSTANT)
public:
    explicit AppCore(QObject *parent = nullptr);
    // With the command line main() parsed, so that it is read once.
    explicit AppCore(const CommandLine &commandLine, QObject *parent = nullptr);
    ~AppCore() override;

    NetworkService *networkService() { return &m_networkService; }
    AppEnv *appEnv() { return &m_appEnv; }
    EnvService *envService() { return &m_envService; }
    PromoImageService *promoImageService() { return &m_promoImageService; }
    PicturePreloader *pictures() { return &m_pictures; }

    // Keeps `pictures` fetching what `env` will show: the logo, the promo
    // entries due now and the others due later today.
    static void feedPictures(AppEnv &env, PicturePreloader &pictures);

private:
    AppCore(const std::optional<CommandLine> &commandLine, QObject *parent);

    AppEnv m_appEnv;
    EnvService m_envService;
    NetworkService m_networkService;
    PromoImageService m_promoImageService;
    PicturePreloader m_pictures;
};
