#include "core/AppStartup.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <QtQuickTest>

// Documents of the module are reached through qrc:/qt/qml, as the display does.
class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable() { AppStartup::configureApplication(*QCoreApplication::instance()); }
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        AppStartup::addImageProviders(*engine);
    }
};

QUICK_TEST_MAIN_WITH_SETUP(qv4qml, Setup)

#include "tst_qml.moc"
