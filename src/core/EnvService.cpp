#include "EnvService.h"

#include "state/AppEnv.h"

#include <QCoreApplication>

EnvService::EnvService(AppEnv *env, QObject *parent) : IService(parent), m_env(env) {}

void EnvService::run()
{
    const CommandLine commandLine =
        m_commandLine ? *m_commandLine : CommandLine::parse(QCoreApplication::arguments());
    for (const QString &argument : commandLine.ignored)
        qWarning("%s", qUtf8Printable(CommandLine::ignoredMessage(argument)));
    for (int i = 0; i < commandLine.fullScreenRequests; ++i)
        m_env->setUseFullScreen(true);
    m_allowScreenBlanking = commandLine.allowScreenBlanking;
    m_listenAddress = commandLine.listenAddress;
    m_allowedTerminals = commandLine.allowedTerminals;
    if (!commandLine.error.isEmpty()) {
        // main() stops before this; whoever else starts us gets a closed door, not an open one.
        qCritical("%s: no terminal will be accepted", qUtf8Printable(commandLine.error));
        m_allowedTerminals = {qMakePair(QHostAddress(), -1)};
    }
}

void EnvService::stop() {}
