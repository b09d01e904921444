// Renders the real display window in each of its states and saves PNGs.
// Drives the display the way a terminal does: over a WebSocket on 127.0.0.1.
// Usage: qv4screenshots <output dir> [display option]... <promo picture>...
// With --screen, each picture is the whole desktop: the other monitors too.
#include "core/AppCore.h"
#include "core/AppStartup.h"
#include "core/CommandLine.h"
#include "kiosk/ScreenChoice.h"
#include "network/NetworkService.h"
#include "state/AppEnv.h"
#include "state/ReceiptItemModel.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QScreen>
#include <QUrl>
#include <QWebSocket>

#include <ZXing/ReadBarcode.h>

#include <cstdio>
#include <functional>

namespace {

int g_warnings = 0;
QtMessageHandler g_previousHandler = nullptr;

// A screenshot of a window that logged a QML warning is not one to publish.
// The display's own diagnostics (a terminal connected, the open port) are
// what it says to every integrator, not a fault of the window.
void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool ours = context.category && qstrncmp(context.category, "qv4.", 4) == 0;
    if (type != QtDebugMsg && type != QtInfoMsg && !ours)
        ++g_warnings;
    g_previousHandler(type, context, message);
}

QObject *findByName(QObject *root, const QString &name)
{
    if (!root)
        return nullptr;
    if (root->objectName() == name)
        return root;
    QList<QObject *> next = root->children();
    if (auto *item = qobject_cast<QQuickItem *>(root)) {
        for (QQuickItem *child : item->childItems())
            next.append(child);
    }
    if (auto *window = qobject_cast<QQuickWindow *>(root))
        next.append(window->contentItem()->parentItem() ? window->contentItem()->parentItem()
                                                        : window->contentItem());
    for (QObject *child : std::as_const(next)) {
        if (QObject *found = findByName(child, name))
            return found;
    }
    return nullptr;
}

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QJsonObject recipeChange(const QString &name, double quantity)
{
    return {{"nomenclature", name}, {"quantity", quantity}};
}

QJsonObject line(const QString &uuid, const QString &name, double quantity, double price, double discount,
                 double total, const QJsonArray &changes = {})
{
    return {{"uuid", uuid},
            {"menu_name", name},
            {"quantity", quantity},
            {"menu_price", price},
            {"discount_amount", discount},
            {"discount_receipt", 0},
            {"total", total},
            {"receipt_item_recipe_changes", changes},
            {"receipt_uuid", "R-1042"}};
}

} // namespace

