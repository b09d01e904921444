// The floor of the start-up figures: a minimal Qt Quick window of the same
// size, built and probed the same way.
#include "StartupProbe.h"

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData(
        "import QtQuick\nWindow { width: 1280; height: 776; visible: true; color: \"#f4f4f4\" }\n");
    if (!StartupProbe::watch(engine, 3000))
        return 1;
    return QGuiApplication::exec();
}
