#include "ServiceScreen.h"

#include "AppStartup.h"
#include "kiosk/Heartbeat.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>

#include <cstdio>

namespace ServiceScreen {

QString text(const QString &error)
{
    return QStringLiteral("Экран покупателя не запущен: ошибка в настройках.\n"
                          "The order display is not running: it cannot use its settings.\n%1\n"
                          "Check them with: qv4-autostart status")
        .arg(error);
}

int run(int &argc, char **argv, const QString &error)
{
    const QString shown = text(error);
    for (const QString &line : shown.split(u'\n'))
        std::fprintf(stderr, "appqv4App: %s\n", qPrintable(line));
    std::fflush(stderr);

    QGuiApplication app(argc, argv);
    AppStartup::configureApplication(app);
    // A supervisor that restarted it would only show the same again: it is
    // kept, and kept alive, until stopped.
    Heartbeat heartbeat;
    QQmlApplicationEngine engine;
    engine.setInitialProperties({{QStringLiteral("message"), shown}});
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/qv4App/ServiceScreen.qml")));
    if (engine.rootObjects().isEmpty())
        return 2;
    return QGuiApplication::exec();
}

} // namespace ServiceScreen