int main(int argc, char *argv[])
{
    g_previousHandler = qInstallMessageHandler(countingHandler);
    // The display reads the application's arguments as its own options: it is
    // given none, and the tool keeps its arguments to itself.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    int appArgc = 1;
    QGuiApplication app(appArgc, argv);
    AppStartup::configureApplication(app);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: qv4screenshots <output dir> [display option]... <promo picture>...\n");
        return 2;
    }
    const QDir out(args.at(1));
    QStringList displayOptions{args.at(0)};
    QStringList promoPictures;
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (!arg.startsWith(QLatin1String("--"))) {
            promoPictures << arg;
            continue;
        }
        displayOptions << arg;
        if ((arg == QLatin1String("--screen") || arg == QLatin1String("--scale")) && i + 1 < args.size())
            displayOptions << args.at(++i);
    }
    const CommandLine commandLine = CommandLine::parse(displayOptions);
    if (!commandLine.error.isEmpty() || !commandLine.ignored.isEmpty()) {
        std::fprintf(stderr, "qv4screenshots: display options: %s\n", qPrintable(displayOptions.join(u' ')));
        return 2;
    }

    NetworkService::setPortForTesting(0);
    AppCore core(commandLine);
    QQmlApplicationEngine engine;
    AppStartup::prepareEngine(engine, core, nullptr);
    ScreenChoice screenChoice(commandLine.screenName, commandLine.scale, core.appEnv()->useFullScreen());
    engine.setInitialProperties(screenChoice.initialProperties());
    AppStartup::loadMain(engine);
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    screenChoice.attach(window);

    int failures = 0;
    auto check = [&failures](bool ok, const char *what) {
        if (!ok) {
            std::fprintf(stderr, "FAILED: %s\n", what);
            ++failures;
        }
    };
    auto opened = [window](const char *name) {
        QObject *dialog = findByName(window, QString::fromLatin1(name));
        return dialog && dialog->property("opened").toBool();
    };
    auto shoot = [&](const QString &name) {
        // Spinner, fades and image loads come to rest, and a software
        // backdrop opened over a scene that just changed has made its
        // next check (every 500 ms) and shows the scene as it is now.
        settle(700);
        // The software scene graph's own grab repaints only what it counts
        // as changed; the X server's copy is what the customer sees.
        const bool software = window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
        QImage image;
        if (!commandLine.screenName.isEmpty()) {
            const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
            image = QGuiApplication::primaryScreen()
                        ->grabWindow(0, desktop.x(), desktop.y(), desktop.width(), desktop.height())
                        .toImage();
        } else {
            image = software ? window->screen()->grabWindow(window->winId()).toImage() : window->grabWindow();
        }
        const QString path = out.filePath(name + QStringLiteral(".png"));
        check(!image.isNull() && image.save(path), qPrintable(path));
        std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
        return image;
    };

    // Fixed sample addresses instead of this machine's; loopback first, as
    // the real list has it.
    if (QObject *waiting = findByName(window, QStringLiteral("waitingDialog")))
        QQmlProperty::write(waiting, QStringLiteral("appIp"),
                            QVariant::fromValue(QJsonArray{QJsonObject{{"address", "127.0.0.1"}},
                                                           QJsonObject{{"address", "192.168.1.10"}}}));

    check(waitFor([&] { return window->isExposed() && opened("waitingDialog"); }), "waiting dialog opens");
    shoot(QStringLiteral("01-waiting"));

    QWebSocket terminal;
    terminal.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(core.networkService()->serverPort())));
    // The display counts the terminal as connected before the terminal has
    // read the display's answer; a message sent before that is dropped.
    check(waitFor([&] {
              return terminal.state() == QAbstractSocket::ConnectedState && !opened("waitingDialog");
          }),
          "terminal connects");
    auto send = [&terminal](const QString &path, const QJsonObject &content) {
        terminal.sendBinaryMessage(QJsonDocument(QJsonObject{{"path", path}, {"content", content}}).toJson());
        terminal.flush();
    };

    send("app_logo", {{"logo", "qrc:/icons/logo.svg"}});
    check(waitFor([&] { return core.appEnv()->logo() == QLatin1String("qrc:/icons/logo.svg"); }), "logo set");
    // The logo loads in the background.
    QObject *logo = findByName(window, QStringLiteral("logoImage"));
    check(waitFor([&] { return logo && logo->property("status").toInt() == 1; }), "logo loads");
    shoot(QStringLiteral("02-welcome"));

    const QJsonArray lines{
        line("L1", "Капучино 0,3 л", 2, 18000, 1800, 32400,
             {recipeChange("Овсяное молоко", 1), recipeChange("Сироп карамель", 2),
              recipeChange("Корица", 1)}),
        line("L2", "Круассан с миндалём", 1, 21500, 0, 21500),
        line("L3", "Сэндвич с индейкой", 1, 34000, 3400, 30600,
             {recipeChange("Без лука", 1), recipeChange("Сыр чеддер", 2)}),
        line("L4", "Морс клюквенный 0,5 л", 1.5, 12000, 0, 18000),
        line("L5", "Чизкейк Нью-Йорк", 1, 29000, 0, 29000),
    };
    const QJsonObject guest{{"uuid", "G-77"},
                            {"client_name", "Анна"},
                            {"client_lastname", "Смирнова"},
                            {"discount_name", "Постоянный гость"},
                            {"discount_percent", 1000},
                            {"bonus_count", 154320}};
    const QJsonObject order{{"to_payment", 131500}, {"discount", 5200}, {"discount_percent", 0.038}};
    send("order", {{"receipt_items", lines}, {"order", order}, {"guest", guest}});
    check(waitFor([&] { return core.appEnv()->client()->uuid == QLatin1String("G-77"); }), "order shown");
    shoot(QStringLiteral("03-receipt"));

    send("bonus", {{"count", 4000}, {"is_replenisment", false}});
    send("bonus", {{"count", 1315}, {"is_replenisment", true}});
    check(waitFor([&] { return core.appEnv()->order()->replenishmentBonus == 1315; }), "bonuses shown");
    shoot(QStringLiteral("04-totals-bonuses"));

    send("payment", {{"amount", 127500}, {"receipt_uuid", "R-1042"}});
    check(waitFor([&] { return opened("paymentDialog"); }), "card payment dialog opens");
    shoot(QStringLiteral("05-payment-card"));

    const QString qrText = QStringLiteral("https://qr.example.com/pay?sum=127500&cur=RUB&order=R-1042");
    send("payment", {{"amount", 127500}, {"receipt_uuid", "R-1042"}, {"qrcode_table", qrText}});
    check(waitFor([&] { return opened("qrPaymentDialog") && !opened("paymentDialog"); }), "QR dialog opens");
    const QImage qrShot = shoot(QStringLiteral("06-payment-qr"));
    {
        const QImage gray = qrShot.convertToFormat(QImage::Format_Grayscale8);
        const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                    int(gray.bytesPerLine()));
        const ZXing::Result result =
            ZXing::ReadBarcode(view, ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
        const QString decoded = QString::fromStdString(result.text());
        std::printf("QR on screen decodes to: %s\n", qPrintable(decoded));
        check(result.isValid() && decoded == qrText, "QR code on screen decodes to the payment text");
    }

    // Paid: the dialog gives way to the thanks, which go by themselves.
    send("payment", {{"is_finished", true}, {"result", "success"}});
    check(waitFor([&] { return !opened("qrPaymentDialog") && opened("paymentOutcomeDialog"); }),
          "the QR dialog gives way to the outcome");
    shoot(QStringLiteral("21-payment-success"));
    check(waitFor([&] { return !opened("paymentOutcomeDialog"); }, 8000), "the outcome goes after its 5 s");

    QJsonArray promos;
    for (int i = 0; i < promoPictures.size(); ++i) {
        promos.append(QJsonObject{{"uuid", QStringLiteral("P-%1").arg(i + 1)},
                                  {"name", QStringLiteral("Promo %1").arg(i + 1)},
                                  {"is_active", true},
                                  {"is_order_screen", true},
                                  {"image", QUrl::fromLocalFile(promoPictures.at(i)).toString()},
                                  {"timeout", 8}});
    }
    send("promo_image", {{"promo_images", promos}});
    if (!promos.isEmpty()) {
        check(waitFor([&] { return core.appEnv()->promoImagesToShow().size() == promos.size(); }),
              "promo pictures published");
        QObject *main = findByName(window, QStringLiteral("mainImage"));
        check(waitFor([&] { return main && main->property("status").toInt() == 1; }), "promo picture loads");
        shoot(QStringLiteral("07-slideshow"));
    }

    // A long receipt rung up line by line, at the terminal's pace: the newest
    // line stays in view. The cashier starts a new receipt first.
    const QStringList dishes{QStringLiteral("Американо 0,3 л"),
                             QStringLiteral("Латте 0,4 л"),
                             QStringLiteral("Круассан"),
                             QStringLiteral("Сырники"),
                             QStringLiteral("Морс клюквенный 0,5 л"),
                             QStringLiteral("Эклер")};
    QJsonArray longReceipt;
    for (int i = 0; i < 30; ++i) {
        QJsonObject next = line(QStringLiteral("N%1").arg(i + 1),
                                QStringLiteral("%1. %2").arg(i + 1).arg(dishes.at(i % dishes.size())), 1,
                                15000 + 1000 * (i % 7), 0, 15000 + 1000 * (i % 7),
                                i % 4 == 1 ? QJsonArray{recipeChange("Сироп ваниль", 1)} : QJsonArray{});
        next.insert(QStringLiteral("receipt_uuid"), QStringLiteral("R-1043"));
        longReceipt.append(next);
        send("order",
             {{"receipt_items", longReceipt},
              {"order", QJsonObject{{"to_payment", 510000}, {"discount", 0}, {"discount_percent", 0}}},
              {"guest", QJsonObject{}}});
        waitFor([&] { return core.appEnv()->receiptItemModel()->rowCount() == longReceipt.size(); });
        settle(60);
    }
    shoot(QStringLiteral("08-receipt-30-lines"));

    // The largest figures the terminal can send: nothing overlaps, nothing
    // leaves its panel.
    const double most = 9999999999.0;
    QJsonObject big = line(QStringLiteral("B1"), QStringLiteral("Банкетное меню"), 999, most, 1, most);
    big.insert(QStringLiteral("receipt_uuid"), QStringLiteral("R-1044"));
    send("order",
         {{"receipt_items", QJsonArray{big}},
          {"order", QJsonObject{{"to_payment", most}, {"discount", most}, {"discount_percent", 0.1234}}},
          {"guest", QJsonObject{{"uuid", "G-78"},
                                {"client_name", "Анна"},
                                {"client_lastname", "Смирнова"},
                                {"discount_name", "Постоянный гость"},
                                {"discount_percent", 1000},
                                {"bonus_count", most}}}});
    check(waitFor([&] { return core.appEnv()->client()->uuid == QLatin1String("G-78"); }),
          "extreme order shown");
    send("bonus", {{"count", 2147483647}, {"is_replenisment", false}});
    check(waitFor([&] { return core.appEnv()->order()->expenseBonusCount != 0; }), "extreme bonuses shown");
    shoot(QStringLiteral("09-extreme-amounts"));

    // The longest texts a terminal sends, and one that tries to turn the
    // display's own text around: each stays in its panel, elided or on two lines.
    const QString longName = QStringLiteral("Капучино на кокосовом молоке с двойной порцией эспрессо, "
                                            "карамельным сиропом и корицей");
    QJsonObject wordy =
        line(QStringLiteral("W1"), longName, 1, 42000, 0, 42000,
             {recipeChange(QStringLiteral("Сироп солёная карамель с морской солью и ванилью"), 1),
              recipeChange(QStringLiteral("Без сахара"), 1)});
    wordy.insert(QStringLiteral("receipt_uuid"), QStringLiteral("R-1045"));
    send(
        "order",
        {{"receipt_items", QJsonArray{wordy}},
         {"order", QJsonObject{{"to_payment", 42000}, {"discount", 4200}, {"discount_percent", 0.1}}},
         {"guest", QJsonObject{{"uuid", "G-79"},
                               {"client_name", "Александра-Виктория"},
                               {"client_lastname", "Константинопольская-Преображенская"},
                               {"discount_name", QStringLiteral("\u202EПрограмма лояльности «Друзья кофейни» "
                                                                "для постоянных гостей сети")},
                               {"discount_percent", 1000},
                               {"bonus_count", 98765432}}}});
    check(waitFor([&] { return core.appEnv()->client()->uuid == QLatin1String("G-79"); }),
          "long texts shown");
    shoot(QStringLiteral("11-long-texts"));

    // A long payment text: drawn larger, at whole pixels a module, and still read from the screen.
    QString longQr =
        QStringLiteral("https://qr.nspk.ru/AS1000670LSS7DN18SJQDNP4B05KLJL2?type=01&bank=100000000001"
                       "&sum=127500&cur=RUB&crc=C08B");
    while (longQr.size() < 300)
        longQr += QStringLiteral("&p%1=%2").arg(longQr.size()).arg(longQr.size() * 7919 % 100000);
    longQr.truncate(300);
    send("payment", {{"amount", 127500}, {"receipt_uuid", "R-1045"}, {"qrcode_table", longQr}});
    check(waitFor([&] { return opened("qrPaymentDialog"); }), "QR dialog opens for a long text");
    {
        const QImage gray =
            shoot(QStringLiteral("12-payment-qr-300-characters")).convertToFormat(QImage::Format_Grayscale8);
        const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                    int(gray.bytesPerLine()));
        const ZXing::Result result =
            ZXing::ReadBarcode(view, ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
        check(result.isValid() && QString::fromStdString(result.text()) == longQr,
              "a 300-character QR code on screen decodes to the payment text");
    }
    send("payment", {{"amount", 127500}, {"receipt_uuid", "R-1045"}, {"qrcode_table", QString(3000, u'a')}});
    check(waitFor([&] {
              QObject *missing = findByName(window, QStringLiteral("qrMissingLabel"));
              return missing && missing->property("visible").toBool();
          }),
          "the dialog says a code too long cannot be shown");
    shoot(QStringLiteral("13-payment-qr-too-long"));
    send("payment", {{"is_finished", true}, {"result", "declined"}});
    check(waitFor([&] { return !opened("qrPaymentDialog") && opened("paymentOutcomeDialog"); }),
          "the QR dialog gives way to the outcome");
    shoot(QStringLiteral("22-payment-declined"));

    terminal.close();
    check(waitFor([&] { return opened("waitingDialog"); }), "waiting dialog reopens on disconnect");
    // A machine with many interfaces: the card holds them all, or says how many more.
    if (QObject *waiting = findByName(window, QStringLiteral("waitingDialog"))) {
        QJsonArray many;
        for (const char *address : {"192.168.1.20", "10.0.0.5", "172.17.0.1", "10.8.0.6", "192.168.122.1",
                                    "100.64.12.1", "169.254.3.3", "10.20.30.40"})
            many.append(QJsonObject{{"address", address}});
        QQmlProperty::write(waiting, QStringLiteral("appIp"), QVariant::fromValue(many));
        shoot(QStringLiteral("14-waiting-many-addresses"));
    }
    if (g_warnings > 0)
        std::fprintf(stderr, "FAILED: %d warnings in the log\n", g_warnings);
    return failures == 0 && g_warnings == 0 ? 0 : 1;
}
