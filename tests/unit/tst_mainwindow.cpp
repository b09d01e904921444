// Loads the real Main through the application's start-up path with a real
// AppCore and drives it as a terminal does, over a WebSocket on 127.0.0.1.
// Any QML warning or binding error along the way fails the test.
#include "QrDecode.h"
#include "core/AppCore.h"
#include "core/AppStartup.h"
#include "network/NetworkService.h"

#include <QColor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

#include <memory>

namespace {

QMutex g_messagesMutex;
QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

void recordingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Terminals coming and going are reported as link warnings, by design.
    const bool linkWarning = type == QtWarningMsg && qstrcmp(context.category, "qv4.link") == 0;
    if (type != QtDebugMsg && type != QtInfoMsg && !linkWarning) {
        QMutexLocker lock(&g_messagesMutex);
        g_messages.append(message);
    }
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

QStringList takeMessages()
{
    QMutexLocker lock(&g_messagesMutex);
    return std::exchange(g_messages, {});
}

void collect(QObject *object, const QString &name, QList<QObject *> &found, QSet<QObject *> &seen)
{
    if (!object || seen.contains(object))
        return;
    seen.insert(object);
    if (object->objectName() == name)
        found.append(object);
    for (QObject *child : object->children())
        collect(child, name, found, seen);
    if (auto *item = qobject_cast<QQuickItem *>(object)) {
        for (QQuickItem *child : item->childItems())
            collect(child, name, found, seen);
    }
}

QJsonObject line(const QString &uuid, const QString &name, double quantity, double price, double discount,
                 double total, const QJsonArray &changes)
{
    return {{"uuid", uuid},
            {"menu_name", name},
            {"quantity", quantity},
            {"menu_price", price},
            {"discount_amount", discount},
            {"discount_receipt", 0},
            {"total", total},
            {"receipt_item_recipe_changes", changes},
            {"receipt_uuid", "R-1"}};
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fontRegisteredBeforeTheWindow();
    void waitingForATerminal();
    void busyPortAtStart();
    void nothingHiddenIsBuiltAtStart_data();
    void nothingHiddenIsBuiltAtStart();
    void terminalConnects();
    void orderWithClientAndRecipeChanges();
    void cardPayment();
    void qrPayment();
    void qrDecodesFromTheScreen_data();
    void qrDecodesFromTheScreen();
    void paymentFinished();
    void promoPictures();
    void terminalDisconnects();
    void cleanupTestCase();

    void cleanup() { expectNoWarnings(); }

private:
    QList<QObject *> findAll(const QString &name) const;
    QObject *find(const QString &name) const;
    bool opened(const QString &dialog) const { return find(dialog)->property("opened").toBool(); }
    // Without the marks that isolate the terminal's texts.
    QString text(const QString &name) const
    {
        return find(name)->property("text").toString().remove(QChar(0x2068)).remove(QChar(0x2069));
    }
    int contentStatus(const QString &dialog) const;
    void send(const QString &path, const QJsonObject &content);
    void expectNoWarnings();

    QTemporaryDir m_dir;
    int m_fontRegistrations = 0;
    int m_fontRegistrationsWithAWindow = 0;
    std::unique_ptr<AppCore> m_core;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    QWebSocket m_terminal;
    QTcpServer m_portHolder; // another program on the display's port, at start
    QStringList m_startMessages;
};

QList<QObject *> tst_MainWindow::findAll(const QString &name) const
{
    QList<QObject *> found;
    QSet<QObject *> seen;
    collect(m_window, name, found, seen);
    collect(m_window->contentItem()->parentItem(), name, found, seen);
    return found;
}

QObject *tst_MainWindow::find(const QString &name) const
{
    const QList<QObject *> found = findAll(name);
    if (found.isEmpty())
        qFatal("no object named %s", qPrintable(name));
    return found.constFirst();
}

void tst_MainWindow::send(const QString &path, const QJsonObject &content)
{
    m_terminal.sendBinaryMessage(QJsonDocument(QJsonObject{{"path", path}, {"content", content}}).toJson());
    m_terminal.flush();
}

void tst_MainWindow::expectNoWarnings()
{
    const QStringList messages = takeMessages();
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

void tst_MainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    g_previousHandler = qInstallMessageHandler(recordingHandler);
    AppStartup::configureApplication(*QCoreApplication::instance());

    QVERIFY(m_portHolder.listen(QHostAddress::Any, 0));
    NetworkService::setPortForTesting(m_portHolder.serverPort());
    m_core = std::make_unique<AppCore>(); // starts its services
    QVERIFY(!m_core->networkService()->isListening());
    m_startMessages = takeMessages();

    m_engine = std::make_unique<QQmlApplicationEngine>();
    AppStartup::prepareEngine(*m_engine, *m_core, nullptr);
    const QMetaObject::Connection fonts =
        connect(qGuiApp, &QGuiApplication::fontDatabaseChanged, this, [this] {
            ++m_fontRegistrations;
            if (!QGuiApplication::allWindows().isEmpty())
                ++m_fontRegistrationsWithAWindow;
        });
    AppStartup::loadMain(*m_engine);
    disconnect(fonts);
    QCOMPARE(m_engine->rootObjects().size(), 1);
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    expectNoWarnings();
}

void tst_MainWindow::fontRegisteredBeforeTheWindow()
{
    QVERIFY(QFontDatabase::families().contains(QStringLiteral("Onest")));
    QVERIFY(m_fontRegistrations > 0);
    // One registered later would have the window lay out every text again.
    QCOMPARE(m_fontRegistrationsWithAWindow, 0);
}

void tst_MainWindow::waitingForATerminal()
{
    QTRY_VERIFY(opened("waitingDialog"));
    QVERIFY(!opened("paymentDialog"));
    QVERIFY(!opened("qrPaymentDialog"));
    QCOMPARE(findAll("waitingAddress").size(), m_core->networkService()->avaliableIps().size());
    QCOMPARE(text("waitingTitle"), QStringLiteral("Ожидание подключения"));
    // The port the display listens on, under the addresses.
    QCOMPARE(text("waitingPort"), QStringLiteral("порт %1").arg(m_core->networkService()->port()));
    QCOMPARE(text("versionLabel"), QStringLiteral("Версия приложения 1.1.0-29-stable"));
    QVERIFY(find("welcomeView")->property("visible").toBool());
    QVERIFY(!find("totalsRow")->property("visible").toBool());
}

int tst_MainWindow::contentStatus(const QString &dialog) const
{
    auto *content = find(dialog)->property("contentItem").value<QQuickItem *>();
    QObject *loader = content ? content->findChild<QObject *>(QStringLiteral("dialogContent")) : nullptr;
    return loader ? loader->property("status").toInt() : -1;
}

void tst_MainWindow::busyPortAtStart()
{
    NetworkService *service = m_core->networkService();
    const QString port = QString::number(m_portHolder.serverPort());
    QCOMPARE(m_startMessages.size(), 1);
    QCOMPARE(m_startMessages.first(), "cannot listen on port " + port +
                                          ": The bound address is already in use; trying again every 2 s");
    QObject *line = find(QStringLiteral("waitingPortProblem"));
    QVERIFY(line->property("visible").toBool());
    QCOMPARE(line->property("text").toString(), "Порт " + port + " занят");
    QVERIFY(opened("waitingDialog"));

    // The other program goes (a previous instance shutting down): the display listens, the line goes.
    m_portHolder.close();
    QTRY_VERIFY_WITH_TIMEOUT(service->isListening(), 3000);
    QCOMPARE(int(service->serverPort()), service->port());
    QVERIFY(!line->property("visible").toBool());
}

void tst_MainWindow::nothingHiddenIsBuiltAtStart_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::newRow("card payment dialog") << QStringLiteral("paymentDialog");
    QTest::newRow("QR payment dialog") << QStringLiteral("qrPaymentDialog");
}

