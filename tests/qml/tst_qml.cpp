#include "core/AppStartup.h"
#include "pictures/QrCodeImage.h"
#include "state/Client.h"
#include "state/Order.h"
#include "state/ReceiptItemModel.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QQmlEngine>
#include <QtQuickTest>

// The display's receipt line model, fed as an "order" message feeds it.
class TestReceiptModel : public ReceiptItemModel
{
    Q_OBJECT
public:
    Q_INVOKABLE void load(const QJsonArray &lines) { update(lines); }
};

// Payment codes as the display makes them (only those are served).
class TestQr : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QString dataUrl(const QString &text) const { return QrCodeImage::dataUrl(text); }
};

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
        qmlRegisterType<TestReceiptModel>("qv4Test", 1, 0, "ReceiptModel");
        // The records the display hands its panels, made by a test to fill.
        qmlRegisterType<Order>("qv4Test", 1, 0, "OrderRecord");
        qmlRegisterType<Client>("qv4Test", 1, 0, "ClientRecord");
        qmlRegisterSingletonType<TestQr>("qv4Test", 1, 0, "Qr",
                                         [](QQmlEngine *, QJSEngine *) -> QObject * { return new TestQr; });
    }
};

QUICK_TEST_MAIN_WITH_SETUP(qv4qml, Setup)

#include "tst_qml.moc"
