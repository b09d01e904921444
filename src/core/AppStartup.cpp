#include "AppStartup.h"

#include "AppCore.h"
#include "pictures/QrCodeImageProvider.h"
#include "pictures/QuotedUrlCut.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlNetworkAccessManagerFactory>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(qv4AppPlugin)

namespace AppStartup {

void configureApplication(QCoreApplication &app)
{
    QCoreApplication::setOrganizationName(QStringLiteral("QUORVEX"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quorvex.example"));
    QCoreApplication::setApplicationName(QStringLiteral("QUORVEX ORDER SCREEN"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QV4_VERSION));

    app.setProperty("VERSION_CODE", QStringLiteral(QV4_VERSION_CODE));
    // Qt's own warnings quote a picture's address whole, data: URLs too.
    QuotedUrlCut::install();
    app.setProperty("SHORT_APP_NAME", QString(""));
    app.setProperty("LONG_APP_NAME", QString(""));

    // Qt Quick packs small images into one texture atlas, by default as large
    // as the window rounded up to powers of two (8 MB at 1280x776, 16 MB full
    // screen at 1920x1080), and in system memory where OpenGL is software.
    // Ours (icons, spinner, logo, QR code) fill about a third of 512x512;
    // anything over 256 pixels gets a texture of its own either way.
    for (const char *name : {"QSG_ATLAS_WIDTH", "QSG_ATLAS_HEIGHT"}) {
        if (!qEnvironmentVariableIsSet(name))
            qputenv(name, QByteArrayLiteral("512"));
    }

    // On X11 Qt waits 5 ms after a change before it starts drawing, to batch
    // changes that come in quick succession. Ours come one message at a time
    // and the customer waits for each: draw at once. Read at the first
    // redraw, so setting it here, before any window, is in time.
    if (!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", QByteArrayLiteral("0"));
}

void prepareEngine(QQmlApplicationEngine &engine, AppCore &core, QQmlNetworkAccessManagerFactory *factory)
{
    engine.addImportPath(QStringLiteral("qrc:/"));
    // Qt 6.4 does not look in the module resource prefix by default.
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.rootContext()->setContextProperty(QStringLiteral("appCore"), &core);
    engine.setNetworkAccessManagerFactory(factory);
    // Pictures are fetched ahead into the same disk cache the interface reads.
    if (factory)
        core.pictures()->setNetworkAccessManager(factory->create(core.pictures()));
    addImageProviders(engine);
}

void addImageProviders(QQmlEngine &engine)
{
    engine.addImageProvider(QLatin1String(QrCodeImageProvider::name), new QrCodeImageProvider);
}

void loadMain(QQmlApplicationEngine &engine)
{
    // The window's QVFonts registers the Onest font; registered once a window
    // exists, a font makes that window lay out all its texts again before the
    // first frame. A QVFonts made beforehand registers it first, and the
    // window's own then finds it registered (a font file is loaded once).
    QQmlComponent fonts(&engine, QUrl(QStringLiteral("qrc:/qt/qml/qv4App/QVUI/Shared/QVFonts.qml")));
    if (QObject *holder = fonts.create())
        holder->setParent(&engine);

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule("qv4App", "Main");
#else
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/qv4App/Main.qml")));
#endif
}

} // namespace AppStartup