void tst_MainWindow::nothingHiddenIsBuiltAtStart()
{
    QFETCH(QString, dialog);
    QCOMPARE(contentStatus(dialog), 0); // Loader.Null: built on the first payment
    // The offscreen platform draws no shader effects: no blur, no effects module.
    const QList<QObject *> blurs = findAll(QStringLiteral("blurEffect"));
    QVERIFY(!blurs.isEmpty());
    for (QObject *blur : blurs)
        QCOMPARE(blur->property("status").toInt(), 0);
}

void tst_MainWindow::terminalConnects()
{
    m_terminal.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_core->networkService()->serverPort())));
    QTRY_VERIFY(m_terminal.state() == QAbstractSocket::ConnectedState);
    QTRY_VERIFY(!opened("waitingDialog"));
}

void tst_MainWindow::orderWithClientAndRecipeChanges()
{
    const QJsonArray lines{
        line("L1", "Капучино", 2, 15000, 1500, 27000,
             {QJsonObject{{"nomenclature", "Сыр"}, {"quantity", 2}},
              QJsonObject{{"nomenclature", "Лук"}, {"quantity", 1}}}),
        line("L2", "Круассан", 1.5, 20000, 0, 30000, {}),
    };
    const QJsonObject guest{{"uuid", "G-1"},
                            {"client_name", "Иван"},
                            {"client_lastname", "Петров"},
                            {"discount_name", "Постоянный"},
                            {"discount_percent", 500},
                            {"bonus_count", 12345}};
    send("order",
         {{"receipt_items", lines},
          {"order", QJsonObject{{"to_payment", 57000}, {"discount", 3000}, {"discount_percent", 0.05}}},
          {"guest", guest}});

    QTRY_COMPARE(find("receiptList")->property("count").toInt(), 2);
    QTRY_VERIFY(find("receiptView")->property("visible").toBool());
    QVERIFY(!find("welcomeView")->property("visible").toBool());
    QTRY_COMPARE(text("clientNameLabel"), QStringLiteral("Иван Петров"));
    QVERIFY(find("clientInfoView")->property("visible").toBool());
    QCOMPARE(text("clientBonusLabel"), QStringLiteral("123,45"));
    QCOMPARE(text("clientDiscountLabel"), QStringLiteral("Постоянный (5 %)"));
    QCOMPARE(text("toPayLabel"), QStringLiteral("570,00"));
    QCOMPARE(text("discountLabel"), QStringLiteral("5% (30,00)"));

    QTRY_COMPARE(findAll("recipeChip").size(), 2);
    QStringList chips;
    for (QObject *chip : findAll("recipeChip"))
        chips << chip->property("text").toString();
    chips.sort();
    QCOMPARE(chips, (QStringList{QStringLiteral("Лук x1"), QStringLiteral("Сыр x2")}));

    QStringList prices;
    for (QObject *label : findAll("unitPriceLabel"))
        prices << label->property("text").toString();
    prices.sort();
    QCOMPARE(prices, (QStringList{QStringLiteral("1.5 x 200,00"), QStringLiteral("2 x 150,00")}));
    for (QObject *label : findAll("totalLabel")) {
        const bool discounted = label->property("text").toString() == QLatin1String("270,00");
        QCOMPARE(label->property("color").value<QColor>(), QColor(discounted ? "#64CC64" : "#FFFFFF"));
    }

    // The next order drops the client and changes the recipe.
    send("order",
         {{"receipt_items", QJsonArray{line("L1", "Капучино", 1, 15000, 0, 15000,
                                            {QJsonObject{{"nomenclature", "Сироп"}, {"quantity", 3}}})}},
          {"order", QJsonObject{{"to_payment", 15000}}},
          {"guest", QJsonObject{}}});
    QTRY_VERIFY(!find("clientInfoView")->property("visible").toBool());
    QTRY_COMPARE(findAll("recipeChip").size(), 1);
    QCOMPARE(find("recipeChip")->property("text").toString(), QStringLiteral("Сироп x3"));
    QCOMPARE(text("toPayLabel"), QStringLiteral("150,00"));

    send("bonus", {{"count", 5000}});
    QTRY_VERIFY(find("bonusColumn")->property("visible").toBool());
    QCOMPARE(text("bonusLabel"), QStringLiteral("-50,00"));
}

