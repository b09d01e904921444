// The display's own start-up (as src/core/main.cpp does it, on a free port
// instead of the terminal port) with the start-up probe attached.
#include "StartupProbe.h"

#include "core/AppCore.h"
#include "core/AppStartup.h"
#include "core/CachingNetworkAccessManagerFactory.h"
#include "network/NetworkService.h"

#include <memory>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    AppStartup::configureApplication(app);
    NetworkService::setPortForTesting(0);

    int exitCode = 0;
    {
        AppCore core;
        CachingNetworkAccessManagerFactory factory;
        auto engine = std::make_unique<QQmlApplicationEngine>();
        AppStartup::prepareEngine(*engine, core, &factory);
        AppStartup::loadMain(*engine);
        if (!StartupProbe::watch(*engine, 3000))
            return 1;
        exitCode = QGuiApplication::exec();
        engine.reset();
    }
    return exitCode;
}
