#pragma once

#include "CommandLine.h"
#include "IService.h"

#include <QHostAddress>
#include <QList>
#include <QPair>

#include <optional>

class AppEnv;

// Reads the command line (CommandLine) into AppEnv and into what the other services take.
class EnvService : public IService
{
    Q_OBJECT
public:
    explicit EnvService(AppEnv *env, QObject *parent = nullptr);

    // What main() parsed, handed down before run(). Without it run() reads
    // the application's arguments itself.
    void setCommandLine(const CommandLine &commandLine) { m_commandLine = commandLine; }

    // What run() read for the other services; see --help for the options.
    QHostAddress listenAddress() const { return m_listenAddress; }
    QList<QPair<QHostAddress, int>> allowedTerminals() const { return m_allowedTerminals; }
    bool allowScreenBlanking() const { return m_allowScreenBlanking; }

public slots:
    void run() override;
    void stop() override;

private:
    AppEnv *m_env;
    QHostAddress m_listenAddress;
    QList<QPair<QHostAddress, int>> m_allowedTerminals;
    bool m_allowScreenBlanking = false;
    std::optional<CommandLine> m_commandLine;
};