void tst_MainWindow::cardPayment()
{
    send("payment", {{"amount", 15000}, {"receipt_uuid", "R-1"}});
    QTRY_VERIFY(opened("paymentDialog"));
    QVERIFY(!opened("qrPaymentDialog"));
    QCOMPARE(contentStatus("paymentDialog"), 1); // Loader.Ready
    QCOMPARE(contentStatus("qrPaymentDialog"), 0);
    QCOMPARE(text("paymentAmount"), QStringLiteral("150,00"));
    QVERIFY(!opened("waitingDialog"));
}

void tst_MainWindow::qrPayment()
{
    // The code must be there for the dialog's first frame: ready as soon as
    // the window opened the dialog, before any frame is drawn. Past the
    // 100 ms that paces openings after the card dialog's, it opens at once.
    QTest::qWait(150);
    int statusWhenOpened = -1;
    const QMetaObject::Connection shown = connect(m_core->appEnv(), &AppEnv::showQRPaymentDialog, this, [&] {
        statusWhenOpened = find("qrImage")->property("status").toInt();
    });
    send("bonus", {{"count", 1500}, {"is_replenisment", true}});
    send("payment",
         {{"amount", 15000}, {"receipt_uuid", "R-1"}, {"qrcode_table", "https://qr.example.com/p?s=15000"}});
    QTRY_VERIFY(opened("qrPaymentDialog"));
    disconnect(shown);
    QVERIFY(!opened("paymentDialog"));
    QObject *image = find("qrImage");
    QVERIFY(image->property("source").toString().startsWith(QLatin1String("image://qrcode/")));
    QCOMPARE(statusWhenOpened, 1); // Image.Ready: the PNG decoded on the spot
    QVERIFY(find("qrFrame")->property("visible").toBool());

    QStringList values;
    for (QObject *value : findAll("summaryValue"))
        values << value->property("text").toString();
    values.sort();
    QCOMPARE(values,
             (QStringList{QStringLiteral("0,00"), QStringLiteral("15,00"), QStringLiteral("150,00")}));

    // The same request again changes nothing about which dialog is open.
    send("payment",
         {{"amount", 15000}, {"receipt_uuid", "R-1"}, {"qrcode_table", "https://qr.example.com/p?s=15000"}});
    QTest::qWait(50);
    QVERIFY(opened("qrPaymentDialog"));
    QVERIFY(!opened("paymentDialog"));
}

