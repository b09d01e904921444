#pragma once

#include "IService.h"

class AppEnv;

// Reads the command line: "--use-fullscreen" is the program's one option.
class EnvService : public IService
{
    Q_OBJECT
public:
    explicit EnvService(AppEnv *env, QObject *parent = nullptr);

public slots:
    void run() override;
    void stop() override;

private:
    AppEnv *m_env;
};
