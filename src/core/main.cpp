#include "AllocatorTuning.h"
#include "AppCore.h"
#include "AppStartup.h"
#include "CachingNetworkAccessManagerFactory.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>

#include <memory>

int main(int argc, char *argv[])
{
    AllocatorTuning::apply();
    QGuiApplication app(argc, argv);
    AppStartup::configureApplication(app);

    int exitCode = 0;
    {
        AppCore core;
        CachingNetworkAccessManagerFactory factory;
        // The engine goes first at shutdown so no document outlives what it binds to.
        auto engine = std::make_unique<QQmlApplicationEngine>();
        AppStartup::prepareEngine(*engine, core, &factory);
        AppStartup::loadMain(*engine);

        exitCode = QGuiApplication::exec();
        engine.reset();
    }
    return exitCode;
}
