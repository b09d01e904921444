#include "EnvService.h"

#include "state/AppEnv.h"

#include <QCoreApplication>

EnvService::EnvService(AppEnv *env, QObject *parent) : IService(parent), m_env(env) {}

void EnvService::run()
{
    const QStringList args = QCoreApplication::arguments();
    // The first argument is the program path and is never an option.
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--use-fullscreen"))
            m_env->setUseFullScreen(true);
    }
}

void EnvService::stop() {}