// Real payment links, 100 to 300 characters, read from the window as a
// phone would read them, on the designed screen and on a small one.
void tst_MainWindow::qrDecodesFromTheScreen_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<int>("length");
    for (const QSize size : {QSize(1280, 776), QSize(800, 480)}) {
        for (const int length : {100, 200, 300})
            QTest::addRow("%d characters at %dx%d", length, size.width(), size.height()) << size << length;
    }
}

void tst_MainWindow::qrDecodesFromTheScreen()
{
    QFETCH(QSize, window);
    QFETCH(int, length);
    QString text =
        QStringLiteral("https://qr.nspk.ru/AS1000670LSS7DN18SJQDNP4B05KLJL2?type=01&bank=100000000001");
    while (text.size() < length)
        text += QStringLiteral("&k%1=%2").arg(text.size()).arg(text.size() * 7919 % 100000);
    text.truncate(length);
    m_window->resize(window);
    QTRY_COMPARE(m_window->contentItem()->size().toSize(), window);
    send("payment", {{"amount", 15000}, {"receipt_uuid", "R-1"}, {"qrcode_table", text}});
    QTRY_VERIFY(opened("qrPaymentDialog"));
    QObject *image = find("qrImage");
    QTRY_COMPARE(image->property("status").toInt(), 1);
    QTest::qWait(100); // drawn at its size
    const ZXing::Result read = decodeQr(m_window->grabWindow());
    m_window->resize(1280, 776);
    QVERIFY2(read.isValid(), ZXing::ToString(read.error()).c_str());
    QCOMPARE(QString::fromStdString(read.text()), text);
    const double modules = image->property("implicitWidth").toDouble();
    QVERIFY2(
        image->property("width").toDouble() / modules >= 3,
        qPrintable(
            QStringLiteral("%1 px for %2 modules").arg(image->property("width").toDouble()).arg(modules)));
}

