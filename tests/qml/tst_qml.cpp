#include "core/AppCore.h"
#include "core/AppStartup.h"
#include "pictures/QrCodeImage.h"
#include "state/Client.h"
#include "state/Order.h"
#include "state/ReceiptItemModel.h"

#include <QCoreApplication>
#include <QHostAddress>
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

// The display's core as main() makes it, to show Main with. It listens on a
// free port and takes terminals from this machine alone; the addresses it
// lists are the test's. What the services would change goes through the
// writers they use.
class TestCore : public AppCore
{
    Q_OBJECT
public:
    explicit TestCore(QObject *parent = nullptr)
        : AppCore(CommandLine::parse({QStringLiteral("tst_qml"), QStringLiteral("--allow-terminal"),
                                      QStringLiteral("127.0.0.1")}),
                  parent)
    {
        networkService()->setAddressSource([this] { return m_addresses; });
    }

    Q_INVOKABLE void setUseFullScreen(bool value) { appEnv()->setUseFullScreen(value); }
    Q_INVOKABLE void setLogo(const QString &url) { appEnv()->setLogo(url); }
    Q_INVOKABLE void setPromoImagesToShow(const QJsonArray &entries)
    {
        appEnv()->setPromoImagesToShow(entries);
    }
    Q_INVOKABLE void setPaymentOutcome(const QString &outcome) { appEnv()->setPaymentOutcome(outcome); }
    Q_INVOKABLE void loadReceipt(const QJsonArray &lines) { appEnv()->receiptItemModel()->update(lines); }
    // Listed at the next poll of the machine's addresses.
    Q_INVOKABLE void setAddresses(const QStringList &addresses)
    {
        m_addresses.clear();
        for (const QString &address : addresses)
            m_addresses.append(QHostAddress(address));
    }

private:
    QList<QHostAddress> m_addresses;
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
        // A core made by a test listens on a free port and reads the addresses often.
        NetworkService::setPortForTesting(0);
        NetworkService::Timing timing;
        timing.addressPollInterval = std::chrono::milliseconds(20);
        NetworkService::setTimingForTesting(timing);
        qmlRegisterType<TestCore>("qv4Test", 1, 0, "Core");
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
