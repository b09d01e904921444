// The floor of the waiting screen's CPU figure: a bare Qt Quick window of the
// display's size whose only motion is a BusyIndicator as large as the
// waiting dialog's spinner.
#include <QGuiApplication>
#include <QQmlApplicationEngine>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData(
        "import QtQuick\nimport QtQuick.Controls.Basic\n"
        "Window { width: 1280; height: 776; visible: true; color: \"#252525\"\n"
        "    BusyIndicator { anchors.centerIn: parent; width: 60; height: 60; running: true } }\n");
    if (engine.rootObjects().isEmpty())
        return 1;
    return QGuiApplication::exec();
}