void tst_MainWindow::paymentFinished()
{
    send("payment", {{"is_finished", true}});
    QTRY_VERIFY(!opened("qrPaymentDialog"));
    QVERIFY(!opened("paymentDialog"));
    QTRY_VERIFY(!find("qrFrame")->property("visible").toBool());
    QVERIFY(!opened("waitingDialog"));
}

void tst_MainWindow::promoPictures()
{
    QObject *main = find("mainImage");
    QCOMPARE(main->property("source").toUrl(), QUrl());

    QStringList urls;
    for (int i = 0; i < 2; ++i) {
        QImage picture(32, 18, QImage::Format_RGB32);
        picture.fill(i ? Qt::darkGreen : Qt::darkMagenta);
        const QString path = m_dir.filePath(QStringLiteral("promo-%1.png").arg(i));
        QVERIFY(picture.save(path));
        urls << QUrl::fromLocalFile(path).toString();
    }
    QJsonArray promos;
    for (int i = 0; i < urls.size(); ++i)
        promos.append(QJsonObject{{"uuid", QStringLiteral("P-%1").arg(i)},
                                  {"is_active", true},
                                  {"is_order_screen", true},
                                  {"image", urls.at(i)},
                                  {"timeout", 5}});
    send("promo_image", {{"promo_images", promos}});
    // Each shows once it has loaded.
    QTRY_COMPARE(main->property("source").toString(), urls.at(0));
    QTRY_COMPARE(find("nextImage")->property("source").toString(), urls.at(1));
    QTRY_COMPARE(main->property("status").toInt(), 1);
    QCOMPARE(find("promoImages")->property("showInterval").toInt(), 5000);

    // One cross-fade, so that the pictures are from then on assigned by it.
    QMetaObject::invokeMethod(find("promoImages"), "nextImage");
    QTRY_COMPARE(main->property("source").toString(), urls.at(1));
}

void tst_MainWindow::terminalDisconnects()
{
    send("payment", {{"amount", 100}});
    QTRY_VERIFY(opened("paymentDialog"));
    m_terminal.close();
    QTRY_VERIFY(opened("waitingDialog"));
    QVERIFY(!opened("paymentDialog"));
    QVERIFY(!opened("qrPaymentDialog"));
    QTRY_VERIFY(find("welcomeView")->property("visible").toBool());
    QCOMPARE(find("mainImage")->property("source").toUrl(), QUrl());
    QCOMPARE(find("nextImage")->property("source").toUrl(), QUrl());
    // The totals outlive the terminal.
    QVERIFY(find("totalsRow")->property("visible").toBool());
}

void tst_MainWindow::cleanupTestCase()
{
    m_engine.reset();
    m_core.reset();
    expectNoWarnings();
    qInstallMessageHandler(g_previousHandler);
}

QTEST_MAIN(tst_MainWindow)

#include "tst_mainwindow.moc"
