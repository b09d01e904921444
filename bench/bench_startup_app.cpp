// The display's own start-up (as src/core/main.cpp does it, on a free port
// instead of the terminal port) with the start-up probe attached.
#include "StartupProbe.h"

#include "core/AllocatorTuning.h"
#include "core/AppCore.h"
#include "core/AppStartup.h"
#include "core/CachingNetworkAccessManagerFactory.h"
#include "kiosk/RendererChoice.h"
#include "network/NetworkService.h"

#include <memory>

int main(int argc, char *argv[])
{
    const qint64 entered = StartupProbe::monotonicNs();
    AllocatorTuning::apply();
    RendererChoice::Probe rendererProbe = RendererChoice::start(QStringLiteral("auto"), argc, argv);
    QGuiApplication app(argc, argv);
    AppStartup::configureApplication(app);
    NetworkService::setPortForTesting(0);

    int exitCode = 0;
    {
        const qint64 appReady = StartupProbe::monotonicNs();
        AppCore core;
        const qint64 coreReady = StartupProbe::monotonicNs();
        CachingNetworkAccessManagerFactory factory;
        auto engine = std::make_unique<QQmlApplicationEngine>();
        AppStartup::prepareEngine(*engine, core, &factory);
        RendererChoice::finish(rendererProbe);
        AppStartup::loadMain(*engine);
        const qint64 loaded = StartupProbe::monotonicNs();
        // Where the time goes, for the curious (the driver reads only FIRST_FRAME and RSS).
        std::fprintf(stderr, "PHASES application %.1f ms, core %.1f ms, documents %.1f ms\n",
                     (appReady - entered) / 1e6, (coreReady - appReady) / 1e6, (loaded - coreReady) / 1e6);
        if (!StartupProbe::watch(*engine, 3000))
            return 1;
        exitCode = QGuiApplication::exec();
        engine.reset();
    }
    return exitCode;
}
